#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace benchcap::test {

// True where every test must run (BENCHCAP_REQUIRE_ALL set and not "0"; scripts/test.sh
// sets it in CI): a missing font or office there is a broken machine, not a reason to skip.
inline bool mustRunAll() {
    const char* v = std::getenv("BENCHCAP_REQUIRE_ALL");
    return v && *v && std::string_view(v) != "0";
}

}  // namespace benchcap::test

// Skips the test with `reason` unless `condition` holds; where every test must run it
// fails instead, so that CI never passes a test it did not run.
#define BENCHCAP_SKIP_UNLESS(condition, reason)                                           \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            if (::benchcap::test::mustRunAll())                                           \
                GTEST_FAIL() << (reason) << " (BENCHCAP_REQUIRE_ALL is set: install it)"; \
            GTEST_SKIP() << (reason);                                                     \
        }                                                                                 \
    } while (0)
