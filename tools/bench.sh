#!/usr/bin/env bash
# The benchmarks (not tests): in-process core throughput, whole-process timings of odi against a
# raw-I/O floor, and the window's response under a virtual display. Prints the tables.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
# Peers measured beside odi: cpmtools (in the deps) and mtools.
command -v mcopy >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mtools
command -v python3 >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3
# The FUSE mounters of Debian beside odi mount, and what makes their images (tools/deps.sh has
# no flag for the benchmarks' peers).
for tool in squashfuse:squashfuse fuse-zip:fuse-zip fuse2fs:fuse2fs fusefat:fusefat \
  mksquashfs:squashfs-tools mkfs.fat:dosfstools zip:zip; do
  command -v "${tool%%:*}" >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${tool#*:}"
done

cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)"
b=build/bench
# Images and copies on tmpfs where there is one: the disk's write-back otherwise swings whole-run
# times by tens of percent between rounds, and what is measured is the program, not the disk.
# BENCH_DIR=/some/disk/folder measures on a disk instead.
base=${BENCH_DIR:-$([[ -d /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")}
work=$(mktemp -d "$base/odi-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/one" "$work/many" "$work/cpm"
$b/bench/odi-bench-disks "$work/one" 1
$b/bench/odi-bench-disks "$work/many" 200
$b/bench/odi-bench-disks "$work/cpm" 1 cpm

echo "== core, in process"
$b/bench/odi-core-bench --benchmark_min_time=0.2

echo
echo "== whole process, against the floor"
BENCH_TMP="$work" python3 bench/compare.py "$b" "$work/one" "$work/many" "$work/cpm"

echo
echo "== odi mount against the FUSE mounters of Debian"
if [[ -w /dev/fuse ]] && command -v fusermount3 >/dev/null; then
  # The real system disk where it is at hand, else a made disk of as many files.
  real=${ODI_REAL_DISKS:-}/bst_mx.odi
  python3 bench/mount_peers.py "$b/src/cli/odi" "$([[ -f $real ]] && echo "$real" || echo -)" \
    "$work"
else
  echo "(no FUSE here)"
fi

echo
echo "== the window (under Xvfb)"
# One virtual display for all runs, so its own start is not counted.
xvfb-run -a bash -c '
  b=$1; dir=$2
  $b/bench/odi-window-bench "$dir"
  starts=()
  for _ in 1 2 3 4 5 6 7; do
    t0=$(date +%s%N)
    $b/src/app/odiview --smoke "$dir" >/dev/null
    starts+=($(( ($(date +%s%N) - t0) / 1000000 )))
  done
  echo "odiview process start to window shown: $(printf "%s\n" "${starts[@]}" | sort -n | sed -n 4p) ms (median of 7)"
' bench "$b" "$work/one"
