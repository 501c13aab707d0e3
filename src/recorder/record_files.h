#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/output_file.h"
#include "base/result.h"

namespace benchcap::recorder {

// A CSV file a recording appends to, kept open for the whole recording. Unlike the other
// outputs (OutputFile: whole file, then rename) a recording must survive being killed, so
// each row goes to the kernel with write() as soon as it is complete: kill -9 loses at most
// the row being written. fsync (against a power cut) runs at most once per `syncEvery` of
// bus time and at the end, so that ten rows a second do not wait for the disk ten times.
// At `rotateBytes` the file continues in NAME-2.csv, NAME-3.csv, ... each starting with
// the same head. Files are created exclusively: a recording never writes over a file.
class RotatingCsv {
  public:
    RotatingCsv(std::filesystem::path folder, std::string stem, int64_t rotateBytes,
                const FileCalls& calls = FileCalls::system());
    ~RotatingCsv();
    RotatingCsv(const RotatingCsv&) = delete;
    RotatingCsv& operator=(const RotatingCsv&) = delete;

    // The head every part starts with (comment lines, column names, an axis row); a changed
    // head starts a new part, so each file stays one table.
    Status setHead(std::string head, int64_t nowMicros);
    // Appends one complete row (with its line end). A failure is sticky: the file is closed
    // and every later call returns the same error.
    Status append(std::string_view row, int64_t nowMicros);
    // Cuts off the row the last append() wrote, for a row that must not stay alone (its
    // partner in another file failed). Nothing when that append failed.
    void dropLastRow();
    // Flushes to the disk and closes.
    Status close();

    // The name of the part written now ("trace1.csv", "trace1-2.csv"), empty before the first.
    std::string currentName() const { return name_; }
    bool isOpen() const { return fd_ >= 0; }

    static constexpr int64_t kSyncEveryMicros = 1'000'000;

  private:
    Status openNextPart(int64_t nowMicros);
    Status writeAll(std::string_view bytes);
    Status failed(const std::string& what, int error);

    std::filesystem::path folder_;
    std::string stem_;
    int64_t rotateBytes_;
    const FileCalls& calls_;
    std::string head_;
    std::string name_;
    int part_ = 0;
    int fd_ = -1;
    int64_t size_ = 0;
    int64_t rowStart_ = -1;  // where the last appended row begins; -1: none to drop
    int64_t lastSync_ = 0;
    Error error_;
    bool failed_ = false;
};

// "2026-12-07T13:02:11.123Z" for microseconds since 1970 (UTC).
std::string utcText(int64_t unixMicros);
// "26.12.07-13.02.11", the stamp of automatic file names, of the UTC moment.
std::string fileStamp(int64_t unixMicros);
// Seconds with three decimals and `separator` ("12.345"), for the elapsed-time columns.
void appendSeconds(std::string& out, int64_t micros, char separator);

// Makes a new folder `base` (or base-2, base-3, ... when that exists) and returns it;
// for a chosen folder (`exact`), makes it when missing and accepts it when it exists and
// holds no CSV file or waterfall picture of an earlier recording (refused with the kind
// Usage: another folder must be given).
Result<std::filesystem::path> makeRecordFolder(const std::filesystem::path& base, bool exact);

}  // namespace benchcap::recorder
