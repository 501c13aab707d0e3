#include "hardcopy/block_transfer.h"

#include "base/output_file.h"
#include "bus/block_header.h"
#include "bus/identification.h"
#include "bus/text.h"

namespace benchcap::hardcopy {

namespace sta = bus::ibsta_bits;

void StartHardcopy(bus::Session& session, std::string_view instrumentFile, bool color,
                   std::string_view format, bool suppressConfig) {
    session.OpenDevice();
    session.IdentifyDevice();
    bus::CurrentInstrument& ci = session.instrument();
    if (!ci.IsReady)
        return;
    if (!suppressConfig) {
        session.WriteDevice("HCOPY:DEST1 'MMEM'");
        session.WriteDevice("HCOPY:DEV:LANG " + std::string(format));
        session.WriteDevice(color ? "HCOPY:DEV:COL ON" : "HCOPY:DEV:COL OFF");
    }
    session.WriteDevice("MMEM:NAME '" + std::string(bus::TrimBlanks(instrumentFile)) + "'");
    session.driver().ibtmo(ci.DeviceHandle, bus::timeout_codes::T30s);
    session.WriteDevice("SYST:DISP:UPD ON");
    session.WriteDevice("HCOPY:IMM1;*WAI");
}

Status checkAsTarget(const PictureCheck& check, const OutputFile& out) {
    Status checked = check(out.temporaryPath());
    if (checked)
        return checked;
    // The temporary name means nothing to the user; the file it was to become does.
    std::string why = checked.error();
    const std::string temporary = out.temporaryPath().string();
    if (why.rfind(temporary, 0) == 0)
        why = out.target().string() + why.substr(temporary.size());
    // A picture that does not read as one is data that are not what they should be.
    return fail(checked.errorKind() == ErrorKind::Other ? ErrorKind::BadData : checked.errorKind(),
                why);
}

Result<int64_t> TransferFile(bus::Session& session, std::string_view instrumentFile,
                             std::string_view localFile, const PictureCheck& check) {
    session.OpenDevice();
    session.IdentifyDevice();
    const bus::CurrentInstrument& ci = session.instrument();
    if (!ci.IsReady) {
        return fail(ci.ModelName == bus::kModelNoAnswer ? ErrorKind::TimedOut : ErrorKind::Refused,
                    "the instrument at GPIB " + std::to_string(ci.BusAddress) +
                        " did not identify itself (" + ci.ModelName + "); nothing was transferred");
    }
    const std::string name(bus::TrimBlanks(instrumentFile));
    session.WriteDevice("MMEM:DATA? '" + name + "'");
    if (session.driver().status().ibsta & sta::ERR) {
        return fail(ErrorKind::BusError, "the request for " + name +
                                             " did not reach the instrument (" +
                                             bus::driverErrorText(session.driver()) + ")");
    }
    const Result<int64_t> length = bus::ReadBlockHeader(session);
    if (!length) {
        if (length.errorKind() == ErrorKind::Interrupted)
            return length.failure();
        return fail(length.errorKind(), "no usable block for " + name + ": " + length.error());
    }
    // A picture of no bytes is no picture; the policy of trace blocks differs.
    if (*length == 0)
        return fail(ErrorKind::BadData, "no usable block for " + name +
                                            ": the instrument sent an empty block (length 0)");

    Result<OutputFile> out = OutputFile::create(std::string(bus::TrimBlanks(localFile)));
    if (!out)
        return out.failure();
    const Status read = bus::ReadBlockData(
        session, *length, kTransferChunk,
        [&out](const char* data, std::size_t size) { return out->write(data, size); });
    if (!read) {
        if (read.errorKind() == ErrorKind::Interrupted)
            return read.failure();
        return fail(read.errorKind(),
                    "the transfer of " + name + " is incomplete: " + read.error());
    }
    if (check) {
        if (const Status picture = checkAsTarget(check, *out); !picture)
            return fail(picture.errorKind(),
                        "the file " + name + " from the instrument is refused: " + picture.error());
    }
    if (session.interrupted())
        return bus::interruptedError();
    if (Status committed = out->commit(); !committed)
        return committed.failure();
    return *length;
}

}  // namespace benchcap::hardcopy
