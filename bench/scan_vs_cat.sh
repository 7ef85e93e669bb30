#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Whole-process timing of `tessarin-cli scan` over a cached plain image of a realistic mix,
# against `cat IMAGE > /dev/null`, interleaved in one run (cat, scan, cat, scan, ...) so that the
# load of a shared machine weighs on both alike. The scan, with its check of the found files,
# should reach at least 0.4 of the cat rate. Prints both rates, the ratio of each round and
# their median, and the scan's peak memory; removes its files.
#   bench/scan_vs_cat.sh [BUILD_DIR] [SIZE_MIB] [ROUNDS]     (defaults: build, 1024, 7)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
size_mib=${2:-1024}
rounds=${3:-7}
cli=$build/src/tessarin-cli
gen=$build/bench/MakeScanImage
[ -x "$cli" ] && [ -x "$gen" ] || { echo "build first: cmake --build $build --target tessarin-cli MakeScanImage" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kx-scan-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
image=$work/mix.iso
"$gen" "$image" "$size_mib"
cat "$image" > /dev/null   # into the page cache
"$cli" scan "$image" -o "$work/mix.kx" > "$work/summary.txt"   # and the program, once
/usr/bin/time -f '%M' -o "$work/peak_kib" "$cli" scan "$image" -o "$work/mix.kx" > /dev/null

python3 - "$cli" "$image" "$work/mix.kx" "$rounds" "$(cat "$work/peak_kib")" "$(head -1 "$work/summary.txt")" <<'PY'
import os, statistics, subprocess, sys, time
cli, image, project, rounds, peak, summary = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5], sys.argv[6]
size = os.path.getsize(image)
def timed(args, out):
    start = time.perf_counter()
    subprocess.run(args, stdout=out, check=True)
    return time.perf_counter() - start
cats, scans = [], []
with open(os.devnull, "wb") as null:
    for _ in range(rounds):
        cats.append(timed(["cat", image], null))
        scans.append(timed([cli, "scan", image, "-o", project], null))
ratios = [c / s for c, s in zip(cats, scans)]
cat_rate, scan_rate = size / statistics.median(cats) / 1e6, size / statistics.median(scans) / 1e6
ratio = statistics.median(ratios)
print(f"image: {size / 2**20:.0f} MiB; {summary}")
print(f"cat:  median {statistics.median(cats):.3f} s  {cat_rate:8.0f} MB/s")
print(f"scan: median {statistics.median(scans):.3f} s  {scan_rate:8.0f} MB/s  peak memory {int(peak) / 1024:.1f} MiB")
print("scan/cat per round: " + " ".join(f"{r:.2f}" for r in ratios))
print(f"scan/cat: {ratio:.2f} (median of {rounds} interleaved rounds; goal: at least 0.4, with the check of found files on)")
sys.exit(0 if ratio >= 0.4 else 1)
PY
