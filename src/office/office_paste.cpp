#include "office/office_paste.h"

#include <charconv>
#include <cstdlib>

#include "bus/user_interface.h"
#include "trace/trace_field.h"

namespace benchcap::office {

std::string cellName(CellAddress cell) {
    std::string letters;
    for (long c = cell.column; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(cell.row);
}

namespace {

double shortestDecimal(float value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    if (ec != std::errc())
        return value;
    double back = value;
    std::from_chars(text, end, back);
    return back;
}

// A failed call: given up on when the office stopped answering, refused otherwise.
Error failure(const OfficeConnection& connection, std::string message) {
    return fail(connection.lost() ? ErrorKind::TimedOut : ErrorKind::Refused, std::move(message));
}

// No attachment: the office did not answer in time, or nothing was there to attach to.
Error notAttached(const Attachment& attached) {
    return fail(
        attached.errorKind() == ErrorKind::TimedOut ? ErrorKind::TimedOut : ErrorKind::NotReachable,
        attached.error());
}

}  // namespace

std::vector<double> columnNumbers(const trace::TraceField& field, std::size_t column) {
    const trace::TraceColumn& cells = field.columns[column];
    std::vector<double> numbers;
    numbers.reserve(std::min(cells.filled, field.rows));
    for (std::size_t row = 0; row < field.rows && cells.HasCell(row); ++row)
        numbers.push_back(cells.kind == trace::CellKind::F32 ? shortestDecimal(cells.F32(row))
                                                             : cells.Number(row));
    return numbers;
}

Status OfficePaste::PasteInWord(std::string_view pictureFile) {
    const Attachment attached = server_.attach();
    if (!attached)
        return notAttached(attached);
    OfficeConnection& office = **attached;
    if (Status pasted = office.pastePicture(pictureFile); !pasted)
        return failure(office, "The hardcopy was not pasted into the text document: " +
                                   endSentence(pasted.error()));
    return {};
}

Status OfficePaste::PasteInExcel(const trace::TraceField& field) {
    const Attachment attached = server_.attach();
    if (!attached)
        return notAttached(attached);
    OfficeConnection& office = **attached;
    const std::string notPasted = "The trace was not pasted into the spreadsheet: ";

    const Result<CellAddress> start = office.activeCell();
    if (!start)
        return failure(office, notPasted + endSentence(start.error()));
    const std::size_t rows = field.RowCount();
    const std::size_t columns = field.ColumnCount();
    if (rows == 0 || columns == 0)
        return {};

    // The whole block is checked before anything is written: a 0 or a formula is data too.
    const Result<Occupancy> occupied = office.occupiedCells(start.value(), rows, columns);
    if (!occupied)
        return failure(office, notPasted + endSentence(occupied.error()));
    if (occupied->count > 0) {
        const bus::MessageResult answer = boxes_.messageBox(
            bus::MessageIcon::Critical, "", kOccupiedQuestion, bus::MessageButtons::YesNo);
        if (answer != bus::MessageResult::Yes)
            return fail(ErrorKind::Declined,
                        notPasted + std::to_string(occupied->count) +
                            " cell(s) of the target block " + cellName(start.value()) +
                            " on are not empty, the first is " + occupied->first +
                            ". Choose an empty place as the active cell and read the trace again.");
    }

    for (std::size_t c = 0; c < columns; ++c) {
        const CellAddress top{start->row, start->column + static_cast<long>(c)};
        if (Status written = office.writeColumn(top, columnNumbers(field, c)); !written) {
            // What went in stays; the active cell stays where the block begins.
            const std::string done = c == 0 ? std::string("nothing was written")
                                            : std::to_string(c) + " of " + std::to_string(columns) +
                                                  " columns were written from " +
                                                  cellName(start.value()) + " on";
            return failure(office, "The trace was pasted only in part (" + done + "): " +
                                       endSentence(written.error()) + " The active cell stays at " +
                                       cellName(start.value()) + ".");
        }
    }
    // The next trace lands beside this one.
    if (Status moved = office.moveActiveCell(0, static_cast<long>(columns)); !moved)
        return failure(office, "The trace was pasted from " + cellName(start.value()) +
                                   " on, but the active cell could not be moved beside it: " +
                                   endSentence(moved.error()));
    return {};
}

}  // namespace benchcap::office
