#include "hardcopy/generator_hardcopy.h"

#include <cstdint>
#include <fstream>

#include "bus/text.h"
#include "hardcopy/block_transfer.h"
#include "hardcopy/pending_file.h"

namespace benchcap::hardcopy {

namespace {

// The file size a bitmap file header announces ("BM" and a 32-bit little-endian size),
// or -1 when the file does not start like a bitmap.
int64_t announcedBitmapSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[6] = {};
    if (!in.read(reinterpret_cast<char*>(head), sizeof head))
        return -1;
    if (head[0] != 'B' || head[1] != 'M')
        return -1;
    return int64_t{head[2]} | (int64_t{head[3]} << 8) | (int64_t{head[4]} << 16) |
           (int64_t{head[5]} << 24);
}

}  // namespace

FileResult ReadGeneratorHardcopy(bus::Session& session, std::string_view localFile) {
    FileResult result;
    session.OpenDevice();
    session.IdentifyDevice();
    session.WriteDevice("HCOP:DATA?");

    PendingFile out;
    if (!out.open(std::string(bus::TrimBlanks(localFile)), result.error))
        return result;
    out.closeForOtherWriter();
    bus::GpibDriver& driver = session.driver();
    const int status = driver.ibrdf(session.instrument().DeviceHandle, out.tempPath());
    const int32_t got = driver.status().ibcntl;
    if (got <= 0) {
        result.error = (status & bus::ibsta_bits::TIMO)
                           ? "the generator sent no screen picture (time-out)"
                           : "the generator sent no screen picture";
        return result;
    }
    if (status & bus::ibsta_bits::TIMO) {
        // An answer cut off by the time-out is kept only when it is a whole bitmap.
        const int64_t announced = announcedBitmapSize(out.tempPath());
        if (announced < 0 || announced > got) {
            result.error = "the generator stopped sending its screen picture after " +
                           std::to_string(got) + " bytes (time-out)";
            return result;
        }
    } else if ((status & bus::ibsta_bits::ERR) && driver.status().iberr == bus::iberr_codes::EFSO) {
        result.error = "cannot write '" + out.target() + "'";
        return result;
    }
    if (!out.commit(result.error))
        return result;
    result.bytes = got;
    return result;
}

}  // namespace benchcap::hardcopy
