#include "base/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

namespace benchcap {

namespace fs = std::filesystem;

namespace {

Error systemError(const fs::path& file, const char* what, int error) {
    return Error{"Cannot " + std::string(what) + " \"" + file.string() +
                 "\": " + std::strerror(error) + "."};
}

// The umask cannot be read without setting it; /proc has it without side effects.
mode_t currentUmask() {
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            unsigned mask = 0;
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                std::fclose(status);
                return static_cast<mode_t>(mask);
            }
        }
        std::fclose(status);
    }
    return 022;
}

// A temporary name that fits the file system's name limit even when the target's name is
// already as long as allowed: the suffix replaces the end of a long name.
std::string temporaryName(const std::string& name, unsigned long token) {
    std::string suffix = ".~" + std::to_string(token) + ".tmp";
    std::string stem = "." + name;
    constexpr std::size_t kMaxName = 255;
    if (stem.size() + suffix.size() > kMaxName)
        stem.resize(kMaxName - suffix.size());
    return stem + suffix;
}

}  // namespace

Result<OutputFile> OutputFile::create(const fs::path& target) {
    if (target.empty() || !target.has_filename())
        return Error{"No output file name given."};
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISDIR(old.st_mode))
        return systemError(target, "write", EISDIR);

    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::random_device random;
    std::mt19937_64 tokens(random());
    OutputFile file;
    int error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = folder / temporaryName(target.filename().string(),
                                                          static_cast<unsigned long>(tokens()));
        const int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            file.fd_ = fd;
            file.temporary_ = candidate;
            file.target_ = target;
            file.done_ = false;
            return file;
        }
        error = errno;
        if (error != EEXIST)
            break;
    }
    return systemError(target, "create", error);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      written_(other.written_),
      done_(std::exchange(other.done_, true)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        discard();
        fd_ = std::exchange(other.fd_, -1);
        target_ = std::move(other.target_);
        temporary_ = std::move(other.temporary_);
        written_ = other.written_;
        done_ = std::exchange(other.done_, true);
    }
    return *this;
}

OutputFile::~OutputFile() {
    discard();
}

Status OutputFile::write(std::string_view bytes) {
    return write(bytes.data(), bytes.size());
}

Status OutputFile::write(const void* data, std::size_t size) {
    if (done_ || fd_ < 0)
        return Error{"Cannot write \"" + target_.string() + "\": the file is not open."};
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, next, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return systemError(target_, "write", errno);
        }
        next += n;
        size -= static_cast<std::size_t>(n);
        written_ += static_cast<std::size_t>(n);
    }
    return {};
}

void OutputFile::closeForOtherWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

Status OutputFile::commit() {
    if (done_)
        return Error{"Cannot write \"" + target_.string() + "\": the file is not open."};
    if (fd_ < 0) {
        // Another writer filled the file by name; reopen it to flush it to the disk.
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd_ < 0) {
            const int error = errno;
            discard();
            return systemError(target_, "write", error);
        }
    }
    struct stat old {};
    const mode_t mode =
        ::stat(target_.c_str(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~currentUmask());
    int error = 0;
    if (::fchmod(fd_, mode) != 0 || ::fsync(fd_) != 0)
        error = errno;
    if (::close(fd_) != 0 && error == 0)
        error = errno;
    fd_ = -1;
    if (error == 0 && std::rename(temporary_.c_str(), target_.c_str()) != 0)
        error = errno;
    if (error != 0) {
        discard();
        return systemError(target_, "write", error);
    }
    done_ = true;
    // The rename itself reaches the disk with the folder.
    const fs::path folder = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

void OutputFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!done_) {
        ::unlink(temporary_.c_str());
        done_ = true;
    }
}

Status writeOutputFile(const fs::path& target, std::string_view bytes) {
    Result<OutputFile> file = OutputFile::create(target);
    if (!file)
        return Error{file.error()};
    if (Status written = file->write(bytes); !written)
        return written;
    return file->commit();
}

}  // namespace benchcap
