#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine (as root).
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev googletest libssl-dev zlib1g-dev
          g++-mingw-w64-x86-64-posix wine64 wine libcli11-dev nlohmann-json3-dev
          clang libclang-rt-14-dev llvm-14 python3 time tmux rsync bc)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
