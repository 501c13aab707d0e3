#include "trace/acquisition.h"

#include <array>
#include <utility>
#include <vector>

#include "bus/number.h"
#include "trace/trace_block.h"

namespace benchcap::trace {
namespace {

namespace tmo = bus::timeout_codes;

// The modulation table of vector-analysis mode: format, state-count query, and the
// bits per symbol for each state count (an empty state count: no second query).
struct Modulation {
    const char* format;
    const char* stateQuery;
    std::array<std::pair<const char*, int>, 2> states;
};
constexpr Modulation kModulations[] = {
    {"QPS", "", {{{"", 2}, {nullptr, 0}}}},
    {"PSK", "SENS:DDEM:PSK:NST?", {{{"2", 1}, {"8", 3}}}},
    {"MSK", "", {{{"", 1}, {nullptr, 0}}}},
    {"QAM", "SENS:DDEM:QAM:NST?", {{{"16", 4}, {nullptr, 0}}}},
    {"FSK", "SENS:DDEM:FSK:NST?", {{{"2", 1}, {"4", 2}}}},
};

const Modulation* FindModulation(const std::string& format) {
    for (const Modulation& m : kModulations) {
        if (format == m.format) {
            return &m;
        }
    }
    return nullptr;
}

void SetTimeout(bus::Session& session, int code) {
    session.driver().ibtmo(session.instrument().DeviceHandle, code);
}

// The long time-out of a block read, for as long as the guard lives: the 1 s one comes back
// however the read ends, so that the next identification does not wait the long one.
class LongTimeout {
  public:
    LongTimeout(bus::Session& session, int code) : session_(session) { SetTimeout(session_, code); }
    ~LongTimeout() { end(); }
    LongTimeout(const LongTimeout&) = delete;
    LongTimeout& operator=(const LongTimeout&) = delete;

    void end() {
        if (std::exchange(active_, false))
            SetTimeout(session_, tmo::T1s);
    }

