#!/usr/bin/env bash
# Builds the native release and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/card_simulator/demo/card_demo "$@"
