#include "bus/session.h"

#include "bus/identification.h"
#include "bus/text.h"

namespace benchcap::bus {

namespace {
// Secondary address code 0x60 is secondary address 0 (0 would mean none).
constexpr int kSecondaryAddressCode = 0x60;
}  // namespace

void SelectInstrument(CurrentInstrument& instrument, int16_t board, int16_t address) {
    instrument.BoardIndex = board;
    instrument.TimeoutCode = timeout_codes::T1s;
    instrument.BusAddress = address;
    instrument.BusEnabled = true;
}

void Session::OpenDevice() {
    CurrentInstrument& ci = instrument_;
    if (ci.IsOpen && ci.OpenedAddress == ci.BusAddress)
        return;
    if (ci.BusEnabled) {
        const int handle = driver_.ibdev(ci.BoardIndex, ci.BusAddress, kSecondaryAddressCode,
                                         ci.TimeoutCode, 1, 0);
        ci.DeviceHandle = static_cast<int16_t>(handle);
        if (handle < 0) {
            // No board behind the index: the handle is -1, and every later call on it
            // would only fail again. Address 0 (never opened) makes the next open retry.
            opened_ = fail(ErrorKind::NotReachable,
                           boardFailureText(ci.BoardIndex, "ibdev", driver_.status()));
            ci.DeviceHandle = -1;
            ci.OpenedAddress = 0;
            ci.IsOpen = true;
            return;
        }
        opened_ = {};
        driver_.ibsre(ci.BoardIndex, 0);
        driver_.SendIFC(ci.BoardIndex);
        ci.OpenedAddress = ci.BusAddress;
    }
    ci.IsOpen = true;
}

void Session::WriteDevice(std::string_view text) {
    if (!instrument_.IsReady || !instrument_.BusEnabled || !hasHandle())
        return;
    driver_.ibwrt(instrument_.DeviceHandle, text.data(), static_cast<long>(text.size()));
}

int16_t Session::ReadBlock(char* buffer, long count) {
    if (!instrument_.IsReady || !instrument_.BusEnabled || !hasHandle())
        return 0;
    return LongToInt16(driver_.ibrd(instrument_.DeviceHandle, buffer, count));
}

std::string Session::QueryDevice(std::string_view command) {
    if (!instrument_.IsReady || !instrument_.BusEnabled || !hasHandle())
        return {};
    std::string reply(kReplyLength, '\0');
    WriteDevice(command);
    driver_.ibrd(instrument_.DeviceHandle, reply.data(), static_cast<long>(reply.size()));
    lastReply_ = std::string(TrimBlanks(reply));
    return lastReply_;
}

void Session::GoToLocal() {
    if (!instrument_.IsOpen || !instrument_.IsReady)
        return;
    if (instrument_.BusEnabled && hasHandle())
        driver_.ibloc(instrument_.DeviceHandle);
    instrument_.IsReady = false;
}

Status Session::ClearDevice() {
    if (!instrument_.IsOpen || !instrument_.BusEnabled || !hasHandle())
        return fail(ErrorKind::NotReachable, "no device clear: the instrument has no handle");
    if ((driver_.ibclr(instrument_.DeviceHandle) & ibsta_bits::ERR) == 0)
        return {};
    ErrorKind kind = ErrorKind::BusError;
    switch (driver_.status().iberr) {
        case iberr_codes::ECAP:
            kind = ErrorKind::Refused;
            break;
        case iberr_codes::ENOL:
        case iberr_codes::EABO:
            kind = ErrorKind::TimedOut;
            break;
        case iberr_codes::EDVR:
        case iberr_codes::ENEB:
            kind = ErrorKind::NotReachable;
            break;
        default:
            break;
    }
    return fail(kind, "the device clear failed: " + driverErrorText(driver_));
}

void Session::SelectAndIdentify(int16_t board, int16_t address) {
    SelectInstrument(instrument_, board, address);
    OpenDevice();
    IdentifyDevice();
}

void Session::IdentifyDevice() {
    CurrentInstrument& ci = instrument_;
    if (!ci.IsOpen)
        return;
    ci.IsReady = true;
    const std::string answer = QueryDevice("*IDN?");
    const Identification id = IdentifyAnswer(answer);
    ci.ModelName = id.modelName;
    if (id.model) {
        ci.FullSupport = id.model->fullSupport;
        ci.FirmwareVersion = id.firmwareVersion;
    } else {
        ci.IsReady = false;  // "TMO" or "unknown": FullSupport and FirmwareVersion stay
    }
}

}  // namespace benchcap::bus
