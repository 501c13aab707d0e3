#!/usr/bin/env bash
# Proves that the tests catch the faults that matter: each line of scripts/breakages.txt
# breaks one source line in a scratch copy of the tree, rebuilds incrementally and runs the
# test programs named there; a breakage no test notices is reported and fails the run.
#
#   scripts/breakages.sh [REV] [PATTERN]
#
# REV (default HEAD) is the commit to check; PATTERN (a grep -E pattern) picks breakages by
# their line. The scratch copy lives in build-breakages/ beside build/ (the same relative
# paths, so ccache's hits from an ordinary build carry over) and is kept between runs: only
# files that differ are copied, so a second run rebuilds little.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# TSAN_ENV: the settings of scripts/test.sh's ThreadSanitizer stage.
source "$ROOT/scripts/common.sh"
REV="${1:-HEAD}"
PATTERN="${2:-.}"
LIST="$ROOT/scripts/breakages.txt"
SCRATCH="${BREAKAGES_DIR:-$ROOT/build-breakages}"
TREE="$SCRATCH/tree"
JOBS="${JOBS:-2}"
export QT_QPA_PLATFORM=offscreen

echo "== scratch copy of $REV in $TREE"
mkdir -p "$SCRATCH/export" "$TREE"
rm -rf "$SCRATCH/export" && mkdir -p "$SCRATCH/export"
git -C "$ROOT" archive "$REV" | tar -x -C "$SCRATCH/export"
# Copy only what differs, so that unchanged files keep their times and are not rebuilt.
python3 - "$SCRATCH/export" "$TREE" <<'PY'
import filecmp, os, shutil, sys
src, dst = sys.argv[1], sys.argv[2]
for base, dirs, files in os.walk(src):
    rel = os.path.relpath(base, src)
    os.makedirs(os.path.join(dst, rel), exist_ok=True)
    for f in files:
        a, b = os.path.join(base, f), os.path.join(dst, rel, f)
        if not os.path.exists(b) or not filecmp.cmp(a, b, shallow=False):
            shutil.copy2(a, b)
PY

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$TREE" -B "$TREE/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBENCHCAP_WERROR=ON \
  -DBENCHCAP_BENCH=OFF "${launcher[@]}" >/dev/null
echo "== building the scratch copy (once; later runs are incremental)"
cmake --build "$TREE/build" -j "$JOBS" >"$SCRATCH/build.log" 2>&1 ||
  { tail -30 "$SCRATCH/build.log"; echo "the unbroken tree does not build"; exit 2; }

# A test program written tsan:NAME runs from a ThreadSanitizer build of the scratch copy
# (made at the first such row): a race breaks nothing else a test can see.
build_dir() { [[ "$1" == tsan:* ]] && echo "$TREE/build-tsan" || echo "$TREE/build"; }
build_targets() {
  local plain=() tsan=()
  for t in "$@"; do [[ "$t" == tsan:* ]] && tsan+=("${t#tsan:}") || plain+=("$t"); done
  if [ ${#plain[@]} -gt 0 ]; then
    cmake --build "$TREE/build" -j "$JOBS" --target "${plain[@]}" || return 1
  fi
  if [ ${#tsan[@]} -gt 0 ]; then
    [ -f "$TREE/build-tsan/build.ninja" ] ||
      cmake -S "$TREE" -B "$TREE/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DBENCHCAP_WERROR=ON -DBENCHCAP_TSAN=ON -DBENCHCAP_BENCH=OFF \
        "${launcher[@]}" >/dev/null || return 1
    cmake --build "$TREE/build-tsan" -j "$JOBS" --target "${tsan[@]}" || return 1
  fi
}

# apply FILE ORIGINAL BROKEN: replaces the one occurrence of ORIGINAL; fails when there is none
# or more than one (the line changed or the fragment is ambiguous).
apply() {
  python3 - "$@" <<'PY'
import sys
path, original, broken = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
n = text.count(original)
if n != 1:
    sys.exit(f"{n} occurrences")
open(path, "w", encoding="utf-8").write(text.replace(original, broken))
PY
}

# Read from a copy, so that editing the list during a run does not disturb it.
cp "$LIST" "$SCRATCH/breakages.txt"
results="$SCRATCH/results.txt"
: >"$results"
total=0
missed=0
number=0
while IFS=$'\t' read -r file original broken tests; do
  [[ -z "$file" || "$file" == \#* ]] && continue
  number=$((number + 1))
  line="$number $file: $original -> $broken"
  grep -Eq -- "$PATTERN" <<<"$line" || continue
  total=$((total + 1))
  cp "$TREE/$file" "$SCRATCH/saved"
  verdict=""
  if ! why=$(apply "$TREE/$file" "$original" "$broken" 2>&1); then
    verdict="STALE ($why)"
  elif ! build_targets $tests >"$SCRATCH/last-build.log" 2>&1; then
    verdict="DOES NOT BUILD"
  else
    failed=()
    missing=()
    for t in $tests; do
      env "${TSAN_ENV[@]}" ctest --no-tests=error --test-dir "$(build_dir "$t")" \
        -R "^${t#tsan:}\$" --timeout 600 >"$SCRATCH/last-test.log" 2>&1 && continue
      # A misspelt program is no catch.
      if grep -q "No tests were found" "$SCRATCH/last-test.log"; then missing+=("$t"); else failed+=("$t"); fi
    done
    if [ ${#missing[@]} -gt 0 ]; then
      verdict="NO SUCH TEST ${missing[*]}"
    elif [ ${#failed[@]} -gt 0 ]; then
      verdict="caught by ${failed[*]}"
    else
      verdict="NOT CAUGHT"
    fi
  fi
  # Restored with a new time, so that the next build compiles the file again.
  cat "$SCRATCH/saved" >"$TREE/$file"
  [[ "$verdict" == caught* ]] || missed=$((missed + 1))
  printf '%-14s %s\n' "${verdict%% *}" "$line" | tee -a "$results" >/dev/null
  printf '%s\n   %s\n' "$line" "$verdict"
done <"$SCRATCH/breakages.txt"

# Leave the scratch build as the tree is, for the next run.
cmake --build "$TREE/build" -j "$JOBS" >"$SCRATCH/build.log" 2>&1 || true
echo "== $((total - missed)) of $total breakages caught (list: $results)"
[ "$missed" -eq 0 ]
