// The paste over a scripted office: what reaches the cells, when the user is asked, how a
// paste that stops half-way or an office that stops answering is reported.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "office/office_paste.h"
#include "support/scripted_office.h"
#include "support/scripted_user_interface.h"
#include "support/table_file.h"
#include "trace/trace_field.h"
#include "trace_table.h"

namespace benchcap::office {
namespace {

using bus::MessageResult;
using bus::testing::ScriptedUserInterface;
using testing::AttachState;
using testing::ScriptedOffice;

// How a paste ended, as the case tables name it.
std::string outcomeName(const Status& pasted) {
    const std::map<ErrorKind, std::string> names{{ErrorKind::NotReachable, "NotRunning"},
                                                 {ErrorKind::TimedOut, "NoAnswer"},
                                                 {ErrorKind::Declined, "Declined"},
                                                 {ErrorKind::Refused, "Failed"}};
    return pasted ? "Pasted" : names.at(pasted.errorKind());
}

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

// The cases of tests/data/office/spreadsheet-paste.tsv. What the indicator and the status
// line make of each outcome is OfficeWindowTest's.
TEST(OfficePaste, SpreadsheetCases) {
    const Table table(501);
    for (const auto& c : test::readTable("office/spreadsheet-paste.tsv")) {
        SCOPED_TRACE(c[0]);
        ScriptedOffice office;
        office.active = C5;
        const std::string& state = c[4];
        const std::size_t n = state.find('=') == std::string::npos
                                  ? 0
                                  : std::stoul(state.substr(state.find('=') + 1));
        if (state.starts_with("refuse="))
            office.columnsBeforeRefusal = n;
        if (state.starts_with("hang="))
            office.columnsBeforeHang = n;
        office.running = state == "not-running" ? AttachState::NotRunning
                         : state == "no-answer" ? AttachState::NoAnswer
                                                : AttachState::Attached;
        office.spreadsheetOpen = state != "no-sheet";
        std::optional<CellAddress> before;
        if (c[5] != "-") {
            std::istringstream fields(c[5]);
            std::string row, column, value;
            std::getline(fields, row, ',');
            std::getline(fields, column, ',');
            std::getline(fields, value);
            before = CellAddress{std::stol(row), std::stol(column)};
            office.set(*before, value == "x" ? ScriptedOffice::Cell(value)
                                             : ScriptedOffice::Cell(std::stod(value)));
        }
        ScriptedUserInterface boxes;
        if (c[6] != "-")
            boxes.queueMessageResult(c[6] == "Yes" ? MessageResult::Yes : MessageResult::No);

        const Status report = OfficePaste(office, boxes).PasteInExcel(table.field);

        EXPECT_EQ(outcomeName(report), c[1]);
        EXPECT_NE(report.error().find(c[3]), std::string::npos) << report.error();
        EXPECT_EQ(boxes.texts(), std::vector<std::string>(c[6] == "-" ? 0 : 1, kOccupiedQuestion));
        // The active cell moves on only past a whole table.
        EXPECT_EQ(office.active, (c[1] == "Pasted" ? CellAddress{5, 5} : C5));
        const std::size_t written = std::stoul(c[2]);
        for (std::size_t col = 0; col < 2; ++col) {
            for (long row : {5L, 300L, 505L}) {
                const CellAddress cell{row, 3 + static_cast<long>(col)};
                if (col < written) {
                    ASSERT_TRUE(office.number(cell)) << cellName(cell);
                    EXPECT_EQ(*office.number(cell), columnNumbers(table.field, col)[row - 5])
                        << cellName(cell);
                } else if (!before || !(*before == cell)) {
                    EXPECT_FALSE(office.cell(cell)) << cellName(cell);
                }
            }
        }
    }
}

TEST(OfficePaste, TextDocumentCases) {
    struct Case {
        AttachState running;
        bool documentOpen;
        const char* outcome;
        std::size_t pictures;
    } cases[] = {
        {AttachState::Attached, true, "Pasted", 1},
        {AttachState::Attached, false, "Failed", 0},
        {AttachState::NotRunning, true, "NotRunning", 0},
        {AttachState::NoAnswer, true, "NoAnswer", 0},
    };
    for (const Case& c : cases) {
        ScriptedOffice office;
        office.running = c.running;
        office.textDocumentOpen = c.documentOpen;
        ScriptedUserInterface boxes;
        EXPECT_EQ(outcomeName(OfficePaste(office, boxes).PasteInWord("BM picture")), c.outcome);
        ASSERT_EQ(office.pictures.size(), c.pictures);
        if (c.pictures) {
            EXPECT_EQ(office.pictures[0], "BM picture");
        }
    }
}

}  // namespace
}  // namespace benchcap::office
