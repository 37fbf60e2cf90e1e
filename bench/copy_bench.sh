#!/usr/bin/env bash
# Copy benchmark: the worker against cp -a, tar | tar, rsync -a and (for the
# large files) a two-way parallel cp, on the same data in the same run, hot
# cache, on tmpfs and on a disk file system. Each repetition runs every tool
# once, in turn, so that a busy moment falls on all of them. Prints the
# median wall time with its range, the median CPU time (user + system of
# every process of the tool) and the ratios of both medians to cp -a's.
#
#   bench/copy_bench.sh                      # everything
#   DATASETS="small large" REPS=3 bench/copy_bench.sh
#
# Settings (environment):
#   WORKER       the worker binary (default: build/linux-release/Quorvel.NativeWorker)
#   PLACES       folders to run in, one per file system (default: /dev/shm /tmp);
#                the word fresh-ext4 stands for a new ext4 made for every run
#   EXT4_IMAGE   the image file behind fresh-ext4 (default: /tmp/qv-copy-bench.ext4)
#   DATASETS     any of: small tiny large tree (default: all four)
#   TREE_SOURCE  the real tree copied once into the bench folder (default: /usr/share)
#   REPS         timed runs per tool and dataset (default: 3)
#   CHECK        1: compare every worker copy with its source (diff -r)
#
# Every copy of a run is kept until the run ends: some ext4 set-ups do not
# reuse an inode deleted in the last few minutes, and copying over freshly
# freed inodes would slow whichever tool came next.
#
# Even so, on a disk that has long been written and emptied ext4 scans past
# recently freed inodes on every create, and that scan rather than the tool
# decides a run's time (cp -a of the tiny set took 1.9 to 12.4 s on one
# machine's /tmp). fresh-ext4 (root, a loop device and mkfs.ext4 needed)
# copies from the data on /tmp into an ext4 made anew in an image file just
# before each timed run, which has no such inodes.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
WORKER=${WORKER:-$here/../build/linux-release/Quorvel.NativeWorker}
PLACES=${PLACES:-"/dev/shm /tmp"}
EXT4_IMAGE=${EXT4_IMAGE:-/tmp/qv-copy-bench.ext4}
DATASETS=${DATASETS:-"small tiny large tree"}
TREE_SOURCE=${TREE_SOURCE:-/usr/share}
REPS=${REPS:-3}
CHECK=${CHECK:-0}
run_id=$$

[ -x "$WORKER" ] || { echo "no worker at $WORKER (build the linux-release preset)" >&2; exit 1; }
for tool in cp tar rsync python3; do
  command -v $tool >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

# ---- datasets ----

make_dataset() {  # name folder
  local name=$1 dir=$2
  [ -f "$dir.done" ] && return
  rm -rf "$dir"
  mkdir -p "$dir"
  case $name in
    small|tiny|large)
      python3 - "$name" "$dir" <<'PY'
import os, random, sys
name, root = sys.argv[1], sys.argv[2]
rng = random.Random(7)
noise = rng.randbytes(1 << 20)
def write(path, size, seed):
    with open(path, "wb") as f:
        done = 0
        while done < size:
            n = min(len(noise), size - done)
            mark = b"%d:%d:" % (seed, done)
            f.write(mark[:n] + noise[len(mark):n] if n > len(mark) else mark[:n])
            done += n
if name == "small":    # 20,000 files of 4 KiB in 20 folders
    for d in range(20):
        os.makedirs(f"{root}/d{d:02}")
        for i in range(1000):
            write(f"{root}/d{d:02}/f{i:04}.dat", 4096, d * 1000 + i)
elif name == "tiny":   # 50,000 files of 0 to 512 bytes in 50 folders
    for d in range(50):
        os.makedirs(f"{root}/d{d:02}")
        for i in range(1000):
            write(f"{root}/d{d:02}/f{i:04}.txt", rng.randint(0, 512), d * 1000 + i)
else:                  # two files of 512 MiB
    for i in range(2):
        write(f"{root}/big{i}.bin", 512 << 20, i)
PY
      ;;
    tree)
      cp -a "$TREE_SOURCE/." "$dir/"
      ;;
  esac
  touch "$dir.done"
}

describe() {  # folder
  local files bytes
  files=$(find "$1" -type f | wc -l)
  bytes=$(du -sb "$1" | cut -f1)
  echo "$files files, $((bytes / 1048576)) MiB"
}

warm() {  # folder: read every file once so that every tool starts hot
  tar -C "$1" -cf - . | cat >/dev/null
}

# ---- the tools, each copying $1 (a folder) to $2 (not yet there) ----

