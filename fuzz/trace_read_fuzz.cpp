// Feeds arbitrary instrument answers to the trace acquisition: after a fixed
// identification, every read takes the next bytes of the input up to and including a
// line feed (which ends the message) or the count asked for; an exhausted input times
// out. Byte 0 picks the instrument (bit 0: network analyzer) and the trace number.
// Checks that whatever arrives gives either a failed read with a message or a data set
// whose arrays agree, and that its table and text can be built.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bus/session.h"
#include "support/scripted_user_interface.h"
#include "trace/acquisition.h"
#include "trace/trace_field.h"
#include "trace/trace_text.h"

namespace {

using namespace benchcap;
namespace sta = bus::ibsta_bits;

class ScriptedInstrument final : public bus::GpibDriver {
  public:
    ScriptedInstrument(const uint8_t* data, std::size_t size, std::string idn)
        : data_(data), size_(size), idn_(std::move(idn)) {}

    int ibdev(int, int, int, int, int, int) override { return 32; }
    int ibfind(const std::string&) override { return 0; }
    int ibwrt(int, const void* data, long count) override {
        const std::string command(static_cast<const char*>(data), static_cast<std::size_t>(count));
        pendingIdn_ = command == "*IDN?";
        return done(sta::CMPL, count);
    }
    int ibrd(int, void* buffer, long count) override {
        auto* out = static_cast<char*>(buffer);
        if (pendingIdn_) {
            pendingIdn_ = false;
            const long n = std::min<long>(count, static_cast<long>(idn_.size()));
            std::memcpy(out, idn_.data(), static_cast<std::size_t>(n));
            return done(sta::CMPL | sta::END, n);
        }
        long n = 0;
        bool end = false;
        while (n < count && pos_ < size_) {
            out[n++] = static_cast<char>(data_[pos_]);
            if (data_[pos_++] == '\n') {
                end = true;
                break;
            }
        }
        if (n == 0 || (!end && n < count))
            return done(sta::ERR | sta::TIMO | sta::CMPL, n);
        return done(sta::CMPL | (end ? sta::END : 0), n);
    }
    int ibrdf(int, const std::string&) override { return sta::ERR; }
    int ibonl(int, int) override { return 0; }
    int ibpad(int, int) override { return 0; }
    int ibrsc(int, int) override { return 0; }
    int ibsre(int, int) override { return 0; }
    int ibtmo(int, int) override { return 0; }
    int ibwait(int, int) override { return 0; }
    int ibloc(int) override { return 0; }
    int ibconfig(int, int, int) override { return 0; }
    int ibask(int, int, int*) override { return 0; }
    void SendIFC(int) override {}
    bus::DriverStatus status() const override { return status_; }

  private:
    int done(int sta, long count) {
        status_.ibsta = static_cast<int16_t>(sta);
        status_.ibcntl = static_cast<int32_t>(count);
        status_.ibcnt = static_cast<int16_t>(count);
        return sta;
    }
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::string idn_;
    bool pendingIdn_ = false;
    bus::DriverStatus status_;
};

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "broken data set: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool network = (data[0] & 1) != 0;
    const auto traceNumber = static_cast<int16_t>(1 + ((data[0] >> 1) & 3));
    ScriptedInstrument driver(data + 1, size - 1,
                              network ? "Veltronik,NQD8,1,1.45\n" : "Veltronik,KLVZ26,1,2.10\n");
    bus::CurrentInstrument instrument;
    bus::Session session(driver, instrument);
    bus::SelectInstrument(instrument, 0, 20);
    bus::testing::ScriptedUserInterface ui;
    trace::TraceDataSet set;
    const trace::AcquisitionResult r =
        network ? trace::ReadNetworkTrace(session, traceNumber, set)
                : trace::ReadAnalyzerTrace(session, ui, traceNumber, set);
    if (!r) {
        Check(!r.error().empty(), "failed read without a message");
        Check(set.Empty(), "failed read changed the data set");
        return 0;
    }
    if (r->status != trace::AcquisitionStatus::Read) {
        return 0;
    }
    if (network) {
        Check(set.values.size() == set.axis32.size() || set.values.size() == 2 * set.axis32.size(),
              "network arrays");
    } else if (set.IsSymbolTable) {
        Check(set.BitsPerSymbol > 0 &&
                  set.bits.size() % static_cast<std::size_t>(set.BitsPerSymbol) == 0,
              "symbol bits");
        Check(set.axis.count == set.bits.size(), "symbol axis");
        for (uint8_t b : set.bits) {
            Check(b <= 1, "bit value");
        }
    } else {
        Check(!set.values.empty() && set.axis.count == set.values.size(), "analyzer axis");
    }
    const trace::TraceField field = trace::GenTraceField(set);
    const std::string text = trace::TraceText(field, ',');
    Check(field.RowCount() == 0 || text.size() >= 2 * field.RowCount(), "text lines");
    return 0;
}
