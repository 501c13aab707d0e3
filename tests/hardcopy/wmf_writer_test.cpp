// The writer's file layout: what other players rely on (header fields, checksum,
// object table size, record sizes).
#include <gtest/gtest.h>

#include "hardcopy/picture/metafile_reader.h"
#include "hardcopy/picture/wmf_writer.h"

namespace benchcap::wmf {
namespace {

uint32_t at32(const std::string& s, size_t i) {
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = (v << 8) | static_cast<unsigned char>(s[i + k]);
    return v;
}
uint16_t at16(const std::string& s, size_t i) {
    return static_cast<uint16_t>(static_cast<unsigned char>(s[i]) |
                                 (static_cast<unsigned char>(s[i + 1]) << 8));
}

TEST(WmfWriter, HeadersDescribeTheFile) {
    Writer w(640, 480, 96);
    w.pen(PS_SOLID, 1, rgb(1, 2, 3));  // pen 0
    w.brush(rgb(4, 5, 6));             // brush 1
    w.pen(PS_DASH, 0, rgb(7, 8, 9));   // new pen in slot 2, then pen 0 is deleted
    std::vector<Point> trace(1001);
    w.polyline(trace);
    const std::string bytes = w.finish();

    EXPECT_EQ(at32(bytes, 0), kPlaceableKey);
    EXPECT_EQ(at16(bytes, 10), 640);
    EXPECT_EQ(at16(bytes, 12), 480);
    EXPECT_EQ(at16(bytes, 14), 96);
    uint16_t sum = 0;
    for (size_t i = 0; i < 20; i += 2)
        sum ^= at16(bytes, i);
    EXPECT_EQ(at16(bytes, 20), sum);

    EXPECT_EQ(at16(bytes, 22), 1);                      // mtType
    EXPECT_EQ(at16(bytes, 24), 9);                      // mtHeaderSize
    EXPECT_EQ(at32(bytes, 28) * 2, bytes.size() - 22);  // mtSize in words
    EXPECT_EQ(at16(bytes, 32), 3);                      // objects alive at most
    EXPECT_EQ(at32(bytes, 34), 3u + 1 + 2 * 1001);      // the polyline is the largest record
    // The file ends with META_EOF.
    EXPECT_EQ(at32(bytes, bytes.size() - 6), 3u);
    EXPECT_EQ(at16(bytes, bytes.size() - 2), META_EOF);

    // Every record walks cleanly up to the end record.
    auto header = picture::parseMetafileHeader(bytes);
    ASSERT_TRUE(header.ok()) << header.error();
    picture::RecordWalker walker(bytes, header->recordsOffset);
    picture::Record r;
    while (walker.next(r)) {
    }
    EXPECT_EQ(walker.end(), picture::RecordWalker::End::EofRecord);
}

TEST(WmfWriter, CoordinatesAreClamped) {
    Writer c(100, 100);
    c.moveTo(100000, -100000);
    const std::string bytes = c.finish();
    // MoveTo is the last record before EOF: y then x.
    const size_t move = bytes.size() - 6 - 10;
    EXPECT_EQ(at16(bytes, move + 4), META_MOVETO);
    EXPECT_EQ(static_cast<int16_t>(at16(bytes, move + 6)), -32768);
    EXPECT_EQ(static_cast<int16_t>(at16(bytes, move + 8)), 32767);
}

TEST(WmfWriter, StretchDibHoldsA24BitBitmap) {
    Writer w(100, 100);
    w.stretchDib(10, 20, 30, 40, 3, 2, {1, 2, 3, 4, 5, 6});
    const std::string bytes = w.finish();
    const size_t record = bytes.size() - 6 - (3 + 11 + 20 + 12) * 2;
    EXPECT_EQ(at16(bytes, record + 4), META_STRETCHDIB);
    EXPECT_EQ(at32(bytes, record), 3u + 11 + 20 + 12);  // rows of 9 bytes padded to 12
    EXPECT_EQ(at16(bytes, record + 6 + 2 * 9), 20);     // top
    EXPECT_EQ(at16(bytes, record + 6 + 2 * 10), 10);    // left
    EXPECT_EQ(at32(bytes, record + 6 + 22 + 4), 3u);    // bitmap width
    // Bottom row first: pixel 4 (0x000004) in blue-green-red order.
    EXPECT_EQ(static_cast<unsigned char>(bytes[record + 6 + 22 + 40]), 0);
    EXPECT_EQ(static_cast<unsigned char>(bytes[record + 6 + 22 + 40 + 2]), 4);
}

}  // namespace
}  // namespace benchcap::wmf
