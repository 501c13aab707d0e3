#include <gtest/gtest.h>

#include "sim/bench_config.h"
#include "sim/scpi_header.h"
#include "sim/sim_bench.h"
#include "support/bench_rig.h"

namespace benchcap::sim {
namespace {

// Pattern in the manual's notation, a message as a client sends it, whether the pattern
// takes the message's last command (with the header path the message gives it), and why.
struct Spelling {
    const char* pattern;
    const char* message;
    bool taken;
    const char* rule;
};
constexpr Spelling kSpellings[] = {
    {"HCOPy:SDUMp:DATA?", "HCOPY:SDUMP:DATA?", true, "long form"},
    {"HCOPy:SDUMp:DATA?", "HCOP:SDUM:DATA?", true, "short form"},
    {"HCOPy:SDUMp:DATA?", "hcop:sdump:data?", true, "any case"},
    {"HCOPy:SDUMp:DATA?", "HCO:SDUM:DATA?", false, "bad abbreviation"},
    {"HCOPy:SDUMp:DATA?", "HCOPYX:SDUM:DATA?", false, "extra letters"},
    {"HCOPy:SDUMp:DATA?", "HCOP:SDUM:DATA", false, "a query needs its ?"},
    {"HCOPY:DEV", "HCOP:DEV", false, "no capitals written: only that word"},
    {"[:]HCOPy:SDUMp:DATA?", ":HCOP:SDUM:DATA?", true, "leading colon"},
    {"[:SOURce]:FREQuency?", "FREQ?", true, "optional node left out"},
    {"[SENSe:]FREQuency:CENTer?", "SENS:FREQ:CENT?", true, "optional node given"},
    {"[:SOURce]:FREQuency?", "SOUR:SOUR:FREQ?", false, "optional node twice"},
    {"CHANnel1:DATA?", "CHAN:DATA?", true, "suffix 1 left out"},
    {"TRACe2:DATA?", "TRAC2:DATA?", true, "suffix"},
    {"TRACe2:DATA?", "TRAC:DATA?", false, "suffix 2 left out"},
    {"HCOPy:DATA?", "HCOP1:DATA?", false, "suffix the header has none of"},
    {"HCOPy:SDUMp:DATA[:DATA]?", "HCOP:SDUM:DATA:FORM BMP;DATA?", true, "; keeps the level"},
    {"HCOPy:SDUMp:DATA?", "HCOP:SDUM:DATA:FORM BMP;HCOP:SDUM:DATA?", false, "; is not the root"},
    {"HCOPy:SDUMp:DATA?", "HCOP:SDUM:DATA:FORM BMP;:HCOP:SDUM:DATA?", true, ";: is the root"},
    {"HCOPy:SDUMp:DATA[:DATA]?", "HCOP:SDUM:DATA:FORM BMP;*OPC?;DATA?", true, "common between"},
    {"*OPC?", "*CLS;*opc?", true, "common command"},
    {":DISPlay:DATA? {ON|OFF},{0|1},{PNG|BMP8|BMP}", "display:data? on,0,png", true, "choices"},
    {":DISPlay:DATA? ON,0,PNG", "DISP:DATA? ON,0,BMP8", false, "a choice not written"},
    {":DISPlay:DATA? PNG,COLor", ":DISPlay:DATA? PNG , col", true, "blanks, keyword forms"},
    {":DISPlay:DATA? PNG,COLor", ":DISP:DATA? PNG,COLO", false, "keyword abbreviated badly"},
    {"MMEM:DATA? 'C:\\A.PNG'", "MMEM:DATA? \"c:\\a.png\"", true, "string in either quote"},
    {"FREQ 1E6", "FREQ 1000000.0", true, "number in any notation"},
    {"HARDCOPY START", "hardcopy start", true, "keyword parameter"},
    {"HARDCOPY START", "HARDCOPY START,1", false, "a parameter too many"},
};

TEST(ScpiHeader, TakesTheSpellingsARealInstrumentTakes) {
    for (const Spelling& s : kSpellings) {
        const Result<ScpiPattern> p = ScpiPattern::parse(s.pattern);
        ASSERT_TRUE(p) << p.error();
        const Command c = parseCommand(scpiCommands(s.message).back());
        EXPECT_EQ(p->matches(c.header, c.args), s.taken) << s.rule << ": " << s.message;
    }
    EXPECT_EQ(ScpiPattern::parse("HCOPy:[SDUMp").error(),
              "'HCOPy:[SDUMp' is no SCPI command: '[' without ']'");
    EXPECT_EQ(parseBenchText("instruments: [{address: 4, kind: recipe, produce: 'SCDP', "
                             "scpi: ['HCOPy:DATA?']}]",
                             "b.yaml")
                  .error(),
              "b.yaml:1: key 'scpi': 'HCOPy:DATA?' takes none of the instrument's commands "
              "(produce, read, accepts, ...); write the manual's form of one of them");

    // A client's compound message to a recipe instrument through the driver: the row's
    // mixed-case produce and, for its all-capital accepts, the manual's notation in the
    // bench entry; the picture comes, and nothing went to the error queue.
    SimBench bench(
        test::benchConfig("instruments: [{address: 4, kind: recipe, idn: 'K,34465A,1,1', "
                          "produce: 'HCOPy:SDUMp:DATA?', accepts: ['HCOPY:SDUMP:DATA:FORMAT BMP'],"
                          " scpi: ['[:]HCOPy:SDUMp:DATA:FORMat {BMP|PNG}'], format: BMP}]"),
        std::make_shared<bus::VirtualClock>());
    const int ud = bench.ibdev(0, 4, 0x60, 11, 1, 0);
    const auto ask = [&bench, ud](std::string message) {
        bench.ibwrt(ud, message.data(), static_cast<long>(message.size()));
        std::string answer(1 << 22, '\0');
        bench.ibrd(ud, answer.data(), static_cast<long>(answer.size()));
        return answer.substr(0, static_cast<size_t>(std::max(0, bench.status().ibcntl)));
    };
    const std::string block = ask("hcop:sdum:data:form bmp;:HCOP:SDUM:DATA?");
    ASSERT_GT(block.size(), 12u);
    EXPECT_EQ(block.substr(0, 1) + block.substr(2 + static_cast<size_t>(block[1] - '0'), 2), "#BM");
    EXPECT_EQ(ask("SYST:ERR?"), "0,\"No error\"\n");
}

}  // namespace
}  // namespace benchcap::sim
