#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "office/office_server.h"

namespace benchcap::office::testing {

// How the scripted office answers an attach.
enum class AttachState { Attached, NotRunning, NoAnswer };

// An office program in memory for tests: one text document collecting pictures, one
// spreadsheet of numbers and texts with an active cell, and faults on request.
class ScriptedOffice final : public OfficeServer {
  public:
    using Cell = std::variant<double, std::string>;

    Attachment attach() override;

    // How the next attach goes: Attached, NotRunning, or NoAnswer (a hung office).
    AttachState running = AttachState::Attached;
    bool textDocumentOpen = true;
    bool spreadsheetOpen = true;
    // Column writes that go in before the sheet refuses the next one (a protected sheet).
    std::optional<std::size_t> columnsBeforeRefusal;
    // Column writes that go in before the office stops answering.
    std::optional<std::size_t> columnsBeforeHang;

    CellAddress active{1, 1};
    std::map<std::pair<long, long>, Cell> cells;  // (row, column)
    std::vector<std::string> pictures;            // pasted picture files, in order
    int attaches = 0;

    void set(CellAddress at, Cell value) { cells[{at.row, at.column}] = std::move(value); }
    std::optional<Cell> cell(CellAddress at) const;
    std::optional<double> number(CellAddress at) const;

  private:
    friend class ScriptedConnection;
    std::size_t columnsWritten_ = 0;
};

}  // namespace benchcap::office::testing
