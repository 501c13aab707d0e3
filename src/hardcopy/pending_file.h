#pragma once

#include <cstddef>
#include <string>

namespace benchcap::hardcopy {

// An output file that appears under its name only when it is complete. It is written under
// a temporary name in the target's folder (so the final rename stays on one file system)
// and removed again unless commit() succeeds: a failed transfer leaves no file behind and
// an earlier file of that name untouched.
class PendingFile {
  public:
    PendingFile() = default;
    ~PendingFile();
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&& other) noexcept;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Creates the temporary file beside `target`; on failure returns false and sets `error`.
    bool open(const std::string& target, std::string& error);
    bool isOpen() const { return fd_ >= 0 || !tempPath_.empty(); }

    bool write(const char* data, size_t size, std::string& error);
    // Closes the temporary file so that another writer (the driver's read-to-file) can
    // fill it by name.
    void closeForOtherWriter();
    const std::string& tempPath() const { return tempPath_; }
    const std::string& target() const { return target_; }

    // Closes the file and gives it its final name, replacing an earlier file of that name.
    bool commit(std::string& error);
    // Removes the temporary file (also done by the destructor).
    void discard();

  private:
    int fd_ = -1;
    std::string tempPath_;
    std::string target_;
};

}  // namespace benchcap::hardcopy
