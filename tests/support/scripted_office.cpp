#include "support/scripted_office.h"

namespace benchcap::office::testing {

class ScriptedConnection final : public OfficeConnection {
  public:
    explicit ScriptedConnection(ScriptedOffice& office) : office_(office) {}

    Status pastePicture(std::string_view pictureFile) override {
        if (!office_.textDocumentOpen)
            return fail("LibreOffice has no text document open: open one in Writer");
        office_.pictures.emplace_back(pictureFile);
        return {};
    }
    Result<CellAddress> activeCell() override {
        if (Status open = sheet(); !open)
            return fail(open.error());
        return office_.active;
    }
    Result<Occupancy> occupiedCells(CellAddress first, std::size_t rows,
                                    std::size_t columns) override {
        if (Status open = sheet(); !open)
            return fail(open.error());
        Occupancy found;
        for (std::size_t c = 0; c < columns; ++c)
            for (std::size_t r = 0; r < rows; ++r) {
                const CellAddress at{first.row + static_cast<long>(r),
                                     first.column + static_cast<long>(c)};
                if (office_.cell(at)) {
                    if (found.count++ == 0)
                        found.first = cellName(at);
                }
            }
        return found;
    }
    Status writeColumn(CellAddress first, const std::vector<double>& values) override {
        if (Status open = sheet(); !open)
            return open;
        if (office_.columnsBeforeHang && office_.columnsWritten_ >= *office_.columnsBeforeHang) {
            lost_ = true;
            return fail("LibreOffice did not answer");
        }
        if (office_.columnsBeforeRefusal &&
            office_.columnsWritten_ >= *office_.columnsBeforeRefusal)
            return fail("the sheet is protected");
        for (std::size_t r = 0; r < values.size(); ++r)
            office_.set({first.row + static_cast<long>(r), first.column}, values[r]);
        ++office_.columnsWritten_;
        return {};
    }
    Status moveActiveCell(long rows, long columns) override {
        if (Status open = sheet(); !open)
            return open;
        office_.active = {office_.active.row + rows, office_.active.column + columns};
        return {};
    }
    bool lost() const override { return lost_; }

  private:
    Status sheet() const {
        if (lost_)
            return fail("LibreOffice stopped answering");
        if (!office_.spreadsheetOpen)
            return fail("LibreOffice has no spreadsheet open: open one in Calc");
        return {};
    }

    ScriptedOffice& office_;
    bool lost_ = false;
};

Attachment ScriptedOffice::attach() {
    ++attaches;
    columnsWritten_ = 0;
    switch (running) {
        case AttachState::Attached:
            break;
        case AttachState::NotRunning:
            return fail(ErrorKind::NotReachable, "No LibreOffice accepts connections");
        case AttachState::NoAnswer:
            return fail(ErrorKind::TimedOut, "LibreOffice did not answer within 1 s");
    }
    return std::unique_ptr<OfficeConnection>(std::make_unique<ScriptedConnection>(*this));
}

std::optional<ScriptedOffice::Cell> ScriptedOffice::cell(CellAddress at) const {
    const auto found = cells.find({at.row, at.column});
    if (found == cells.end())
        return std::nullopt;
    return found->second;
}

std::optional<double> ScriptedOffice::number(CellAddress at) const {
    const std::optional<Cell> value = cell(at);
    if (!value || !std::holds_alternative<double>(*value))
        return std::nullopt;
    return std::get<double>(*value);
}

}  // namespace benchcap::office::testing
