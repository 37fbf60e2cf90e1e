#!/bin/sh
# Scan rate of the worker's source scan beside find(1) on the same tree, and
# the system calls the scan makes per file.
#
#   bench/scan_bench.sh [tree] [runs]
#
# The tree (1000 folders of 100 one-byte files, 101,001 entries with its root)
# is generated once under /tmp and reused. The scan is compiled from
# bench/scan_bench.cpp against the engine's layer libraries in
# build/linux-release (or the build folder QV_BUILD_DIR names), so build that
# preset first. Both contenders run warm: each is run once before it is
# timed, and the best of `runs` counts. strace, when present, counts the
# scan's system calls in one more run.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
tree=${1:-/tmp/qv-scan-bench-tree}
runs=${2:-5}
build=${QV_BUILD_DIR:-$here/build/linux-release}
# The layers the scan needs, each before the layers below it.
libs=""
for layer in paths progress frame request platform base; do
  libs="$libs $build/libqv_$layer.a"
done
bin=/tmp/qv-scan-bench

if [ ! -f "$tree/.complete" ]; then
  echo "generating $tree (1000 folders x 100 files)..."
  rm -rf "$tree"
  mkdir -p "$tree"
  (cd "$tree" &&
   for d in $(seq -w 0 999); do
     mkdir "d$d"
     (cd "d$d" && for f in $(seq -w 0 99); do printf x > "f$f"; done)
   done)
  touch "$tree/.complete"
fi

[ -f "$build/libqv_paths.a" ] || { echo "build the linux-release preset first ($build)"; exit 1; }
g++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -I"$here/src" "$here/bench/scan_bench.cpp" \
  $libs -lcrypto -pthread -o "$bin"

# find's wall and processor time (user + system, with wc), best of `runs`.
timing=/tmp/qv-scan-bench.time
find "$tree" -printf '%s %T@\n' | wc -l >/dev/null
count=$(find "$tree" -printf '%s %T@\n' | wc -l)
i=0
: > "$timing.all"
while [ "$i" -lt "$runs" ]; do
  /usr/bin/time -f '%e %U %S' -o "$timing" sh -c "find '$tree' -printf '%s %T@\n' | wc -l >/dev/null"
  cat "$timing" >> "$timing.all"
  i=$((i + 1))
done
awk -v n="$count" '
  { wall = $1; cpu = $2 + $3
    if (NR == 1 || wall < bw) bw = wall
    if (NR == 1 || cpu < bc) bc = cpu }
  END { if (bw <= 0) bw = 0.01; if (bc <= 0) bc = 0.01
        printf "find best: %d entries in %.2f s = %.0f entries/s; cpu %.2f s = %.0f entries/cpu-s\n",
               n, bw, n / bw, bc, n / bc }' "$timing.all"

"$bin" "$tree" 1 >/dev/null
"$bin" "$tree" "$runs"

if command -v strace >/dev/null 2>&1; then
  trace=/tmp/qv-scan-bench.strace
  strace -c -f -o "$trace" "$bin" "$tree" 1 >/dev/null
  files=$(find "$tree" -type f | wc -l)
  echo "system calls of one scan ($files files), from strace -c -f:"
  awk -v files="$files" '
    $1 ~ /^[0-9.]+$/ && NF >= 5 {
      name = $NF; calls = $4
      if (name != "total" && calls + 0 >= files / 100)
        printf "  %-16s %9d  %.3f per file\n", name, calls, calls / files
    }
    $NF == "total" { printf "  %-16s %9d  %.3f per file\n", "total", $4, $4 / files }' "$trace"
fi
