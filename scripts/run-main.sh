#!/usr/bin/env bash
# Builds the native release and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native
cmake --preset release >/dev/null
cmake --build --preset release --target qxrsim
exec build/release/simulation/qxrsim "$@"