copy_cp() { cp -a "$1" "$2"; }
copy_tar() { mkdir "$2" && tar -C "$1" -cf - . | tar -C "$2" -xf -; }
copy_rsync() { rsync -a "$1/" "$2/"; }
copy_pcp() {  # one cp per top-level entry, all at once
  mkdir "$2"
  local entry
  for entry in "$1"/*; do cp -a "$entry" "$2/" & done
  wait
}
# The request is written before the clock starts (see prepare_worker*).
worker_request() {  # verification source destination
  python3 "$here/make_request.py" "$3.request" --dest "$3" --source "$2" \
    --workers 8 --read-ahead --preserve --verify "$1"
}
prepare_worker() { worker_request none "$@"; }
prepare_worker_sha256() { worker_request sha256 "$@"; }
prepare_worker_crc32() { worker_request crc32 "$@"; }
worker_copy() {  # verification source destination
  local src=$2 dst=$3 out=$3.events
  /usr/bin/time -f %M -o "$dst.rss" "$WORKER" --request "$dst.request" </dev/null >"$out"
  if ! tail -n 1 "$out" | grep -q '"failedFiles":0,"cancelled":false'; then
    echo "worker job failed: $(tail -n 1 "$out" | cut -c1-300)" >&2
    return 1
  fi
  if [ "$CHECK" = 1 ]; then diff -r "$src" "$dst/$(basename "$src")" >/dev/null; fi
}
copy_worker() { worker_copy none "$@"; }
copy_worker_sha256() { worker_copy sha256 "$@"; }
copy_worker_crc32() { worker_copy crc32 "$@"; }

now_ns() { date +%s%N; }

# User + system time of every child waited for so far, in milliseconds.
# `times` runs in this shell (a subshell would start its own count from 0).
cpu_file=$(mktemp)
fresh_mount=
cleanup() {
  rm -f "$cpu_file"
  if [ -n "$fresh_mount" ]; then
    umount "$fresh_mount" 2>/dev/null || true
    rmdir "$fresh_mount"
    rm -f "$EXT4_IMAGE"
  fi
}
trap cleanup EXIT
# Sets cpu_ms; call it directly, never inside $( ).
children_cpu_ms() {
  times >"$cpu_file"
  cpu_ms=$(awk 'NR == 2 {
    for (i = 1; i <= 2; i++) { split($i, p, "m"); sub("s", "", p[2]); total += p[1] * 60 + p[2] }
    printf "%d", total * 1000 }' "$cpu_file")
}

declare -A walls cpus rss
results=()

# The folder that holds a place's data sets.
data_home() { if [ "$1" = fresh-ext4 ]; then echo /tmp; else echo "$1"; fi; }

make_fresh_ext4() {  # a new, empty ext4 at $fresh_mount
  [ -n "$fresh_mount" ] || fresh_mount=$(mktemp -d)
  umount "$fresh_mount" 2>/dev/null || true
  truncate -s 4G "$EXT4_IMAGE"
  mkfs.ext4 -q -F "$EXT4_IMAGE"
  mount -o loop "$EXT4_IMAGE" "$fresh_mount"
}

run_once() {  # place dataset tool rep
  local place=$1 set=$2 tool=$3 rep=$4 dst start elapsed cpu_before data
  data=$(data_home "$place")/qv-copy-bench/data/$set
  if [ "$place" = fresh-ext4 ]; then
    make_fresh_ext4
    dst=$fresh_mount/$set-$tool-$rep
  else
    dst=$place/qv-copy-bench/runs/$run_id/$set-$tool-$rep
    mkdir -p "$(dirname "$dst")"
  fi
  if declare -F "prepare_$tool" >/dev/null; then
    "prepare_$tool" "$data" "$dst"
  fi
  sync
  children_cpu_ms
  cpu_before=$cpu_ms
  start=$(now_ns)
  "copy_$tool" "$data" "$dst"
  elapsed=$(( ($(now_ns) - start) / 1000000 ))
  local key="$place $set $tool"
  walls[$key]="${walls[$key]:-} $elapsed"
  children_cpu_ms
  cpus[$key]="${cpus[$key]:-} $(( cpu_ms - cpu_before ))"
  [ -f "$dst.rss" ] && rss[$key]=$(cat "$dst.rss")
  # tmpfs frees memory at once and has no inode trap; a disk keeps the copy
  # until the end of the run.
  if [ "$(stat -f -c %T "$(dirname "$dst")")" = tmpfs ]; then rm -rf "$dst" "$dst".*; fi
}

median() { tr ' ' '\n' | grep . | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
range() { tr ' ' '\n' | grep . | sort -n | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%d-%d", lo, hi}'; }

for place in $PLACES; do
  fs=$place
  [ "$place" = fresh-ext4 ] || fs=$(stat -f -c %T "$place")
  for set in $DATASETS; do
    data=$(data_home "$place")/qv-copy-bench/data/$set
    make_dataset "$set" "$data"
    echo "== $set on $fs ($place): $(describe "$data")"
    warm "$data"
    tools="cp tar rsync worker worker_sha256 worker_crc32"
    [ "$set" = large ] && tools="cp tar rsync pcp worker worker_sha256 worker_crc32"
    for rep in $(seq 1 "$REPS"); do
      for tool in $tools; do run_once "$place" "$set" "$tool" "$rep"; done
    done
    base_wall=$(echo "${walls["$place $set cp"]}" | median)
    base_cpu=$(echo "${cpus["$place $set cp"]}" | median)
    for tool in $tools; do
      key="$place $set $tool"
      wall=$(echo "${walls[$key]}" | median)
      cpu=$(echo "${cpus[$key]}" | median)
      line=$(printf "%-6s %-5s %-14s %6d ms (%s)  %5.2fx cp -a   cpu %6d ms %5.2fx" \
        "$fs" "$set" "$tool" "$wall" "$(echo "${walls[$key]}" | range)" \
        "$(echo "$wall / $base_wall" | bc -l)" "$cpu" \
        "$(echo "$cpu / ($base_cpu + 0.001)" | bc -l)")
      [ -n "${rss[$key]:-}" ] && line="$line  peak RSS $(( ${rss[$key]} / 1024 )) MiB"
      echo "$line"
      results+=("$line")
    done
  done
  [ "$place" = fresh-ext4 ] || rm -rf "$place/qv-copy-bench/runs/$run_id"
done

echo
echo "== summary (median of $REPS and range in ms, hot cache, ratios of medians to cp -a in the same run)"
printf '%s\n' "${results[@]}"
