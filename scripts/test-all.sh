#!/usr/bin/env bash
# Installs what is needed, builds every flavour and runs every test:
#   linux-release, linux-asan (ASan + UBSan), linux-tsan, windows-x64 (under
#   Wine), then two steps over those builds: fuzz (each libFuzzer target for
#   30 s) and hardening (the quick mode of scripts/hardening, on the release
#   and TSan workers).
# Usage: scripts/test-all.sh [step...]   (all six when none is named)
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1

presets=("$@")
[ ${#presets[@]} -gt 0 ] ||
  presets=(linux-release linux-asan linux-tsan windows-x64 fuzz hardening)

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
  case $preset in
    fuzz)
      scripts/fuzz.sh 30 || failed+=(fuzz)
      continue ;;
    hardening)
      scripts/hardening/quick.sh build/linux-release/Quorvel.NativeWorker \
        build/linux-tsan/Quorvel.NativeWorker || failed+=(hardening)
      continue ;;
  esac
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
echo "all passed: ${presets[*]}"
