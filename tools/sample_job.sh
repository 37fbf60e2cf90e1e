#!/usr/bin/env bash
# Runs one copy job of the built worker on a generated sample: a tree of a
# few thousand files of mixed sizes, copied with small-file read-ahead and
# SHA-256 verification. Shows the job's events (item events abridged) and
# checks that the copy equals the source. Needs only bash and coreutils.
#
#   tools/sample_job.sh [worker-binary]
#   tools/sample_job.sh --generate FOLDER   (only writes the sample to FOLDER/sample)
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = --generate ]; then
  work=${2:?usage: tools/sample_job.sh --generate FOLDER}
  rm -rf "$work/sample" && mkdir -p "$work"
else
  worker=${1:-$here/../build/linux-release/Quorvel.NativeWorker}
  [ -x "$worker" ] || { echo "build the worker first (cmake --preset linux-release && cmake --build --preset linux-release)" >&2; exit 1; }
  work=$(mktemp -d "${TMPDIR:-/tmp}/qv-sample.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
src=$work/sample
dst=$work/copy

# ---- the sample: 3,000 files from empty to 256 KiB, two of 20 MiB ----
# Written with shell built-ins only: a process per file would take minutes.
echo "generating $src ..."
block=$(head -c 49152 /dev/urandom | base64 -w 0)   # 64 KiB of text
write_file() {  # path size number
  local left=$2 text="$3:" part
  {
    while [ "$left" -gt 0 ]; do
      part=${text}${block}
      part=${part:0:left}
      printf '%s' "$part"
      left=$((left - ${#part}))
      text=""
    done
  } >"$1"
}
for d in $(seq -w 0 29); do
  mkdir -p "$src/folder $d/sub"
  for f in $(seq -w 0 99); do
    n=$(( 10#$d * 100 + 10#$f ))
    size=$(( (n * 7919) % 8192 ))
    if [ $((n % 10)) = 0 ]; then size=$(( (n * 104729) % 262144 )); fi
    if [ $((n % 3)) = 0 ]; then name="sub/file $f.bin"; else name="file $f.bin"; fi
    write_file "$src/folder $d/$name" "$size" "$n"
  done
done
head -c $((20 << 20)) /dev/urandom >"$src/large one.bin"
head -c $((20 << 20)) /dev/urandom >"$src/large two.bin"
mkdir -p "$src/empty folder"
[ "${1:-}" = --generate ] && { echo "sample written to $src"; exit 0; }

# ---- the request (little-endian fields, length-prefixed UTF-8 strings) ----
u8() { printf "\\x$(printf %02x "$1")"; }
u32() { local v=$1; printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $(((v >> 8) & 255)))\\x$(printf %02x $(((v >> 16) & 255)))\\x$(printf %02x $(((v >> 24) & 255)))"; }
str() { u32 "${#1}"; printf '%s' "$1"; }
{
  printf 'QVCWREQ1'; u32 3
  u8 0; u8 0; u8 3; u8 0         # copy job, skip conflicts, SHA-256, reserved
  u32 8; u32 1; u32 0            # workers, minimum workers, verification workers
  u32 4194304; u32 1             # verification buffer, retries
  u32 $((1 | 2 | 16))            # preserve times and attributes, read-ahead
  u32 262144; u32 128; u32 256   # small-file threshold, queue files, memory MiB
  str "$dst"
  u32 1; str "$src"              # one source root
  u32 0; u32 0                   # no planned files or folders: scan
} >"$work/request.bin"

# ---- the job ----
echo "running: $worker --request $work/request.bin"
start=$(date +%s%N)
status=0
"$worker" --request "$work/request.bin" </dev/null >"$work/events" || status=$?
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
items=$(grep -c '"type":"item"' "$work/events" || true)
grep -v '"type":"item"' "$work/events" | sed -n 1,4p
echo "... $items item events, for example:"
grep '"type":"item"' "$work/events" | sed -n 1,3p
grep '"type":"progress","phase":"copy"' "$work/events" | tail -n 1
grep '"type":"progress","phase":"verify"' "$work/events" | tail -n 1
tail -n 1 "$work/events"
echo "exit code $status after $elapsed ms"
diff -r "$src" "$dst/sample" >/dev/null && echo "the copy equals the source" || { echo "the copy differs" >&2; exit 1; }
exit "$status"
