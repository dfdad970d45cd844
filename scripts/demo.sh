#!/usr/bin/env bash
# The main job: builds everything, then a sample package, and runs it under
# Wine on a virtual display, printing what the user would see.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
exec build/host/tests/demo/tvse_demo
