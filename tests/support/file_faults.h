#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/output_file.h"

namespace benchcap::test {

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Entries in a folder, to see that no temporary file was left behind.
inline long folderEntries(const std::filesystem::path& folder) {
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

// While alive, writes that would make a file longer than `bytes` fail with EFBIG, as on a
// full disk; works for root too, unlike a read-only folder.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) : oldHandler_(signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &old_);
        const rlimit limit{bytes, old_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    sighandler_t oldHandler_;
    rlimit old_{};
};

// A disk with `bytes` free for every file written through calls(): a write takes what
// still fits, the next one fails with ENOSPC, as on a full file system.
class SmallDisk {
  public:
    explicit SmallDisk(std::size_t bytes) : calls_(FileCalls::system()), free_(bytes) {
        calls_.write = [this](int fd, const void* data, std::size_t size) -> ssize_t {
            if (free_ == 0) {
                errno = ENOSPC;
                return -1;
            }
            const ssize_t n = ::write(fd, data, std::min(size, free_));
            if (n > 0)
                free_ -= static_cast<std::size_t>(n);
            return n;
        };
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    const FileCalls& calls() const { return calls_; }

  private:
    FileCalls calls_;
    std::size_t free_;
};

}  // namespace benchcap::test
