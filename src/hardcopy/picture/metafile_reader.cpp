#include "hardcopy/picture/metafile_reader.h"

#include "hardcopy/picture/wmf_records.h"

namespace benchcap::picture {
namespace {

uint16_t read16(std::string_view b, size_t at) {
    if (at + 2 > b.size())
        return 0;
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 (static_cast<unsigned char>(b[at + 1]) << 8));
}

uint32_t read32(std::string_view b, size_t at) {
    return static_cast<uint32_t>(read16(b, at)) | (static_cast<uint32_t>(read16(b, at + 2)) << 16);
}

bool standardHeaderAt(std::string_view b, size_t at) {
    if (at + wmf::kStandardHeaderBytes > b.size())
        return false;
    const uint16_t type = read16(b, at);
    const uint16_t headerWords = read16(b, at + 2);
    return (type == 1 || type == 2) && headerWords == wmf::kStandardHeaderBytes / 2;
}

}  // namespace

uint16_t Params::u16(size_t word) const {
    if (word >= words())
        return 0;
    return read16(bytes_, word * 2);
}

uint32_t Params::u32(size_t word) const {
    return static_cast<uint32_t>(u16(word)) | (static_cast<uint32_t>(u16(word + 1)) << 16);
}

uint8_t Params::u8(size_t byteOffset) const {
    return byteOffset < bytes_.size() ? static_cast<uint8_t>(bytes_[byteOffset]) : 0;
}

std::string_view Params::bytes(size_t byteOffset, size_t count) const {
    if (byteOffset >= bytes_.size())
        return {};
    return bytes_.substr(byteOffset, count);
}

bool looksLikeMetafile(std::string_view bytes) {
    if (bytes.size() >= 4 && read32(bytes, 0) == wmf::kPlaceableKey)
        return true;
    return standardHeaderAt(bytes, 0);
}

Result<MetafileHeader> parseMetafileHeader(std::string_view bytes) {
    if (bytes.empty())
        return fail("file is empty");
    MetafileHeader h;
    if (bytes.size() >= 4 && read32(bytes, 0) == wmf::kPlaceableKey) {
        if (bytes.size() < wmf::kPlaceableHeaderBytes + wmf::kStandardHeaderBytes)
            return fail("metafile is truncated inside its header");
        h.placeable = true;
        h.left = static_cast<int16_t>(read16(bytes, 6));
        h.top = static_cast<int16_t>(read16(bytes, 8));
        h.right = static_cast<int16_t>(read16(bytes, 10));
        h.bottom = static_cast<int16_t>(read16(bytes, 12));
        h.unitsPerInch = read16(bytes, 14);
        uint16_t sum = 0;
        for (size_t i = 0; i < 20; i += 2)
            sum ^= read16(bytes, i);
        h.checksumOk = sum == read16(bytes, 20);
        h.standardHeaderOffset = wmf::kPlaceableHeaderBytes;
    }
    if (!standardHeaderAt(bytes, h.standardHeaderOffset)) {
        return fail(bytes.size() < wmf::kStandardHeaderBytes && !h.placeable
                        ? "file is too short for a Windows metafile"
                        : "not a Windows metafile (no valid metafile header)");
    }
    // mtSize (the file's own length claim) is not trusted: real files get it wrong in
    // both directions. The walk is bounded by the bytes present instead.
    h.objectCount = read16(bytes, h.standardHeaderOffset + 10);
    h.recordsOffset = h.standardHeaderOffset + wmf::kStandardHeaderBytes;
    return h;
}

bool metafileDrawsText(std::string_view bytes) {
    const Result<MetafileHeader> header = parseMetafileHeader(bytes);
    if (!header)
        return false;
    RecordWalker walker(bytes, header->recordsOffset);
    for (Record r; walker.next(r);)
        if (r.function == wmf::META_TEXTOUT || r.function == wmf::META_EXTTEXTOUT)
            return true;
    return false;
}

bool RecordWalker::next(Record& record) {
    if (end_ != End::Running)
        return false;
    if (count_ >= kMaxRecords) {
        end_ = End::TooMany;
        return false;
    }
    if (offset_ + 6 > bytes_.size()) {
        end_ = offset_ >= bytes_.size() ? End::EndOfData : End::Truncated;
        return false;
    }
    const uint64_t words = read32(bytes_, offset_);
    const uint16_t function = read16(bytes_, offset_ + 4);
    if (function == wmf::META_EOF) {
        end_ = End::EofRecord;
        return false;
    }
    if (words < 3) {
        end_ = End::BadSize;
        return false;
    }
    if (words * 2 > bytes_.size() - offset_) {
        end_ = End::Truncated;
        return false;
    }
    record.function = function;
    record.offset = offset_;
    record.params = Params(bytes_.substr(offset_ + 6, static_cast<size_t>(words * 2 - 6)));
    offset_ += static_cast<size_t>(words * 2);
    ++count_;
    return true;
}

std::string RecordWalker::endProblem() const {
    const std::string at = " at byte " + std::to_string(offset_);
    switch (end_) {
        case End::Running:
        case End::EofRecord:
            return {};
        case End::EndOfData:
            return "metafile has no end record";
        case End::Truncated:
            return "metafile is truncated: the record" + at + " runs past the end of the file";
        case End::BadSize:
            return "metafile is damaged: invalid record size" + at;
        case End::TooMany:
            return "metafile has too many records; stopped" + at;
    }
    return {};
}

}  // namespace benchcap::picture
