#!/usr/bin/env bash
# Fails when an #include "..." under src/ points up or sideways in the layer order of
# docs/developing.md: a file may include its own library and any library of a lower level,
# never one of its own level or above. Inside src/app the same holds for its folders.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Library levels: base < {bus, recipes} < {scanner, hardcopy, trace, sim} < {simlib, interfaces, office, recorder}
# < {app, cli}.
LEVELS="base:0 recipes:1 bus:1 scanner:2 hardcopy:2 trace:2 sim:2 simlib:3 interfaces:3 office:3 recorder:3 app:4 cli:4"
# The folders of src/app, bottom up; "." is the program itself (app/main.cpp).
APP_FOLDERS="ui:0 output:1 commands:2 startup:3 window:4 .:5"
# The one documented reach beside a level: the simulated analyzers write their metafile
# screens with the picture module's writer (no Qt, no driver).
EXCEPTIONS="sim>hardcopy/picture/wmf_writer.h"

cd "$ROOT/src"
find . -type f \( -name '*.cpp' -o -name '*.h' \) | sed 's#^\./##' | sort |
  xargs grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' |
  awk -v levels="$LEVELS" -v folders="$APP_FOLDERS" -v exceptions="$EXCEPTIONS" '
    BEGIN {
      n = split(levels, a, " ")
      for (i = 1; i <= n; i++) { split(a[i], kv, ":"); level[kv[1]] = kv[2] }
      n = split(folders, a, " ")
      for (i = 1; i <= n; i++) { split(a[i], kv, ":"); folder[kv[1]] = kv[2] }
      n = split(exceptions, a, " ")
      for (i = 1; i <= n; i++) allowed[a[i]] = 1
      bad = 0
    }
    # The app folder of a path below src/app ("." for a file directly in it).
    function appFolder(path, parts) {
      return split(path, parts, "/") > 2 ? parts[2] : "."
    }
    {
      file = $0; sub(/:.*/, "", file)
      line = $0; sub(/^[^:]*:/, "", line); lineNo = line; sub(/:.*/, "", lineNo)
      target = $0; sub(/^[^"]*"/, "", target); sub(/".*/, "", target)
      split(file, f, "/"); from = f[1]
      if (!(from in level)) {
        printf "%s: library %s has no level in scripts/check-layers.sh\n", file, from; bad = 1; next
      }
      if (split(target, t, "/") < 2) next          # a header beside the file
      to = t[1]
      if (!(to in level)) next                     # a system or third-party header
      if (from == to) {
        if (from != "app") next
        ff = appFolder(file); tf = appFolder(target)
        if (!(ff in folder) || !(tf in folder)) {
          printf "%s:%s: app folder of %s or %s has no place in scripts/check-layers.sh\n",
                 file, lineNo, file, target
          bad = 1
        } else if (folder[tf] > folder[ff]) {
          printf "%s:%s: app/%s includes %s from app/%s above it\n", file, lineNo, ff, target, tf
          bad = 1
        }
        next
      }
      if (level[to] < level[from]) next
      if ((from ">" target) in allowed) next
      printf "%s:%s: %s includes %s of %s (level %d, not below %d)\n",
             file, lineNo, from, target, to, level[to], level[from]
      bad = 1
    }
    END { exit bad }
  '
echo "layers: every include of src/ points down"
