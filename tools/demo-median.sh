#!/bin/bash
# Median filter demo: builds a noisy phantom volume, lets the host stand-in serve it to
# fKORVANsieve (radius 2.5) and leaves the noisy input and the filtered result in DIR as
# raw volume files and NIfTI images, with a short noise report.
# usage: tools/demo-median.sh DIR [BUILD_DIR] [RADIUS]   (defaults: build, 2.5)
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 DIR [BUILD_DIR] [RADIUS]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1
build=${2:-$root/build}
radius=${3:-2.5}
bin=$(cd "$build/bin" 2>/dev/null && pwd) || { echo "no programs in $build/bin (build first)" >&2; exit 1; }
for program in ztrhost fKORVANsieve; do
  [ -x "$bin/$program" ] || { echo "missing $bin/$program (build first)" >&2; exit 1; }
done
python=/usr/bin/python3
[ -x "$python" ] || python=python3
mkdir -p "$out" || exit 1
out=$(cd "$out" && pwd)

# 96 x 96 x 48 signed 16-bit phantom: a bright sphere holding a brighter cube on a dim
# background, Gaussian noise (sigma 40) and 2 % impulse noise (0 or 3000).
"$python" - "$out" <<'PY' || { echo "phantom failed" >&2; exit 1; }
import random, struct, sys
out = sys.argv[1]
X, Y, Z = 96, 96, 48
rng = random.Random(20261207)
clean, noisy = [], []
for k in range(Z):
    for j in range(Y):
        for i in range(X):
            v = 100
            if (i - 48) ** 2 + (j - 48) ** 2 + ((k - 24) * 2) ** 2 < 36 ** 2:
                v = 400
            if abs(i - 56) < 10 and abs(j - 44) < 10 and abs(k - 24) < 6:
                v = 800
            clean.append(v)
            n = v + int(round(rng.gauss(0.0, 40.0)))
            u = rng.random()
            if u < 0.01:
                n = 0
            elif u < 0.02:
                n = 3000
            noisy.append(max(-32768, min(32767, n)))
def save(path, values):
    with open(path, "wb") as f:
        f.write(b"# ZANTREVIUM raw format file with header\n")
        f.write(f"{X} {Y} {Z} 1\n3 \n0 \n{2 * len(values)} uncompressed\n".encode())
        f.write(struct.pack(f"<{len(values)}h", *values))
save(f"{out}/phantom_clean.raw", clean)
save(f"{out}/phantom_noisy.raw", noisy)
PY
echo "phantom: $out/phantom_noisy.raw (96 x 96 x 48, signed 16-bit; clean copy phantom_clean.raw)"

. "$root/tests/support/client_number.sh"
reserve_client_number client
# Boards of a host that was stopped by its deadline would stay behind.
cleanup() {
  rm -f "/dev/shm/ZTR_IPC_"*"($(printf '%04d' "$client"))"
}
trap cleanup EXIT
# The noisy input as the host holds it (raw + NIfTI), with no plug-in.
echo quit | timeout 120 "$bin/ztrhost" serve --client "$client" --input "$out/phantom_noisy.raw" \
  --output "$out/noisy" --stay > /dev/null 2> "$out/noisy.log" ||
  { echo "ztrhost could not load the phantom (see $out/noisy.log)" >&2; exit 1; }

start=$(date +%s.%N)
status=0
timeout 600 "$bin/ztrhost" serve --client "$client" --input "$out/phantom_noisy.raw" \
  --output "$out/filtered" -- "$bin/fKORVANsieve" "$radius" 2> "$out/filtered.log" || status=$?
end=$(date +%s.%N)
tr '\r' '\n' < "$out/filtered.log" | grep -v '^$' | tail -3 || true
[ $status -eq 0 ] && [ -f "$out/filtered/volume.raw" ] ||
  { echo "serving fKORVANsieve failed (status $status, see $out/filtered.log)" >&2; exit 1; }

"$python" - "$out" "$start" "$end" <<'PY'
import struct, sys
out, start, end = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
def load(path):
    data = open(path, "rb").read()
    lines = data.split(b"\n", 5)
    size = int(lines[4].split()[0])
    return struct.unpack(f"<{size // 2}h", data[-size:])
clean = load(f"{out}/phantom_clean.raw")
noisy = load(f"{out}/phantom_noisy.raw")
filtered = load(f"{out}/filtered/volume.raw")
def mae(a):
    return sum(abs(p - q) for p, q in zip(a, clean)) / len(clean)
def impulses(a):
    return sum(1 for p in a if p <= 0 or p >= 2000)
print(f"mean absolute error against the clean phantom: noisy {mae(noisy):.1f}, "
      f"filtered {mae(filtered):.1f}")
print(f"impulse voxels (<= 0 or >= 2000): noisy {impulses(noisy)}, filtered {impulses(filtered)}")
print(f"host session incl. transfers: {end - start:.2f} s")
PY
echo "open: $out/noisy/volume.nii.gz (input) and $out/filtered/volume.nii.gz (median, r=$radius)"
echo "raw volume files: $out/noisy/volume.raw, $out/filtered/volume.raw; session: $out/filtered/summary.json"
