#!/usr/bin/env bash
# Installs what is missing, builds, and runs the unattended job on the built-in simulated bench.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_deps
build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBENCHCAP_TESTS=OFF -DBENCHCAP_BENCH=OFF
exec "$ROOT/build/src/cli/benchcap-cli" --interface sim demo "$@"
