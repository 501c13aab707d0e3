#!/usr/bin/env bash
# run-fuzzers.sh BUILD_FUZZ_DIR SECONDS: every fuzz_<name> program first replays its
# committed corpus fuzz/corpus/<name>/, then fuzzes for SECONDS on a scratch copy.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$1"; seconds="$2"
shopt -s nullglob
count=0
for exe in "$dir"/fuzz_*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue  # skips the autogen folders of AUTOMOC
  name="$(basename "$exe")"; name="${name#fuzz_}"
  corpus="$ROOT/fuzz/corpus/$name"
  work="$(mktemp -d)"
  [ -d "$corpus" ] && cp -r "$corpus/." "$work/"
  echo "-- fuzz_$name: corpus $(ls "$work" | wc -l) files, ${seconds}s"
  "$exe" -runs=0 "$work" >/dev/null 2>&1 || { "$exe" -runs=0 "$work"; exit 1; }
  "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 "$work" 2>&1 | tail -n 2
  rm -rf "$work"
  count=$((count + 1))
done
echo "-- $count fuzz targets ran"
