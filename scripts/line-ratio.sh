#!/usr/bin/env bash
# Counts non-blank, non-comment C++ lines under tests/ and src/ and prints their ratio,
# the figure the project keeps between 25 and 33 % (at most 40 %).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

count() {
  find "$ROOT/$1" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.cc' -o -name '*.hpp' \) -print0 |
    xargs -0 cat |
    awk '
      { line = $0 }
      inblock { if (index(line, "*/") == 0) next; line = substr(line, index(line, "*/") + 2); inblock = 0 }
      { sub(/^[ \t]+/, "", line) }
      line == "" { next }
      line ~ /^\/\// { next }
      line ~ /^\/\*/ { if (index(line, "*/") == 0) { inblock = 1; next }
                       rest = substr(line, index(line, "*/") + 2); sub(/^[ \t]+/, "", rest)
                       if (rest == "") next }
      { n++ }
      END { print n + 0 }'
}

tests=$(count tests)
src=$(count src)
awk -v t="$tests" -v s="$src" 'BEGIN { printf "tests %d, src %d, ratio %.1f %%\n", t, s, 100 * t / s }'
