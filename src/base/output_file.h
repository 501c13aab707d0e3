#pragma once

// Every file Benchcap writes goes through OutputFile: the bytes go to a unique temporary
// file in the target's folder (created with O_EXCL | O_NOFOLLOW, so a symlink or a user's
// file of that name is never followed or overwritten), are flushed to the disk, and the
// file takes its final name by an atomic rename only when it is complete. A failed or
// abandoned write leaves no half file and never destroys the file that was there before;
// a process killed mid-write leaves at most a hidden temporary file beside the target.
// A new file gets the permissions the umask allows; a replaced regular file keeps its
// mode (and, where the system allows it, its owner). A symlink at the target is replaced
// by the new file, never followed into what it points to. Only regular files are ever
// replaced: a device node, FIFO or socket at the target (or behind a symlink there) is
// refused, so that `-o /dev/null` run as root never turns the device into a plain file.

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace benchcap {

// The system calls OutputFile makes where the disk can refuse: the real ones by default,
// replaceable in tests to provoke a full disk, a read-only file system or an I/O error at
// a chosen step. Each behaves like its POSIX namesake (-1 and errno on failure).
struct FileCalls {
    std::function<int(const char* path, int flags, mode_t mode)> open;
    std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
    std::function<int(int fd)> fsync;
    std::function<int(int fd)> close;
    std::function<int(const char* from, const char* to)> rename;

    // The real calls; one immutable table.
    static const FileCalls& system();
};

// Why `target` cannot take a new file, or nothing: it is a device node, a FIFO or a socket
// (itself or behind a symlink). The error's kind is Usage: another name must be given.
// Callers that can refuse before any work is done (a command line) ask this first.
Status checkOutputTarget(const std::filesystem::path& target);

class OutputFile {
  public:
    // Creates the temporary file for `target`. Fails (with the file name, the system's
    // reason and what to do; kind File) when the folder is missing or read-only, or the
    // target is a folder; a target checkOutputTarget refuses fails with its kind Usage. `calls`
    // must outlive the OutputFile.
    static Result<OutputFile> create(const std::filesystem::path& target,
                                     const FileCalls& calls = FileCalls::system());

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // discards unless committed

    // Appends bytes. A failed write (full disk, file-size limit) is an error naming the
    // file; the temporary file is removed at once and every later write() or commit()
    // returns the same error, so a half file can never be committed.
    Status write(std::string_view bytes);
    Status write(const void* data, std::size_t size);

    // Closes the temporary file so another writer (a driver's read-to-file call) can fill
    // it by name; write() is not allowed after this.
    void closeForOtherWriter();

    // Flushes the data to the disk and renames the file to its target name. On failure the
    // temporary file is removed and the target stays as it was.
    Status commit();
    // Removes the temporary file; the target stays as it was.
    void discard();

    const std::filesystem::path& target() const { return target_; }
    const std::filesystem::path& temporaryPath() const { return temporary_; }
    std::size_t bytesWritten() const { return written_; }

  private:
    OutputFile() = default;
    Status failed(const char* what, int error);

    const FileCalls* calls_ = nullptr;
    int fd_ = -1;
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::size_t written_ = 0;
    mode_t newMode_ = 0644;  // what open() gave the temporary file under the umask
    bool done_ = true;
    std::string error_;  // the first failure; sticky
};

// The whole file in one go.
Status writeOutputFile(const std::filesystem::path& target, std::string_view bytes,
                       const FileCalls& calls = FileCalls::system());

}  // namespace benchcap
