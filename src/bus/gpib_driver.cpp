#include "bus/gpib_driver.h"

namespace benchcap::bus {

int64_t timeoutMicros(int code) {
    // NI-488.2 time-out table: TNONE, 10 us, 30 us, 100 us, ... 1000 s.
    static constexpr int64_t kMicros[] = {
        0,         10,         30,         100,         300,         1'000,
        3'000,     10'000,     30'000,     100'000,     300'000,     1'000'000,
        3'000'000, 10'000'000, 30'000'000, 100'000'000, 300'000'000, 1'000'000'000};
    if (code < 0 || code > 17)
        return -1;
    return kMicros[code];
}

int timeoutCodeAtLeast(double seconds) {
    for (int code = timeout_codes::T300ms; code <= timeout_codes::T1000s; ++code) {
        if (static_cast<double>(timeoutMicros(code)) >= seconds * 1e6)
            return code;
    }
    return timeout_codes::T1000s;
}

std::string iberrName(int iberr) {
    switch (iberr) {
        case iberr_codes::EDVR:
            return "EDVR";
        case iberr_codes::ECIC:
            return "ECIC";
        case iberr_codes::ENOL:
            return "ENOL";
        case iberr_codes::EADR:
            return "EADR";
        case iberr_codes::EARG:
            return "EARG";
        case iberr_codes::ESAC:
            return "ESAC";
        case iberr_codes::EABO:
            return "EABO";
        case iberr_codes::ENEB:
            return "ENEB";
        case iberr_codes::EOIP:
            return "EOIP";
        case iberr_codes::ECAP:
            return "ECAP";
        case iberr_codes::EFSO:
            return "EFSO";
        case iberr_codes::EBUS:
            return "EBUS";
        case iberr_codes::ESTB:
            return "ESTB";
        case iberr_codes::ESRQ:
            return "ESRQ";
        case iberr_codes::ETAB:
            return "ETAB";
        default:
            return "error " + std::to_string(iberr);
    }
}

std::string iberrExplanation(int iberr) {
    switch (iberr) {
        // linux-gpib answers EDVR when it has no configuration, no /dev/gpibN or no board
        // under the index; NI-488.2 when its service is not running.
        case iberr_codes::EDVR:
            return "the driver has no such board";
        case iberr_codes::ENEB:
            return "no board is installed under that index";
        case iberr_codes::ECIC:
            return "the board is not controller-in-charge";
        case iberr_codes::ESAC:
            return "the board is not system controller";
        case iberr_codes::EARG:
            return "the driver refused the board index or address";
        case iberr_codes::ECAP:
            return "the driver or board lacks this capability";
        case iberr_codes::EABO:
            return "the call timed out";
        case iberr_codes::EBUS:
            return "the bus reported an error";
        case iberr_codes::EFSO:
            return "the driver could not open a file it needs";
        case iberr_codes::EOIP:
            return "asynchronous I/O is still in progress";
        default:
            return "unexpected driver error";
    }
}

std::string boardFailureText(int board, const std::string& call, const DriverStatus& status) {
    return "no GPIB board " + std::to_string(board) + ": " + call + " failed with " +
           iberrName(status.iberr) + ": " + iberrExplanation(status.iberr) +
           "; see docs/driver-library.md";
}

std::string driverErrorText(const GpibDriver& driver) {
    if (std::string problem = driver.lastProblem(); !problem.empty())
        return problem;
    return "driver error " + iberrName(driver.status().iberr);
}

int16_t LongToInt16(long value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned long>(value) & 0xFFFFu));
}

}  // namespace benchcap::bus
