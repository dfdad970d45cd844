#!/usr/bin/env bash
# Builds everything: host tools and tests, the i686 stub (the product) and
# the x86_64 stub that the tests run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host
