#pragma once

#include "office/office_bridge.h"
#include "office/office_server.h"

namespace benchcap::bus {
class UserInterface;
}

namespace benchcap::office {

// The question before occupied cells are pasted over (Yes/No, stop icon).
inline constexpr const char* kOccupiedQuestion = "Cells in Excel are not empty. Paste anyway?";

// The pastes over any office server: attach, check, ask, write, move on.
class OfficePaste final : public OfficeBridge {
  public:
    OfficePaste(OfficeServer& server, bus::UserInterface& boxes) : server_(server), boxes_(boxes) {}

    Status PasteInWord(std::string_view pictureFile) override;
    Status PasteInExcel(const trace::TraceField& field) override;

  private:
    OfficeServer& server_;
    bus::UserInterface& boxes_;
};

// The numbers of one table column as the spreadsheet receives them, rows from the first
// on as far as the column has cells. A 32-bit value goes over as the shortest decimal
// that reads back as the same float (what the trace text shows), not with the binary
// tail a widening to 64 bits would add.
std::vector<double> columnNumbers(const trace::TraceField& field, std::size_t column);

}  // namespace benchcap::office
