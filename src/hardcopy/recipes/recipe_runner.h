#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "base/result.h"
#include "bus/clock.h"
#include "bus/session.h"
#include "hardcopy/hardcopy_types.h"
#include "recipes/recipe_book.h"

namespace benchcap::recipes {

// The largest picture read without a length header (framing end or raw): far above any
// instrument screen, so only a runaway stream is cut.
inline constexpr int64_t kMaxStreamedPicture = int64_t{256} << 20;

struct RunOptions {
    // Pauses of `delay_s` and between polls; null: the real clock.
    bus::Clock* clock = nullptr;
    // Refuses a complete picture that cannot be loaded (none: the magic bytes decide).
    hardcopy::PictureCheck check = nullptr;
};

// Takes the screen picture of `recipe` from the instrument the session has selected and
// identified: prepare, produce, wait (bounded by the row's timeout_s), fetch with its
// framing, the check of the picture's type by its first bytes, then restore, which is
// sent after a failure too. The picture reaches `localFile` (through OutputFile) only when
// it is complete and of the expected type; returns its size. A failure says "recipe NAME,
// step STEP: what happened" and what to do; a stop request ends with kInterruptedMessage.
Result<int64_t> RunScreenRecipe(bus::Session& session, const Recipe& recipe,
                                const std::filesystem::path& localFile,
                                const RunOptions& options = {});

}  // namespace benchcap::recipes
