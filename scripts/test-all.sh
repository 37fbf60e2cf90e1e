#!/usr/bin/env bash
# Installs what is needed, builds every flavour and runs every test:
#   linux-release, linux-asan (ASan + UBSan), linux-tsan, windows-x64 (under Wine).
# Usage: scripts/test-all.sh [preset...]   (all four when none is named)
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux-release linux-asan linux-tsan windows-x64)

# Wine: a private prefix, no debug chatter, no add-on install prompts, and one
# persistent wineserver so each test process starts in a fraction of a second.
export WINEPREFIX="$PWD/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT

failed=()
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  if [ "$preset" = windows-x64 ]; then
    mkdir -p "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1 || true
    wineboot -i >/dev/null 2>&1 || true
  fi
  if ! cmake --preset "$preset" >/dev/null ||
     ! cmake --build --preset "$preset" -- -k 0; then
    failed+=("$preset (build)")
    continue
  fi
  ctest --preset "$preset" || failed+=("$preset (tests)")
done

echo
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all flavours built and passed: ${presets[*]}"
