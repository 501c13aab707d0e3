#!/usr/bin/env bash
# Installs what is missing, builds, and runs the unattended job on the built-in simulated bench.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_deps
# A folder of its own: the tests' build/ keeps its options and objects.
build "$ROOT/build-demo" -DBENCHCAP_TESTS=OFF -DBENCHCAP_BENCH=OFF
exec "$ROOT/build-demo/src/cli/benchcap-cli" --interface sim demo "$@"
