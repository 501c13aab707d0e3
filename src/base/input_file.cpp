#include "base/input_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace benchcap {

Status checkRegularFile(const std::string& path, const std::string& what) {
    const std::string start = "cannot read " + what + " " + path + ": ";
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return fail(start + std::strerror(errno));
    if (S_ISREG(info.st_mode))
        return {};
    if (S_ISDIR(info.st_mode))
        return fail(start + "it is a folder, not a regular file");
    if (S_ISFIFO(info.st_mode))
        return fail(start +
                    "it is a pipe, not a regular file; save what it carries to a file and name "
                    "that");
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        return fail(start + "it is a device, not a regular file");
    return fail(start + "it is a socket or other special file, not a regular file");
}

namespace {

namespace fs = std::filesystem;

fs::path resolved(const std::string& name) {
    std::error_code ec;
    fs::path path = fs::absolute(name, ec);
    if (ec)
        return fs::path(name).lexically_normal();
    // A bounded walk: a loop of links ends where it stands.
    for (int hops = 0; hops < 40; ++hops) {
        if (!fs::is_symlink(fs::symlink_status(path, ec)) || ec)
            break;
        const fs::path target = fs::read_symlink(path, ec);
        if (ec)
            break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    const fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal() : canonical;
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec) && !ec)
        return true;
    return resolved(a) == resolved(b);
}

}  // namespace benchcap
