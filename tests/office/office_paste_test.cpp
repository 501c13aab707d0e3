// The paste over a scripted office: what reaches the cells, when the user is asked, how a
// paste that stops half-way or an office that stops answering is reported.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "bus/testing/scripted_user_interface.h"
#include "office/office_paste.h"
#include "office/testing/scripted_office.h"
#include "trace/trace_field.h"
#include "trace_table.h"

namespace benchcap::office {
namespace {

using bus::MessageResult;
using bus::testing::ScriptedUserInterface;
using testing::ScriptedOffice;

// The table these tests paste: x from 1 GHz, y from -50 in steps of 0.1.
struct Table : benchcap::test::Table {
    explicit Table(std::size_t rows) : benchcap::test::Table(rows, 1.0e9, -50.0f, 0.1f) {}
};

constexpr CellAddress C5{5, 3};

TEST(OfficeCells, NamesAndNumbers) {
    EXPECT_EQ(cellName({5, 3}), "C5");
    EXPECT_EQ(cellName({1, 26}), "Z1");
    EXPECT_EQ(cellName({505, 27}), "AA505");
    EXPECT_EQ(cellName({1, 703}), "AAA1");

    // A float goes over as its own short decimal, a double as it is, bits as 0 and 1, and
    // a column ends where its cells end.
    const float f32[] = {0.1f, -1.0032939f, 3.0e-7f};
    const trace::AnalyzerAxis axis{0.1, 1.0e9, 3.0, 2};
    const uint8_t bits[] = {1, 0, 1};
    trace::TraceField field;
    field.rows = 3;
    field.columns.push_back({trace::CellKind::F32, f32, nullptr, {}, 1, 3});
    field.columns.push_back({trace::CellKind::Axis, nullptr, nullptr, axis, 1, 2});
    field.columns.push_back({trace::CellKind::Bit, nullptr, bits, {}, 1, 3});
    EXPECT_EQ(columnNumbers(field, 0), (std::vector<double>{0.1, -1.0032939, 3.0e-7}));
    EXPECT_EQ(columnNumbers(field, 1), (std::vector<double>{0.1, 1.0e9 / 3.0 + 0.1}));
    EXPECT_EQ(columnNumbers(field, 2), (std::vector<double>{1, 0, 1}));
}

TEST(OfficePaste, SpreadsheetCases) {
    struct Case {
        const char* name;
        std::optional<std::pair<CellAddress, ScriptedOffice::Cell>> before;  // a cell set
        std::optional<MessageResult> answer;  // the question asked, answered
        AttachState running = AttachState::Attached;
        bool spreadsheetOpen = true;
        std::optional<std::size_t> refuseAfter, hangAfter;
        PasteOutcome outcome;
        bool indicator;
        std::size_t columnsWritten;  // of C and D, from the left
        CellAddress activeAfter;
        const char* inMessage;
    };
    const Case cases[] = {
        {"free block",
         {},
         {},
         AttachState::Attached,
         true,
         {},
         {},
         PasteOutcome::Pasted,
         true,
         2,
         {5, 5},
         ""},
        {"text in the block, No",
         std::make_pair(CellAddress{300, 4}, ScriptedOffice::Cell{"x"}),
         MessageResult::No,
         AttachState::Attached,
         true,
         {},
         {},
         PasteOutcome::Declined,
         true,
         0,
         C5,
         "the first is D300"},
        {"0 in the block, No",
         std::make_pair(CellAddress{505, 3}, ScriptedOffice::Cell{0.0}),
         MessageResult::No,
         AttachState::Attached,
         true,
         {},
         {},
         PasteOutcome::Declined,
         true,
         0,
         C5,
         "the first is C505"},
        {"text in the block, Yes",
         std::make_pair(CellAddress{5, 3}, ScriptedOffice::Cell{"x"}),
         MessageResult::Yes,
         AttachState::Attached,
         true,
         {},
         {},
         PasteOutcome::Pasted,
         true,
         2,
         {5, 5},
         ""},
        {"0 beside the block",
         std::make_pair(CellAddress{506, 3}, ScriptedOffice::Cell{0.0}),
         {},
         AttachState::Attached,
         true,
         {},
         {},
         PasteOutcome::Pasted,
         true,
         2,
         {5, 5},
         ""},
        {"sheet refuses the second column",
         {},
         {},
         AttachState::Attached,
         true,
         1,
         {},
         PasteOutcome::Failed,
         true,
         1,
         C5,
         "1 of 2 columns were written from C5 on"},
        {"sheet refuses the first column",
         {},
         {},
         AttachState::Attached,
         true,
         0,
         {},
         PasteOutcome::Failed,
         true,
         0,
         C5,
         "nothing was written"},
        {"office hangs after one column",
         {},
         {},
         AttachState::Attached,
         true,
         {},
         1,
         PasteOutcome::NoAnswer,
         false,
         1,
         C5,
         "did not answer"},
        {"no office running",
         {},
         {},
         AttachState::NotRunning,
         true,
         {},
         {},
         PasteOutcome::NotRunning,
         false,
         0,
         C5,
         "No LibreOffice"},
        {"office hangs on attach",
         {},
         {},
         AttachState::NoAnswer,
         true,
         {},
         {},
         PasteOutcome::NoAnswer,
         false,
         0,
         C5,
         "did not answer"},
        {"no spreadsheet open",
         {},
         {},
         AttachState::Attached,
         false,
         {},
         {},
         PasteOutcome::Failed,
         true,
         0,
         C5,
         "no spreadsheet open"},
    };
    const Table table(501);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedOffice office;
        office.active = C5;
        office.running = c.running;
        office.spreadsheetOpen = c.spreadsheetOpen;
        office.columnsBeforeRefusal = c.refuseAfter;
        office.columnsBeforeHang = c.hangAfter;
        if (c.before)
            office.set(c.before->first, c.before->second);
        ScriptedUserInterface boxes;
        if (c.answer)
            boxes.queueMessageResult(*c.answer);

        const PasteReport report = OfficePaste(office, boxes).PasteInExcel(table.field);

        EXPECT_EQ(report.outcome, c.outcome);
        EXPECT_EQ(report.indicatorOn(), c.indicator);
        EXPECT_NE(report.message.find(c.inMessage), std::string::npos) << report.message;
        EXPECT_EQ(report.statusText().empty(), c.outcome == PasteOutcome::Pasted ||
                                                   c.outcome == PasteOutcome::NotRunning ||
                                                   c.outcome == PasteOutcome::Declined);
        const std::vector<std::string> asked = boxes.texts();
        if (c.answer) {
            EXPECT_EQ(asked, std::vector<std::string>{kOccupiedQuestion});
        } else {
            EXPECT_TRUE(asked.empty());
        }
        EXPECT_EQ(office.active, c.activeAfter);
        for (std::size_t col = 0; col < 2; ++col) {
            const bool written = col < c.columnsWritten;
            for (long row : {5L, 300L, 505L}) {
                const CellAddress at{row, 3 + static_cast<long>(col)};
                const std::optional<double> value = office.number(at);
                if (written) {
                    ASSERT_TRUE(value) << cellName(at);
                    EXPECT_EQ(*value, columnNumbers(table.field, col)[row - 5]) << cellName(at);
                } else if (!c.before || !(c.before->first == at)) {
                    EXPECT_FALSE(office.cell(at)) << cellName(at);
                }
            }
        }
    }
}

TEST(OfficePaste, SecondTraceLandsBesideTheFirst) {
    ScriptedOffice office;
    office.active = C5;
    ScriptedUserInterface boxes;
    OfficePaste paste(office, boxes);
    const Table first(501);
    const Table second(201);
    EXPECT_TRUE(paste.PasteInExcel(first.field).ok());
    EXPECT_TRUE(paste.PasteInExcel(second.field).ok());
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_EQ(office.active, (CellAddress{5, 7}));
    EXPECT_TRUE(office.number({505, 4}));
    EXPECT_TRUE(office.number({205, 6}));
    EXPECT_FALSE(office.cell({206, 6}));
    EXPECT_EQ(office.attaches, 2);  // each paste attaches anew
}

TEST(OfficePaste, TextDocumentCases) {
    struct Case {
        AttachState running;
        bool documentOpen;
        PasteOutcome outcome;
        std::size_t pictures;
    } cases[] = {
        {AttachState::Attached, true, PasteOutcome::Pasted, 1},
        {AttachState::Attached, false, PasteOutcome::Failed, 0},
        {AttachState::NotRunning, true, PasteOutcome::NotRunning, 0},
        {AttachState::NoAnswer, true, PasteOutcome::NoAnswer, 0},
    };
    for (const Case& c : cases) {
        ScriptedOffice office;
        office.running = c.running;
        office.textDocumentOpen = c.documentOpen;
        ScriptedUserInterface boxes;
        const PasteReport report = OfficePaste(office, boxes).PasteInWord("BM picture");
        EXPECT_EQ(report.outcome, c.outcome);
        ASSERT_EQ(office.pictures.size(), c.pictures);
        if (c.pictures) {
            EXPECT_EQ(office.pictures[0], "BM picture");
        }
    }
}

}  // namespace
}  // namespace benchcap::office
