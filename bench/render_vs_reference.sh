#!/usr/bin/env bash
# benchcap-cli render against the Debian converters on the same files, side by side in one
# run: HP-GL plots against hp2xx (-m png), metafiles against wmf2gd (PNG). Each file is
# converted by the reference first; ours then draws the same number of pixels (--size of
# the reference's first picture). Whole-process user + system CPU, median of several runs.
# A benchmark, not a test: it prints one table, the median and worst ratio per kind, and
# the same over the files where the reference does real work (more than 1.5 times its
# start-up, measured on a trivial file).
#
# bench/render_vs_reference.sh [--cli PATH] [--runs N] [--dpi N] [FILE...]
#   --cli   benchcap-cli to measure (default: build-release/src/cli/benchcap-cli; build it
#           with -DCMAKE_BUILD_TYPE=Release -DBENCHCAP_TESTS=OFF -DBENCHCAP_BENCH=OFF)
#   --runs  runs per program and file (default 7)
#   --dpi   hp2xx's resolution (default 130: plots about 1024 pixels wide, our own width)
#   FILE    .wmf files go to wmf2gd, anything else to hp2xx (default: the HP-GL and WMF
#           samples of tests/ and of the shared collection beside the repository)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CLI="$ROOT/build-release/src/cli/benchcap-cli"
RUNS=7
DPI=130
FILES=()
while [ $# -gt 0 ]; do
  case "$1" in
    --cli) CLI="$2"; shift 2 ;;
    --runs) RUNS="$2"; shift 2 ;;
    --dpi) DPI="$2"; shift 2 ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) FILES+=("$1"); shift ;;
  esac
done

if [ ! -x "$CLI" ]; then
  echo "no benchcap-cli at $CLI: build a Release tree first, or give --cli" >&2
  exit 2
fi

# The references, from Debian, as scripts/common.sh installs what is missing.
missing=()
command -v hp2xx >/dev/null || missing+=(hp2xx)
command -v wmf2gd >/dev/null || missing+=(libwmf-bin)
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

SHARED="$(cd "$ROOT/.." && pwd)/shared/testdata"
if [ ${#FILES[@]} -eq 0 ]; then
  for dir in "$ROOT/tests/hpgl/data" "$SHARED/hpgl"; do
    [ -d "$dir" ] && for f in "$dir"/*; do [ -f "$f" ] && [ "${f%.md}" = "$f" ] && FILES+=("$f"); done
  done
  for dir in "$ROOT/tests/data/wmf" "$SHARED/wmf"; do
    [ -d "$dir" ] && for f in "$dir"/*.wmf; do [ -f "$f" ] && FILES+=("$f"); done
  done
fi

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

export CLI RUNS DPI WORK SHARED
python3 - "${FILES[@]}" <<'EOF'
import os, statistics, struct, subprocess, sys

cli, runs, dpi, work = os.environ["CLI"], int(os.environ["RUNS"]), os.environ["DPI"], os.environ["WORK"]

def cpu(argv):
    """User + system CPU of one run of argv, and whether it succeeded."""
    pid = os.fork()
    if pid == 0:
        null = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(null, fd)
        try:
            os.execvp(argv[0], argv)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    return usage.ru_utime + usage.ru_stime, os.waitstatus_to_exitcode(status) == 0

def median_cpu(argv):
    times = []
    for _ in range(runs):
        t, ok = cpu(argv)
        if not ok:
            return None
        times.append(t)
    return statistics.median(times)

def median_pair(first, second):
    """Medians of both, their runs taken in turns so that a busy machine slows both alike."""
    a, b = [], []
    for _ in range(runs):
        for argv, times in ((first, a), (second, b)):
            t, ok = cpu(argv)
            if not ok:
                return None, None
            times.append(t)
    return statistics.median(a), statistics.median(b)

def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])

def reference(kind, path, out):
    if kind == "hpgl":
        return ["hp2xx", "-q", "-m", "png", "-d", dpi, "-f", out, path]
    return ["wmf2gd", "-t", "png", "-o", out, path]

# Start-up of each program on a trivial file of each kind.
trivial = {"hpgl": os.path.join(work, "trivial.hpgl"), "wmf": None}
with open(trivial["hpgl"], "w") as f:
    f.write("IN;SP1;PU0,0;PD100,100;")
# A sample kept in both places is measured once.
files, seen = [], set()
for p in sys.argv[1:]:
    if os.path.basename(p) not in seen:
        seen.add(os.path.basename(p))
        files.append(p)
minimal = os.path.join(os.environ["SHARED"], "wmf", "broken", "valid-minimal.wmf")
for p in files + [minimal]:
    if p.endswith("valid-minimal.wmf") and os.path.exists(p):
        trivial["wmf"] = p
        break
startup = {}
for kind, path in trivial.items():
    if path:
        startup[kind] = median_cpu(reference(kind, path, os.path.join(work, "t.png")))

rows = []
print(f"{'file':<40} {'kind':<5} {'pixels':>10} {'ours ms':>8} {'ref ms':>8} {'ratio':>6}")
for path in files:
    kind = "wmf" if path.lower().endswith(".wmf") else "hpgl"
    name = os.path.basename(path)
    ref_png = os.path.join(work, "ref.png")
    if os.path.exists(ref_png):
        os.remove(ref_png)
    ref_argv = reference(kind, path, ref_png)
    t, ok = cpu(ref_argv)
    size = png_size(ref_png) if ok and os.path.exists(ref_png) else None
    if size is None:
        print(f"{name:<40} {kind:<5} {'':>10} {'':>8} {'':>8}  (the reference makes no picture)")
        continue
    ours_argv = [cli, "render", path, "-o", os.path.join(work, "ours.png"),
                 "--size", f"{size[0]}x{size[1]}"]
    ref, ours = median_pair(ref_argv, ours_argv)
    if ours is None or ref is None:
        print(f"{name:<40} {kind:<5} {'':>10} {'':>8} {'':>8}  (a run failed)")
        continue
    ratio = ours / ref
    work_done = kind in startup and startup[kind] and ref > 1.5 * startup[kind]
    rows.append((kind, ratio, work_done))
    print(f"{name:<40} {kind:<5} {size[0]:>4}x{size[1]:<5} {ours * 1e3:8.1f} {ref * 1e3:8.1f} "
          f"{ratio:6.2f}{'' if work_done else '  (reference: start-up only)'}")

print()
for kind in ("hpgl", "wmf"):
    for label, chosen in (("all", [r for r in rows if r[0] == kind]),
                          ("real work", [r for r in rows if r[0] == kind and r[2]])):
        if chosen:
            ratios = [r[1] for r in chosen]
            print(f"{kind:<5} {label:<10} files {len(ratios):3d}  median {statistics.median(ratios):5.2f}"
                  f"  worst {max(ratios):5.2f}")
EOF
