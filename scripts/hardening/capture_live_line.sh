#!/usr/bin/env bash
# Captures quorvel-copy's live status line in a real terminal (tmux, 80
# columns) at a few moments of a copy that takes several seconds, pausing it
# with "p" and resuming it with "r" on the way, and writes the captures to
# tests/tools/fixtures/. Every captured line must stay within 79 columns and
# the pane must hold one status line, with no debris of earlier ones.
#
#   scripts/hardening/capture_live_line.sh [build-folder]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/linux-release}
out=$here/../../tests/tools/fixtures
work=$(mktemp -d "${TMPDIR:-/tmp}/qv-live.XXXXXX")
trap 'tmux kill-session -t qv-live 2>/dev/null || true; rm -rf "$work"' EXIT

# 456 files: 256 pieces of 2 MiB under long folder names, 200 small files.
deep="$work/src/a rather long folder name that shows how the path is elided/and one more level"
mkdir -p "$deep"
head -c $((512 << 20)) /dev/urandom | (cd "$deep" && split -b 2M -d -a 3 - "holiday video clip ")
for i in $(seq 1 200); do echo "$i" >"$(dirname "$deep")/small $i.txt"; done

capture() { tmux capture-pane -p -t qv-live >"$out/$1"; }
mkdir -p "$out"
tmux new-session -d -s qv-live -x 80 -y 12 \
  "cd '$work' && '$build/quorvel-copy' --verify sha256 --threads 1 src dst; echo EXIT=\$?; sleep 60"
sleep 0.4; capture live_1_copy.txt
tmux send-keys -t qv-live p; sleep 1.0; capture live_2_paused.txt
sleep 1.0; capture live_3_paused_later.txt
tmux send-keys -t qv-live r; sleep 0.3; capture live_4_resumed.txt
verify_seen=""
for _ in $(seq 1 200); do
  tmux capture-pane -p -t qv-live >"$work/frame"
  grep -q EXIT= "$work/frame" && break
  if [ -z "$verify_seen" ] && grep -q '^verify ' "$work/frame"; then
    sleep 0.5; capture live_5_verify.txt; verify_seen=1
  fi
  sleep 0.1
done
capture live_6_done.txt

status=0
for f in "$out"/live_*.txt; do
  awk -v f="$f" 'length($0) > 79 { print f ": line of " length($0) " columns"; bad = 1 }
                 END { exit bad }' "$f" || status=1
done
grep -q Paused "$out/live_2_paused.txt" || { echo "no Paused after p" >&2; status=1; }
exit "$status"
