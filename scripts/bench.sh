#!/usr/bin/env bash
# Prints the extraction throughput of a large package (the stub's own code
# under Wine) next to unzip on the same archive.  Usage: bench.sh [MiB]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
exec build/host/tests/bench/extract_bench "$@"
