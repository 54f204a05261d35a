#!/usr/bin/env bash
# Installs what is missing, builds the Release program and starts it.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

BUILD=build/release
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVOLIN_TESTS=OFF \
  -DTARVOLIN_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found. Start the program under a virtual X server, for example:"
  echo "  sudo apt-get install xvfb && xvfb-run -a $BUILD/bin/tarvolin"
  exit 1
fi
if [ ! -x "$BUILD/bin/tarvolin" ]; then
  echo "The program window is not built yet; the engine libraries built fine."
  exit 1
fi
exec "$BUILD/bin/tarvolin" "$@"
