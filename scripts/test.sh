#!/usr/bin/env bash
# Runs every test: host tests and the scenario tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
ctest --preset host "$@"