  private:
    bus::Session& session_;
    bool active_ = true;
};

// Step 1 of every acquisition: open, identify again, go on only when ready.
bool OpenAndIdentify(bus::Session& session) {
    session.OpenDevice();
    session.IdentifyDevice();
    return session.instrument().IsReady;
}

}  // namespace

std::string CutAnswer(const std::string& answer) {
    std::size_t end = answer.find_first_of(std::string("\n\0", 2));
    std::string s = answer.substr(0, end);
    const std::size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::vector<uint8_t> UnpackSymbols(const std::vector<uint8_t>& symbols, int bitsPerSymbol) {
    std::vector<uint8_t> bits(symbols.size() * static_cast<std::size_t>(bitsPerSymbol));
    std::size_t k = 0;
    for (uint8_t v : symbols) {
        for (int j = bitsPerSymbol - 1; j >= 0; --j) {
            bits[k++] = static_cast<uint8_t>((v >> j) & 1);
        }
    }
    return bits;
}

std::string StateQueryFor(const std::string& format) {
    const Modulation* m = FindModulation(format);
    return m ? m->stateQuery : "";
}

int BitsPerSymbolFor(const std::string& format, const std::string& states) {
    const Modulation* m = FindModulation(format);
    if (!m) {
        return 0;
    }
    for (const auto& [count, bits] : m->states) {
        if (count && (*m->stateQuery == '\0' || states == count)) {
            return bits;
        }
    }
    return 0;
}

namespace {

// The symbol table of vector-analysis mode (`symbols` of them, as the instrument reported),
// unpacked to bits by the modulation's bits per symbol.
Status ReadSymbolTable(bus::Session& session, const std::string& n, int64_t symbols,
                       TraceDataSet& fresh) {
    const std::string format = CutAnswer(session.QueryDevice("SENS:DDEM:FORM?"));
    std::string states;
    if (const std::string query = StateQueryFor(format); !query.empty()) {
        states = CutAnswer(session.QueryDevice(query));
    }
    const int bits = BitsPerSymbolFor(format, states);
    if (bits == 0) {
        // Unpacking with a width left from another read would give wrong bits.
        return fail("The symbol table cannot be read: the modulation \"" + format +
                    (states.empty() ? "" : "\" with \"" + states) +
                    "\" states is not known. Choose QPSK, BPSK, 8PSK, MSK, 16QAM, "
                    "2FSK or 4FSK on the instrument.");
    }
    session.WriteDevice("FORM UINT,8");
    LongTimeout longRead(session, tmo::T30s);
    session.WriteDevice("TRAC? TRACE" + n);
    Result<std::vector<uint8_t>> table = ReadByteBlock(session);
    longRead.end();
    if (!table) {
        return table.failure();
    }
    const std::vector<uint8_t>& bytes = *table;
    if (static_cast<int64_t>(bytes.size()) != symbols) {
        // Another count than the one just asked for: the bits would not match
        // the trace's symbols.
        return fail(ErrorKind::BadData, "The symbol table holds " + std::to_string(bytes.size()) +
                                            " symbols, but the instrument reported " +
                                            std::to_string(symbols) + ". Read the trace again.");
    }
    fresh.IsSymbolTable = true;
    fresh.BitsPerSymbol = static_cast<int16_t>(bits);
    fresh.bits = UnpackSymbols(bytes, bits);
    return {};
}

}  // namespace

AcquisitionResult ReadAnalyzerTrace(bus::Session& session, bus::UserInterface& ui,
                                    int16_t traceNumber, TraceDataSet& data) {
    if (!OpenAndIdentify(session)) {
        return Acquisition{AcquisitionStatus::NotReady, {}};
    }
    const std::string n = std::to_string(traceNumber);

    // Only the numeric answer "1" counts as shown: the first character alone is read.
    session.WriteDevice("DISP:TRAC" + n + ":STAT?");
    std::string state(30, ' ');
    session.ReadBlock(state.data(), static_cast<long>(state.size()));
    if (bus::ParseNumber(state.substr(0, 1)) != 1) {
        return Acquisition{AcquisitionStatus::NotActive, {}};
    }

    const double centre = bus::ParseNumber(session.QueryDevice("FREQ:CENT?"));
    const double span = bus::ParseNumber(session.QueryDevice("FREQ:SPAN?"));
    const double sweepTime = bus::ParseNumber(session.QueryDevice("SWE:TIME?"));

    session.WriteDevice("FORM REAL,32");
    LongTimeout longRead(session, tmo::T30s);
    session.WriteDevice("TRAC? TRACE" + n);
    Result<std::vector<float>> block = ReadReal32Block(session);
    // Instruments without the next command let its one-character read time out after 1 s.
    longRead.end();
    if (!block) {
        return block.failure();
    }
    std::vector<float> values = std::move(block).value();
    if (values.empty()) {
        return fail(ErrorKind::BadData, "The instrument sent an empty trace.");
    }

    session.WriteDevice("INST:NSEL?");
    char mode = ' ';
    session.ReadBlock(&mode, 1);

    TraceDataSet fresh;
    fresh.BitsPerSymbol = data.BitsPerSymbol;
    Acquisition result{AcquisitionStatus::Read, {}};
    int32_t pointsPerSymbol = 0;
    if (mode == '2') {
        // Vector-analysis mode: the layout follows from the symbol count S and the points
        // per symbol P compared with the N values read.
        const int64_t count = static_cast<int64_t>(values.size());
        const int64_t symbols = bus::ParseInt32(session.QueryDevice("SENS:DDEM:TIME?"));
        pointsPerSymbol = bus::ParseInt32(session.QueryDevice("SENS:DDEM:PRAT?"));
        if (symbols == count) {
            if (Status read = ReadSymbolTable(session, n, symbols, fresh); !read)
                return read.failure();
        } else if (symbols * pointsPerSymbol == count) {
            fresh.values = std::move(values);
        } else if (count % 2 == 0 && count / 2 == symbols * pointsPerSymbol) {
            fresh.IsPairs = true;
            fresh.values = std::move(values);
        } else {
            result.notice = "unknown numerical format!";
            ui.messageBox(bus::MessageIcon::None, "", result.notice, bus::MessageButtons::Ok);
            fresh.values = std::move(values);
        }
    } else {
        fresh.values = std::move(values);
    }
    const std::size_t count = fresh.IsSymbolTable ? fresh.bits.size() : fresh.values.size();
    fresh.axis = AnalyzerAxis::Of(count, centre, span, sweepTime, pointsPerSymbol);
    data = std::move(fresh);
    return result;
}

AcquisitionResult ReadNetworkTrace(bus::Session& session, int16_t channel, TraceDataSet& data) {
    if (!OpenAndIdentify(session)) {
        return Acquisition{AcquisitionStatus::NotReady, {}};
    }
    const std::string n = std::to_string(channel);
    session.WriteDevice("FORM REAL,32");
    session.WriteDevice("FORM:DEXP:SOUR DDAT");
    LongTimeout longRead(session, tmo::T30s);

    session.WriteDevice("TRAC? CH" + n + "DATA");
    Result<std::vector<float>> channelBlock = ReadReal32Block(session);
    if (!channelBlock) {
        return channelBlock.failure();
    }
    std::vector<float> values = std::move(channelBlock).value();
    session.WriteDevice("TRAC:STIM? CH" + n + "DATA");
    Result<std::vector<float>> stimulusBlock = ReadReal32Block(session);
    if (!stimulusBlock) {
        return stimulusBlock.failure();
    }
    std::vector<float> stimulus = std::move(stimulusBlock).value();
    if (values.empty() || stimulus.empty()) {
        return fail(ErrorKind::BadData, "The instrument sent an empty trace.");
    }
    if (values.size() != stimulus.size() && values.size() != 2 * stimulus.size()) {
        // Neither real (one value per point) nor complex (two): the table would pair
        // values with the wrong stimulus points.
        return fail(ErrorKind::BadData,
                    "Channel " + n + " sent " + std::to_string(values.size()) + " values for " +
                        std::to_string(stimulus.size()) +
                        " stimulus points; choose a real or complex data format on the "
                        "instrument.");
    }
    // The symbol-table fields stay as they were; network traces do not use them.
    TraceDataSet fresh;
    fresh.IsNetworkTrace = true;
    fresh.IsSymbolTable = data.IsSymbolTable;
    fresh.BitsPerSymbol = data.BitsPerSymbol;
    fresh.IsPairs = values.size() != stimulus.size();
    fresh.values = std::move(values);
    fresh.axis32 = std::move(stimulus);
    data = std::move(fresh);
    return Acquisition{AcquisitionStatus::Read, {}};
}

}  // namespace benchcap::trace
