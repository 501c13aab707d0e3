#include "base/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

namespace benchcap {

namespace fs = std::filesystem;

namespace {

// What the engineer can do about the usual reasons.
const char* advice(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
            return " Free some space on that disk or choose another folder.";
        case EFBIG:
            return " The file is larger than this system allows here (file-size limit); raise "
                   "the limit or choose another disk.";
        case EROFS:
        case EACCES:
        case EPERM:
            return " Choose a folder you can write to.";
        case ENOENT:
        case ENOTDIR:
            return " Check that the folder exists.";
        case EISDIR:
            return " Give a file name, not a folder.";
        case ENAMETOOLONG:
            return " Choose a shorter name.";
        case EIO:
            return " The disk reported an error; check it and try again.";
        default:
            return "";
    }
}

Error systemError(const fs::path& file, const char* what, int error) {
    return Error{"Cannot " + std::string(what) + " \"" + file.string() +
                     "\": " + std::strerror(error) + "." + advice(error),
                 ErrorKind::File};
}

const char* specialKind(mode_t mode) {
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISFIFO(mode))
        return "a FIFO (named pipe)";
    if (S_ISSOCK(mode))
        return "a socket";
    return nullptr;
}

fs::path folderOf(const fs::path& target) {
    return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

// A temporary name that fits the usual 255-byte name limit even when the target's name is
// already that long: the suffix replaces the end of a long name.
std::string temporaryName(const std::string& name, unsigned long long token) {
    const std::string suffix = ".~" + std::to_string(token) + ".tmp";
    std::string stem = "." + name;
    constexpr std::size_t kMaxName = 255;
    if (stem.size() + suffix.size() > kMaxName)
        stem.resize(kMaxName - suffix.size());
    return stem + suffix;
}

// Tokens only spread the names; O_EXCL is what makes them safe. random_device may be
// unavailable on odd systems, so the clock and the process stand in for it.
std::mt19937_64 tokenSource() {
    std::uint64_t seed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    seed ^= static_cast<std::uint64_t>(::getpid()) << 32;
    try {
        std::random_device random;
        seed ^= (static_cast<std::uint64_t>(random()) << 32) ^ random();
    } catch (...) {
    }
    return std::mt19937_64(seed);
}

}  // namespace

namespace {

// The refusal of a target whose stat() gave `mode`, or nothing.
Status specialTarget(const fs::path& target, mode_t mode) {
    if (const char* kind = specialKind(mode)) {
        return Error{"Cannot write \"" + target.string() + "\": it is " + kind +
                         ", not a regular file, and Benchcap writes only regular files. Give "
                         "the name of a file.",
                     ErrorKind::Usage};
    }
    return {};
}

}  // namespace

Status checkOutputTarget(const fs::path& target) {
    struct stat seen {};
    // stat follows a symlink: /dev/stdout is a link to a terminal or a pipe.
    if (target.empty() || ::stat(target.c_str(), &seen) != 0)
        return {};
    return specialTarget(target, seen.st_mode);
}

