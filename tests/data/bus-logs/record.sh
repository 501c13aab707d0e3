#!/usr/bin/env bash
# Records the sessions of sessions.tsv again: record.sh BUILD_DIR. The simulated bench is
# the built-in one on virtual time; names ending in -adapter go through the "++" adapter
# emulator. Logs keep full data, except hardcopy-bmp (2.3 MB: kept shortened, as a user
# sends it by default).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
cli="$build/src/cli/benchcap-cli"
window="$build/src/app/benchcap"
work="$(mktemp -d)"
trap 'kill "${adapter:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
sed -n '/R"(# The built-in/,/^)";/p' "$here/../../../src/sim/bench_config.cpp" |
  sed '1s/.*R"(//; $d; s/^clock: real/clock: virtual/' > "$work/bench.yaml"
port=$((20000 + RANDOM % 20000))
"$cli" adapter-sim --listen "127.0.0.1:$port" --bench "$work/bench.yaml" & adapter=$!
sleep 1
while IFS=$'\t' read -r name program output args; do
  case "$name" in '#'*|'') continue ;; esac
  interface="sim:$work/bench.yaml"
  [[ "$name" == *-adapter ]] && interface="prologix:127.0.0.1:$port"
  full=--bus-log-full
  [[ "$name" == hardcopy-bmp ]] && full=
  rm -rf "$work/run" && mkdir "$work/run"
  if [[ "$program" == window ]]; then
    QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/run" "$window" --interface "$interface" \
      --bus-log "$here/$name.log" $full --data-path "$work/run" $args
  else
    # shellcheck disable=SC2086
    (cd "$work/run" && "$cli" --interface "$interface" --bus-log "$here/$name.log" $full \
      ${args//OUT/$output} > stdout)
  fi
  [[ -n "$full" ]] && cp "$work/run/$output" "$here/$name.out"
  # The interface line names a temporary bench: keep the log free of it.
  sed -i "s|^# interface .*|# interface ${interface%%:*}|" "$here/$name.log"
done < "$here/sessions.tsv"
