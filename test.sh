#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs every test through ctest offscreen, with a throw-away HOME and config folder.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/check-layers.sh
./scripts/check-layers-test.sh

BUILD=build/asan
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVOLIN_SANITIZE=ON \
  -DTARVOLIN_BENCH=ON -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
cmake --build "$BUILD" -j "$(nproc)"

TMPHOME=$(mktemp -d)
trap 'rm -rf "$TMPHOME"' EXIT
export HOME="$TMPHOME"
export XDG_CONFIG_HOME="$TMPHOME/.config"
export XDG_DATA_HOME="$TMPHOME/.local/share"
export XDG_CACHE_HOME="$TMPHOME/.cache"
export XDG_RUNTIME_DIR="$TMPHOME/run"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen
export ALSA_PCM_DEVICE=null
export TARVOLIN_AUDIO_DEVICE=null
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"

ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)" --timeout 600

# The layout check runs last so that a formatting slip still lets every test report first.
# TARVOLIN_CHECK_FORMAT=0 skips it.
if [ "${TARVOLIN_CHECK_FORMAT:-1}" != 0 ]; then
  ./scripts/check-format.sh
fi