const FileCalls& FileCalls::system() {
    static const FileCalls calls{
        [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
        [](int fd, const void* data, std::size_t size) { return ::write(fd, data, size); },
        [](int fd) { return ::fsync(fd); },
        [](int fd) { return ::close(fd); },
        [](const char* from, const char* to) { return std::rename(from, to); },
    };
    return calls;
}

Result<OutputFile> OutputFile::create(const fs::path& target, const FileCalls& calls) {
    if (target.empty() || !target.has_filename())
        return Error{"No output file name given for \"" + target.string() + "\"."};
    // A folder (or a link to one) is never replaced by a file.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode))
            return systemError(target, "write", EISDIR);
        if (Status special = specialTarget(target, old.st_mode); !special)
            return special.failure();
    }

    const fs::path folder = folderOf(target);
    const std::string name = target.filename().string();
    std::mt19937_64 tokens = tokenSource();
    bool shortName = false;
    int error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto token = static_cast<unsigned long long>(tokens());
        const fs::path candidate = folder / (shortName ? ".~" + std::to_string(token) + ".tmp"
                                                       : temporaryName(name, token));
        // O_EXCL also refuses a symlink (even a dangling one) at the candidate name.
        const int fd = calls.open(candidate.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            OutputFile file;
            file.calls_ = &calls;
            file.fd_ = fd;
            file.temporary_ = candidate;
            file.target_ = target;
            file.done_ = false;
            // The mode open() gave under the umask (and a folder's default ACL) is what a
            // new target gets, whatever another writer does to the file in between.
            struct stat created {};
            file.newMode_ = ::fstat(fd, &created) == 0 ? (created.st_mode & 07777) : 0644;
            return file;
        }
        error = errno;
        if (error == ENAMETOOLONG && !shortName) {
            shortName = true;  // a file system with a shorter name limit than 255 bytes
            continue;
        }
        if (error != EEXIST)
            break;
    }
    return systemError(target, "write", error);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : calls_(other.calls_),
      fd_(std::exchange(other.fd_, -1)),
      target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      written_(other.written_),
      newMode_(other.newMode_),
      done_(std::exchange(other.done_, true)),
      error_(std::move(other.error_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        discard();
        calls_ = other.calls_;
        fd_ = std::exchange(other.fd_, -1);
        target_ = std::move(other.target_);
        temporary_ = std::move(other.temporary_);
        written_ = other.written_;
        newMode_ = other.newMode_;
        done_ = std::exchange(other.done_, true);
        error_ = std::move(other.error_);
    }
    return *this;
}

OutputFile::~OutputFile() {
    discard();
}

Status OutputFile::failed(const char* what, int error) {
    discard();
    Error e = systemError(target_, what, error);
    error_ = e.message;
    return e;
}

Status OutputFile::write(std::string_view bytes) {
    return write(bytes.data(), bytes.size());
}

Status OutputFile::write(const void* data, std::size_t size) {
    if (!error_.empty())
        return Error{error_};
    if (done_ || fd_ < 0)
        return Error{"Cannot write \"" + target_.string() + "\": the file is not open."};
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = calls_->write(fd_, next, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)  // no progress on a regular file means no room
            return failed("write", n < 0 ? errno : ENOSPC);
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
    if (!error_.empty())
        return Error{error_};
    if (done_)
        return Error{"Cannot write \"" + target_.string() + "\": the file is not open."};
    if (fd_ < 0) {
        // Another writer filled the file by name; reopen it to flush it to the disk.
        fd_ = calls_->open(temporary_.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0);
        if (fd_ < 0)
            return failed("write", errno);
    }
    // lstat: a symlink at the target is replaced, so its target's mode does not count.
    struct stat old {};
    const bool replacing = ::lstat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    if (replacing && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        // Keeps a file that root rewrites for a user that user's; only root may do so,
        // and failing is harmless.
        [[maybe_unused]] const int ignored = ::fchown(fd_, old.st_uid, old.st_gid);
    }
    if (::fchmod(fd_, replacing ? (old.st_mode & 07777) : newMode_) != 0)
        return failed("write", errno);
    if (calls_->fsync(fd_) != 0)
        return failed("write", errno);
    const int fd = std::exchange(fd_, -1);
    if (calls_->close(fd) != 0)
        return failed("write", errno);
    // A device or FIFO made at the name meanwhile is not replaced either.
    if (Status special = checkOutputTarget(target_); !special) {
        discard();
        error_ = special.error();
        return special;
    }
    if (calls_->rename(temporary_.c_str(), target_.c_str()) != 0)
        return failed("write", errno);
    done_ = true;
    // The rename itself reaches the disk with the folder; not every file system can say.
    if (const int dir = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
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

Status writeOutputFile(const fs::path& target, std::string_view bytes, const FileCalls& calls) {
    Result<OutputFile> file = OutputFile::create(target, calls);
    if (!file)
        return file.failure();
    if (Status written = file->write(bytes); !written)
        return written;
    return file->commit();
}

}  // namespace benchcap
