#include "hardcopy/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

namespace benchcap::hardcopy {

namespace {
std::string systemError() {
    return std::strerror(errno);
}
}  // namespace

PendingFile::~PendingFile() {
    discard();
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      tempPath_(std::exchange(other.tempPath_, {})),
      target_(std::exchange(other.target_, {})) {}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
    if (this != &other) {
        discard();
        fd_ = std::exchange(other.fd_, -1);
        tempPath_ = std::exchange(other.tempPath_, {});
        target_ = std::exchange(other.target_, {});
    }
    return *this;
}

bool PendingFile::open(const std::string& target, std::string& error) {
    discard();
    namespace fs = std::filesystem;
    const fs::path path(target);
    if (target.empty() || !path.has_filename()) {
        error = "no output file name given";
        return false;
    }
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        error = "cannot create a file in folder '" + folder.string() + "': " + systemError();
        return false;
    }
    // mkstemp makes the file private; a picture file is an ordinary document.
    ::fchmod(fd, 0644);
    fd_ = fd;
    tempPath_ = name.data();
    target_ = target;
    return true;
}

bool PendingFile::write(const char* data, size_t size, std::string& error) {
    if (fd_ < 0) {
        error = "output file is not open";
        return false;
    }
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = "cannot write '" + target_ + "': " + systemError();
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void PendingFile::closeForOtherWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool PendingFile::commit(std::string& error) {
    if (tempPath_.empty()) {
        error = "output file is not open";
        return false;
    }
    if (fd_ >= 0) {
        const int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0) {
            error = "cannot write '" + target_ + "': " + systemError();
            discard();
            return false;
        }
    }
    if (std::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        error = "cannot store '" + target_ + "': " + systemError();
        discard();
        return false;
    }
    tempPath_.clear();
    return true;
}

void PendingFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

}  // namespace benchcap::hardcopy
