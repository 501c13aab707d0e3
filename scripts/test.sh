#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: a normal build, a build under
# AddressSanitizer and UndefinedBehaviorSanitizer, the thread tests under ThreadSanitizer,
# and the fuzz targets over their corpora.
# Warnings are errors here (BENCHCAP_WERROR), never in a user's own build.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
"$ROOT/scripts/check-layers.sh"
install_deps
export QT_QPA_PLATFORM=offscreen
# In CI every test must run: the skip helpers (tests/support/skips.h) turn a missing font
# or office into a failure there.
if [ "${CI:-}" = "true" ]; then
  export BENCHCAP_REQUIRE_ALL=1
fi

echo "== build and test (RelWithDebInfo, gcc)"
build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBENCHCAP_WERROR=ON
ctest --no-tests=error --test-dir "$ROOT/build" --output-on-failure -j "$JOBS"
report_skips "$ROOT/build"

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer (clang)"
build "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DBENCHCAP_WERROR=ON \
  -DBENCHCAP_SANITIZE=ON -DBENCHCAP_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --no-tests=error --test-dir "$ROOT/build-asan" --output-on-failure -j "$JOBS"
report_skips "$ROOT/build-asan"

echo "== build and test under ThreadSanitizer (clang): the window, bus worker, recorder, adapter and LAN tests"
BUILD_TARGETS="$TSAN_TESTS" build "$ROOT/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DBENCHCAP_WERROR=ON -DBENCHCAP_TSAN=ON -DBENCHCAP_BENCH=OFF
env "${TSAN_ENV[@]}" ctest --no-tests=error --test-dir "$ROOT/build-tsan" --output-on-failure \
  -j "$JOBS" -R "^(${TSAN_TESTS// /|})\$"
report_skips "$ROOT/build-tsan"

echo "== fuzz targets: regression corpora and a short run each (clang, libFuzzer)"
build "$ROOT/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DBENCHCAP_WERROR=ON \
  -DBENCHCAP_FUZZ=ON -DBENCHCAP_TESTS=OFF -DBENCHCAP_BENCH=OFF
"$ROOT/scripts/run-fuzzers.sh" "$ROOT/build-fuzz/fuzz" "${FUZZ_SECONDS:-20}"

echo "== all tests passed"
