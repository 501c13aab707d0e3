#include <gtest/gtest.h>

#include "recipe_rig.h"
#include "trace/general_number.h"

namespace benchcap::test {
namespace {

// Line `row` of a trace text.
std::string textLine(const std::string& text, std::size_t row) {
    std::size_t at = 0;
    for (std::size_t k = 0; k < row && at != std::string::npos; ++k)
        at = text.find("\r\n", at) + 2;
    return text.substr(at, text.find("\r\n", at) - at);
}

// Every shipped row with a trace section, traces 1 and 2 on its simulated instrument: the
// values it sent in the state, the axis from its answers (or the index without axis
// queries) in the text, and nothing left in its error queue.
TEST(TraceRecipes, EveryShippedTraceRowReadsItsInstrument) {
    int rows = 0;
    for (const recipes::Recipe* row : shippedRows()) {
        if (!row->trace)
            continue;
        ++rows;
        sim::SimBench bench(benchConfig(recipeBench({row})), std::make_shared<bus::VirtualClock>());
        std::vector<float> seen;
        for (int n : {1, 2}) {
            trace::TraceState state;
            const trace::TraceCommandResult r = readRecipeTrace(bench, 1, *row, n, state);
            ASSERT_EQ(r.outcome, trace::TraceOutcome::Done) << row->name << r.status.error();
            const sim::RecipeTrace sent = sim::recipeInstrumentTrace(n);
            EXPECT_EQ(state.data.values, sent.values) << row->name;
            const double x = row->trace->start.empty() ? 100 : sent.start + 100 * sent.step;
            EXPECT_EQ(textLine(state.text, 100), trace::FormatGeneral(x, ',') + "\t" +
                                                     trace::FormatGeneral(sent.values[100], ','))
                << row->name;
            EXPECT_NE(state.data.values, seen) << row->name;
            seen = state.data.values;
        }
        bus::CurrentInstrument instrument;
        bus::Session session(bench, instrument);
        session.SelectAndIdentify(0, 1);
        instrument.IsReady = true;
        const std::string error = session.QueryDevice("SYST:ERR?");
        EXPECT_EQ(error.substr(0, error.find('\n')), "0,\"No error\"") << row->name;
    }
    EXPECT_GE(rows, 6);
}

// The same rows sent up to END instead of in a block (a final line feed is no data), with
// axis queries that name the trace twice (rs-rtb-rtm-rta gets a start alone: step 1), and
// answers in each format and byte order, as a row's trace section names them, decoded alone.
TEST(TraceRecipes, FramingsFormatsAndByteOrders) {
    const sim::RecipeTrace sent = sim::recipeInstrumentTrace(3);
    for (const char* name : {"rigol-ds1000z", "rs-rtb-rtm-rta", "agilent-esa"}) {
        recipes::Recipe row = *shippedBook().named(name);
        recipes::Trace& t = *row.trace;
        t.framing = recipes::Framing::End;
        const double step = t.start.empty() ? 1 : sent.step;
        t.start = t.start.empty() ? "TIMebase:STARt?" : t.start;
        for (std::string* query : {&t.start, &t.stop, &t.step})
            *query += query->empty() ? "" : " TR{n},{n}";
        sim::SimBench bench(benchConfig(recipeBench({&row})),
                            std::make_shared<bus::VirtualClock>());
        trace::TraceState state;
        EXPECT_EQ(readRecipeTrace(bench, 1, row, 3, state).status.error(), "") << name;
        EXPECT_EQ(state.data.values, sent.values) << name;
        EXPECT_EQ(textLine(state.text, 100), trace::FormatGeneral(sent.start + 100 * step, ',') +
                                                 "\t" + trace::FormatGeneral(sent.values[100], ','))
            << name;
    }
    const struct {
        const char* keys;  // of the trace section beside its query, all accepted
        std::string payload;
        std::vector<float> values;  // empty: refused
    } rows[] = {
        {"", "+1.5E+00 -2,\r\n3\n", {1.5f, -2, 3}},
        {", format: ascii", "1,,2 ; 4", {1, 2, 4}},
        {"", "1,0x2", {}},
        {"", "1,++2", {}},
        {"", "1,+-2", {}},
        {"", "-+2", {}},
        {"", "2e+-3", {}},
        {", format: real32, byte_order: big", std::string("\x3f\xc0\0\0", 4), {1.5f}},
        {", format: real32, traces: 8", std::string("\0\0\xc0\x3f", 4), {1.5f}},
        {", format: real64, byte_order: big", std::string("\xc0\x04\0\0\0\0\0\0", 8), {-2.5f}},
        {", format: real64, byte_order: little", std::string("\0\0\0\0\0\0\x04\xc0", 8), {-2.5f}},
        {", format: real64", std::string("\xc0\x04\0\0\0\0\0\0", 8).substr(1), {}},
    };
    const std::string head =
        "recipes: [{name: a, match: x, kind: k, screen: {produce: P, format: PNG}, "
        "trace: {query: Q";
    for (const auto& r : rows) {
        const Result<recipes::RecipeBook> book =
            recipes::RecipeBook::parse(head + r.keys + "}}]", "f");
        ASSERT_TRUE(book) << book.error();
        const Result<std::vector<float>> got =
            trace::DecodeTraceAnswer(r.payload, *book->rows()[0].trace);
        EXPECT_EQ(got ? *got : std::vector<float>{}, r.values) << r.payload;
        EXPECT_EQ(!got.error().empty(), r.values.empty()) << r.payload;
    }
}

// The x axis from the axis answers: points that would all lie on one x value are refused.
TEST(TraceRecipes, AxisOnOneValueIsRefused) {
    using std::nullopt;
    EXPECT_EQ(trace::RecipeAxis(1e6, 2e6, nullopt, 5)->at(4), 2e6);
    EXPECT_TRUE(trace::RecipeAxis(1e6, 1e6, nullopt, 1));
    EXPECT_EQ(trace::RecipeAxis(1e6, 1e6, nullopt, 401).error(),
              "the stimulus starts and stops at the same value (1000000) for 401 points");
    EXPECT_EQ(trace::RecipeAxis(1e6, nullopt, 0.0, 401).error(),
              "the stimulus step is 0 for 401 points");
    EXPECT_EQ(trace::RecipeAxis(-1e308, 1e308, nullopt, 3).error(),
              "the stimulus step is too large for a number");
}

// Faults of the instrument and a number the row does not offer: the trace before stays,
// and the message names the recipe and the step.
TEST(TraceRecipes, FaultsNameRecipeAndStep) {
    const struct {
        const char* recipe;
        const char* extra;
        int number;
        const char* error;
        int stopAfter = 0;
    } rows[] = {
        {"rs-rtb-rtm-rta", ", trace_fault: odd_length", 1,
         "recipe rs-rtb-rtm-rta, step data: the answer holds 1606 bytes, not a whole number of "
         "32-bit values; check the recipe's format and byte_order."},
        {"rigol-ds1000z", ", trace_fault: garbage", 2,
         "recipe rigol-ds1000z, step data: value 402 (\"12..5\") is not a number; check the "
         "recipe's format and byte_order."},
        {"keysight-x-series-sa", ", trace_fault: silent", 1,
         "recipe keysight-x-series-sa, step data: no answer to :TRACe:DATA? TRACE1 within 20 s; "
         "check the data query in the recipe, or raise timeout_s."},
        {"agilent-esa", "", 4, "Trace 4 is not supported by the instrument!"},
        {"agilent-esa", "", 1, "Interrupted.", 2},
    };
    for (const auto& r : rows) {
        const recipes::Recipe* row = shippedBook().named(r.recipe);
        ASSERT_NE(row, nullptr) << r.recipe;
        sim::SimBench bench(benchConfig(recipeBench({row}, r.extra)),
                            std::make_shared<bus::VirtualClock>());
        trace::TraceState state;
        state.text = "before";
        const trace::TraceCommandResult got =
            readRecipeTrace(bench, 1, *row, r.number, state, r.stopAfter);
        EXPECT_EQ(got.outcome, r.number > row->trace->traces
                                   ? trace::TraceOutcome::NumberNotSupported
                                   : trace::TraceOutcome::Failed);
        EXPECT_EQ(got.status.error().substr(0, std::string(r.error).size()), r.error);
        EXPECT_EQ(state.text, "before") << r.recipe;
    }
}

}  // namespace
}  // namespace benchcap::test
