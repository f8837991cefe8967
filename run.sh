#!/usr/bin/env bash
# Builds and starts Tarnel. Without a display it runs the bundled demo morph headless.
set -euo pipefail
cd "$(dirname "$0")"
./tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" >&2
if [ -x build/tarnel ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec build/tarnel "$@"
fi
if [ -x tools/demo.sh ]; then
  exec tools/demo.sh build
fi
exec build/tarnel-cli --help
