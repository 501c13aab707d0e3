#include "recorder/record_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

namespace benchcap::recorder {

RotatingCsv::RotatingCsv(std::filesystem::path folder, std::string stem, int64_t rotateBytes,
                         const FileCalls& calls)
    : folder_(std::move(folder)),
      stem_(std::move(stem)),
      rotateBytes_(rotateBytes),
      calls_(calls) {}

RotatingCsv::~RotatingCsv() {
    (void)close();
}

Status RotatingCsv::failed(const std::string& what, int error) {
    if (fd_ >= 0)
        calls_.close(fd_);
    fd_ = -1;
    failed_ = true;
    const std::string reason =
        error == EEXIST  ? "a file of that name is there already, and a recording never writes "
                           "over a file"
        : error == EFBIG ? std::string(std::strerror(error)) + " (the file-size limit, ulimit -f)"
                         : std::strerror(error);
    error_ =
        fail(ErrorKind::File, "Cannot " + what + " " + (folder_ / name_).string() + ": " + reason +
                                  ". The recording ends here" +
                                  (part_ > 1 || size_ > 0 ? "; every row before is kept." : "."));
    return error_;
}

Status RotatingCsv::writeAll(std::string_view bytes) {
    const int64_t before = size_;
    while (!bytes.empty()) {
        const ssize_t n = calls_.write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            // A full disk may take part of the row: cut it off again, so that the file ends
            // with its last whole row and a spreadsheet reads no broken line.
            if (size_ > before && ::ftruncate(fd_, before) == 0)
                size_ = before;
            return failed("write", error);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
        size_ += n;
    }
    return {};
}

Status RotatingCsv::openNextPart(int64_t nowMicros) {
    if (fd_ >= 0) {
        calls_.fsync(fd_);
        if (calls_.close(fd_) != 0) {
            fd_ = -1;
            return failed("close", errno);
        }
        fd_ = -1;
    }
    ++part_;
    name_ = stem_ + (part_ == 1 ? "" : "-" + std::to_string(part_)) + ".csv";
    const std::string path = (folder_ / name_).string();
    fd_ = calls_.open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return failed("create", errno);
    size_ = 0;
    lastSync_ = nowMicros;
    return writeAll(head_);
}

Status RotatingCsv::setHead(std::string head, int64_t nowMicros) {
    if (failed_)
        return error_;
    if (fd_ >= 0 && head == head_)
        return {};
    head_ = std::move(head);
    return openNextPart(nowMicros);
}

Status RotatingCsv::append(std::string_view row, int64_t nowMicros) {
    if (failed_)
        return error_;
    if (fd_ < 0 || (size_ > static_cast<int64_t>(head_.size()) &&
                    size_ + static_cast<int64_t>(row.size()) > rotateBytes_)) {
        if (const Status opened = openNextPart(nowMicros); !opened)
            return opened;
    }
    rowStart_ = size_;
    if (const Status written = writeAll(row); !written) {
        rowStart_ = -1;
        return written;
    }
    if (nowMicros - lastSync_ >= kSyncEveryMicros) {
        lastSync_ = nowMicros;
        if (calls_.fsync(fd_) != 0 && errno != EINVAL)
            return failed("write", errno);
    }
    return {};
}

void RotatingCsv::dropLastRow() {
    if (fd_ >= 0 && rowStart_ >= 0 && size_ > rowStart_ && ::ftruncate(fd_, rowStart_) == 0)
        size_ = rowStart_;
    rowStart_ = -1;
}

Status RotatingCsv::close() {
    if (failed_)
        return error_;
    if (fd_ < 0)
        return {};
    const int fd = fd_;
    fd_ = -1;
    const bool synced = calls_.fsync(fd) == 0 || errno == EINVAL;
    const int syncError = errno;
    if (calls_.close(fd) != 0 || !synced)
        return failed("write", synced ? errno : syncError);
    return {};
}

namespace {

std::tm utcParts(int64_t unixMicros) {
    const std::time_t seconds = static_cast<std::time_t>(unixMicros / 1'000'000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    return parts;
}

}  // namespace

std::string utcText(int64_t unixMicros) {
    const std::tm t = utcParts(unixMicros);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(unixMicros / 1000 % 1000));
    return text;
}

std::string fileStamp(int64_t unixMicros) {
    const std::tm t = utcParts(unixMicros);
    char text[96];
    std::snprintf(text, sizeof text, "%02d.%02d.%02d-%02d.%02d.%02d", t.tm_year % 100, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

void appendSeconds(std::string& out, int64_t micros, char separator) {
    const int64_t millis = (micros + (micros >= 0 ? 500 : -500)) / 1000;
    out += std::to_string(millis / 1000);
    out += separator;
    char fraction[4];
    std::snprintf(fraction, sizeof fraction, "%03d", static_cast<int>(std::abs(millis % 1000)));
    out += fraction;
}

namespace {

// A file an earlier recording left that this one would write again: the CSV files (their
// parts included) and the waterfall pictures. Pictures and Touchstone files get names of
// their own.
bool recordingFile(const std::string& name) {
    return ((name.starts_with("record") || name.starts_with("trace")) && name.ends_with(".csv")) ||
           (name.starts_with("trace") && name.ends_with("-waterfall.png"));
}

}  // namespace

Result<std::filesystem::path> makeRecordFolder(const std::filesystem::path& base, bool exact) {
    std::error_code ec;
    if (exact) {
        for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
            if (recordingFile(entry.path().filename().string())) {
                return fail(ErrorKind::Usage,
                            "Cannot record into " + base.string() + ": it holds " +
                                entry.path().filename().string() +
                                " of an earlier recording, and a recording never writes over "
                                "a file; give a new folder");
            }
        }
        ec.clear();
        std::filesystem::create_directories(base, ec);
        if (!ec && std::filesystem::is_directory(base, ec))
            return base;
        return fail(ErrorKind::File, "Cannot make the recording folder " + base.string() + ": " +
                                         (ec ? ec.message() : "a file of that name is there"));
    }
    for (int n = 1; n < 1000; ++n) {
        std::filesystem::path folder = base;
        if (n > 1)
            folder += "-" + std::to_string(n);
        if (std::filesystem::create_directory(folder, ec))
            return folder;
        if (ec)
            return fail(ErrorKind::File, "Cannot make the recording folder " + folder.string() +
                                             ": " + ec.message());
    }
    return fail(ErrorKind::File, "Cannot make the recording folder " + base.string() +
                                     ": 999 folders of that name are there already");
}

}  // namespace benchcap::recorder
