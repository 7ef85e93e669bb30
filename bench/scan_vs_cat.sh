#!/usr/bin/env bash
# Whole-process timing of `tessarin-cli scan` over a cached plain image of a realistic mix,
# against `cat IMAGE > /dev/null` in the same run. The scan, with its check of the found files,
# should reach at least 0.4 of the cat rate. Prints both rates, their ratio and the scan's peak
# memory; removes its files.
#   bench/scan_vs_cat.sh [BUILD_DIR] [SIZE_MIB]     (defaults: build, 1024)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
size_mib=${2:-1024}
cli=$build/src/tessarin-cli
gen=$build/bench/MakeScanImage
[ -x "$cli" ] && [ -x "$gen" ] || { echo "build first: cmake --build $build --target tessarin-cli MakeScanImage" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kx-scan-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
image=$work/mix.iso
"$gen" "$image" "$size_mib"
cat "$image" > /dev/null   # into the page cache
bytes=$(stat -c %s "$image")

hyperfine --warmup 1 --runs 5 --export-json "$work/times.json" \
  -n cat "cat '$image' > /dev/null" \
  -n scan "'$cli' scan '$image' -o '$work/mix.kx' > /dev/null" >&2

/usr/bin/time -f '%M' -o "$work/peak_kib" "$cli" scan "$image" -o "$work/mix.kx" > "$work/summary.txt"

python3 - "$work/times.json" "$bytes" "$(cat "$work/peak_kib")" "$(head -1 "$work/summary.txt")" <<'PY'
import json, sys
times = {r["command"]: r["median"] for r in json.load(open(sys.argv[1]))["results"]}
size = int(sys.argv[2])
cat_rate, scan_rate = size / times["cat"] / 1e6, size / times["scan"] / 1e6
print(f"image: {size / 2**20:.0f} MiB; {sys.argv[4]}")
print(f"cat:  {times['cat']:.3f} s  {cat_rate:8.0f} MB/s")
print(f"scan: {times['scan']:.3f} s  {scan_rate:8.0f} MB/s  peak memory {int(sys.argv[3]) / 1024:.1f} MiB")
print(f"scan/cat: {scan_rate / cat_rate:.2f} (goal: at least 0.4, with the check of found files on)")
sys.exit(0 if scan_rate >= 0.4 * cat_rate else 1)
PY
