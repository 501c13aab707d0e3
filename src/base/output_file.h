#pragma once

// Every file Benchcap writes goes through OutputFile: the bytes go to a unique temporary
// file in the target's folder (created with O_EXCL, so a symlink or a user's file of that
// name is never followed or overwritten), are flushed to the disk, and the file takes its
// final name by an atomic rename only when it is complete. A failed, interrupted or
// abandoned write leaves no half file and never destroys the file that was there before.
// A new file gets the permissions the umask allows; a replaced file keeps its mode.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/result.h"

namespace benchcap {

class OutputFile {
  public:
    // Creates the temporary file for `target`. Fails (with the file name and the system's
    // reason) when the folder is missing or read-only, or the target is a folder.
    static Result<OutputFile> create(const std::filesystem::path& target);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // discards unless committed

    // Appends bytes. A short write (full disk, file-size limit) is an error naming the file.
    Status write(std::string_view bytes);
    Status write(const void* data, std::size_t size);

    // Closes the temporary file so another writer (a driver's read-to-file call) can fill
    // it by name; write() is not allowed after this.
    void closeForOtherWriter();

    // Flushes the data to the disk and renames the file to its target name.
    Status commit();
    // Removes the temporary file; the target stays as it was.
    void discard();

    const std::filesystem::path& target() const { return target_; }
    const std::filesystem::path& temporaryPath() const { return temporary_; }
    std::size_t bytesWritten() const { return written_; }

  private:
    OutputFile() = default;
    int fd_ = -1;
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::size_t written_ = 0;
    bool done_ = true;
};

// The whole file in one go.
Status writeOutputFile(const std::filesystem::path& target, std::string_view bytes);

}  // namespace benchcap
