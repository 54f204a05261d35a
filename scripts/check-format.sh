#!/usr/bin/env bash
# Fails when a source file is not as the pinned clang-format lays it out under .clang-format.
# Formatters of other major versions lay out the same code differently, so they are refused.
# Usage: scripts/check-format.sh [FILE...]   (default: every .cpp/.h under src tests bench fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
PINNED_MAJOR=14

CF=${CLANG_FORMAT:-}
if [ -z "$CF" ]; then
  for candidate in "clang-format-$PINNED_MAJOR" clang-format; do
    if command -v "$candidate" >/dev/null; then CF=$candidate; break; fi
  done
fi
if [ -z "$CF" ]; then
  echo "check-format: no clang-format found; scripts/install-deps.sh installs clang-format-$PINNED_MAJOR" >&2
  exit 2
fi
major=$("$CF" --version | sed -n 's/.*clang-format version \([0-9]*\)\..*/\1/p')
if [ "$major" != "$PINNED_MAJOR" ]; then
  echo "check-format: $CF is version ${major:-unknown}; the layout is pinned to version $PINNED_MAJOR" >&2
  exit 2
fi

if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(find src tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
fi
if ! "$CF" --style=file --dry-run -Werror "${files[@]}"; then
  echo "check-format: files above differ from .clang-format; run $CF -i on them" >&2
  exit 1
fi
