#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace benchcap::office {

// A spreadsheet cell, 1-based as the office programs count (row 5, column 3 is C5).
struct CellAddress {
    long row = 1;
    long column = 1;
    bool operator==(const CellAddress&) const = default;
};

// "C5" for row 5, column 3.
std::string cellName(CellAddress cell);

// Occupied cells of a block: how many, and the first one by column, then row ("C9").
struct Occupancy {
    std::size_t count = 0;
    std::string first;
};

// One attachment to a running office program: the calls a paste makes. The spreadsheet
// calls work on the active sheet of the active spreadsheet as it was at activeCell().
class OfficeConnection {
  public:
    virtual ~OfficeConnection() = default;
    // The picture (bytes of a PNG, BMP or WMF file) at the view cursor of the active text
    // document, as a picture object.
    virtual Status pastePicture(std::string_view pictureFile) = 0;
    virtual Result<CellAddress> activeCell() = 0;
    // Cells of the block holding anything (a number, 0 included, text or a formula).
    virtual Result<Occupancy> occupiedCells(CellAddress first, std::size_t rows,
                                            std::size_t columns) = 0;
    // values[i] into the cell i rows below `first`, as numbers.
    virtual Status writeColumn(CellAddress first, const std::vector<double>& values) = 0;
    virtual Status moveActiveCell(long rows, long columns) = 0;
    // True once a call went unanswered in time: the connection is given up and every
    // later call fails.
    virtual bool lost() const = 0;
};

// One attachment to a running office program, or why there is none: kind NotReachable
// when no office program accepts connections, TimedOut when it did not answer in time.
using Attachment = Result<std::unique_ptr<OfficeConnection>>;

// Where the running office program is reached. Each paste attaches anew and lets go at
// its end.
class OfficeServer {
  public:
    virtual ~OfficeServer() = default;
    virtual Attachment attach() = 0;
};

}  // namespace benchcap::office
