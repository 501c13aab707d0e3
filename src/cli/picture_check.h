#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "base/result.h"
#include "hardcopy/picture/picture.h"

namespace benchcap::cli {

// The hardcopy command's check of a received picture before it replaces anything: a file
// the viewers could not show (a block of zeros, a cut metafile) is refused with the
// reason the picture readers give (Qt's image reader for BMP, our player for WMF).
inline Status checkHardcopyPicture(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return fail("it cannot be read back");
    const auto picture = picture::pictureFromBytes(std::move(bytes));
    if (!picture)
        return fail(picture.error());
    return {};
}

}  // namespace benchcap::cli
