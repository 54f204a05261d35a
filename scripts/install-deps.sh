#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the program need.
# Idempotent: asks apt only for what is missing; uses sudo when not root.
set -euo pipefail

PKGS=(
  build-essential g++ cmake ninja-build pkg-config ccache
  clang libclang-rt-14-dev
  # the formatter is pinned: scripts/check-format.sh accepts only this major version
  clang-format-14
  # scripts/check-layers.sh reads the includes with it
  python3
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  libjpeg62-turbo-dev libturbojpeg0-dev
  libasound2-dev libasound2-data linux-libc-dev
  libgl-dev
  fonts-liberation2 fonts-dejavu-core fontconfig
  # the shell hands files, folders and the help page to the desktop's programs through xdg-open
  xdg-utils
  # only the export benchmark's comparison script uses the ffmpeg command
  ffmpeg
)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
