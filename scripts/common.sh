# Shared by scripts/demo.sh and scripts/test.sh: install what is missing, build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

PACKAGES=(
  build-essential cmake ninja-build clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libpng-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev libyaml-cpp-dev libcli11-dev libssl-dev libre2-dev
  xvfb xauth poppler-utils desktop-file-utils fonts-dejavu-core
  libreoffice-calc-nogui libreoffice-writer-nogui python3-uno
  python3-pyvisa python3-pyvisa-py
)

install_deps() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "== installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# How the thread tests run under ThreadSanitizer (scripts/test.sh, scripts/breakages.sh).
# Qt, glib and the C++ library are not instrumented: their own hand-overs (Qt's event queue
# and thread pool, QThread's end) are invisible to ThreadSanitizer, so accesses made inside
# them are not checked (ignore_noninstrumented_modules); every access of our code is. No
# suppressions beyond that. The tests that start programs with QProcess are left out:
# ThreadSanitizer aborts in the child of QProcess's clone(); they run in the other stages.
TSAN_TESTS="app_tests bus_log_window_tests recorder_tests adapter_tests lan_tests"
TSAN_ENV=(
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1"
  GTEST_FILTER="-WindowProgram.*:HardcopyWindowTest.PrintPutsThePictureFramedAndCaptionedOnEachCopy"
)

# report_skips BUILD_DIR: the tests GoogleTest skipped in the last ctest run there, counted
# and named, so that a skip is seen rather than passed over.
report_skips() {
  local log="$1/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || return 0
  local skipped
  skipped="$(grep -ahoE '^\[  SKIPPED \] [^ ]+\.[^ ]+' "$log" | awk '{print $4}' | sort -u || true)"
  if [ -z "$skipped" ]; then
    echo "== skipped tests: 0"
  else
    echo "== skipped tests: $(wc -l <<<"$skipped")"
    sed 's/^/   /' <<<"$skipped"
  fi
}

# build DIR [cmake options...]: builds everything, or the targets named in BUILD_TARGETS.
# Every option is given once, the caller's or else the default below, so that a folder's
# cached choices from an earlier configure (tests off, another compiler) never carry over.
BUILD_DEFAULTS=(
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ -DBENCHCAP_WERROR=OFF
  -DBENCHCAP_TESTS=ON -DBENCHCAP_BENCH=ON -DBENCHCAP_FUZZ=OFF -DBENCHCAP_SANITIZE=OFF
  -DBENCHCAP_TSAN=OFF
)
build() {
  local dir="$1"; shift
  local options=("$@") default given
  for default in "${BUILD_DEFAULTS[@]}"; do
    for given in "$@"; do
      [ "${given%%[:=]*}" = "${default%%=*}" ] && continue 2
    done
    options+=("$default")
  done
  # Another compiler than the folder's makes CMake start its cache afresh, and that run drops
  # the options given with it: start afresh here instead, so that they hold.
  local compiler="" cached
  for given in "${options[@]}"; do
    [[ "$given" == -DCMAKE_CXX_COMPILER[:=]* ]] && compiler="${given#*=}"
  done
  cached="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt" 2>/dev/null || true)"
  if [ -n "$cached" ] && [ "$(command -v "$cached" || echo "$cached")" != "$(command -v "$compiler" || echo "$compiler")" ]; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  cmake -S "$ROOT" -B "$dir" -G Ninja "${options[@]}" >/dev/null
  # shellcheck disable=SC2086 # the targets are words
  cmake --build "$dir" -j "$JOBS" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
}
