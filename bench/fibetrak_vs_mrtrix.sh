#!/usr/bin/env bash
# dtitrack next to MRtrix3's tckgen -algorithm Tensor_Det, in one run on the same phantom,
# seed sphere, seed count, step, FA cut-off and thread count. Prints steps per second of
# both (whole process, and dtitrack's tracking alone) and their ratio, and the reach of the
# lines (mean and maximum length) as a check that both track the same bundle.
#   bench/fibetrak_vs_mrtrix.sh [BUILD_DIR] [THREADS] [SPHERE] [REPEATS]
set -euo pipefail
BUILD=${1:-build}
THREADS=${2:-2}
SPHERE=${3:-20,30,12,6}
REPEATS=${4:-3}
PY=/usr/bin/python3
command -v tckgen > /dev/null || { echo "tckgen not found (install mrtrix3: tools/install-deps.sh)"; exit 1; }
WORK=$(mktemp -d /tmp/fibetrak_bench_XXXXXX)
trap 'rm -rf "$WORK"' EXIT
"$BUILD/bin/ztrphantom" --out "$WORK/p" --nifti > /dev/null 2>&1
# MRtrix takes the gradients in image axes with -grad; -fslgrad would flip x for this grid.
$PY - "$WORK/p" <<'PYEOF'
import sys, numpy as np
d = sys.argv[1]
b = np.loadtxt(d + '/dwi.bval').ravel(); v = np.loadtxt(d + '/dwi.bvec').reshape(3, -1)
np.savetxt(d + '/dwi.grad', np.column_stack([v.T, b]), fmt='%.6f')
PYEOF
now() { date +%s.%N; }
steps_of() {
  $PY - "$1" <<'PYEOF'
import sys, nibabel as nib, numpy as np
s = nib.streamlines.load(sys.argv[1]).streamlines
n = [len(x) for x in s]
lengths = [float(np.linalg.norm(np.diff(x, axis=0), axis=1).sum()) for x in s if len(x) > 1]
print(len(n), sum(n) - len(n), '%.1f' % (np.mean(lengths) if lengths else 0), '%.1f' % (max(lengths) if lengths else 0))
PYEOF
}
best_ours=0; best_theirs=0; best_engine=0
for r in $(seq "$REPEATS"); do
  t0=$(now)
  "$BUILD/bin/dtitrack" "$WORK/p/dwi.nii" --bval "$WORK/p/dwi.bval" --bvec "$WORK/p/dwi.bvec" \
    --seed-sphere "$SPHERE" --density high --threads "$THREADS" --step 0.7 --fa-min 0.18 \
    --out "$WORK/ours" 2> "$WORK/ours.log"
  t1=$(now)
  seeds=$(wc -l < "$WORK/ours/seeds.txt")
  IFS=', ' read -r cx cy cz rad <<< "$SPHERE"
  t2=$(now)
  tckgen -algorithm Tensor_Det "$WORK/p/dwi.nii" "$WORK/theirs.tck" -grad "$WORK/p/dwi.grad" \
    -seed_sphere "$SPHERE" -seeds "$seeds" -select 0 -step 0.7 -cutoff 0.18 -angle 90 \
    -minlength 0 -maxlength 223 -nthreads "$THREADS" -force -quiet
  t3=$(now)
  read -r our_lines our_steps our_mean our_max <<< "$(steps_of "$WORK/ours/tracks.tck")"
  read -r their_lines their_steps their_mean their_max <<< "$(steps_of "$WORK/theirs.tck")"
  engine=$(grep -o 'steps in [0-9.]* s' "$WORK/ours.log" | awk '{print $3}')
  ours=$(echo "$our_steps / ($t1 - $t0)" | bc -l)
  theirs=$(echo "$their_steps / ($t3 - $t2)" | bc -l)
  engine_rate=$(echo "$our_steps / $engine" | bc -l)
  printf 'run %d: %d seeds; dtitrack %d lines %d steps %.2f s (tracking %.2f s); tckgen %d lines %d steps %.2f s\n' \
    "$r" "$seeds" "$our_lines" "$our_steps" "$(echo "$t1 - $t0" | bc)" "$engine" "$their_lines" "$their_steps" "$(echo "$t3 - $t2" | bc)"
  printf '       mean/max length mm: dtitrack %s/%s, tckgen %s/%s\n' "$our_mean" "$our_max" "$their_mean" "$their_max"
  if (( $(echo "$ours > $best_ours" | bc) )); then best_ours=$ours; fi
  if (( $(echo "$theirs > $best_theirs" | bc) )); then best_theirs=$theirs; fi
  if (( $(echo "$engine_rate > $best_engine" | bc) )); then best_engine=$engine_rate; fi
done
printf 'best of %d, %d threads: dtitrack %.3f M steps/s (tracking alone %.3f), tckgen %.3f M steps/s\n' \
  "$REPEATS" "$THREADS" "$(echo "$best_ours / 1000000" | bc -l)" "$(echo "$best_engine / 1000000" | bc -l)" \
  "$(echo "$best_theirs / 1000000" | bc -l)"
printf 'ratio dtitrack/tckgen: %.2f whole process, %.2f tracking alone\n' \
  "$(echo "$best_ours / $best_theirs" | bc -l)" "$(echo "$best_engine / $best_theirs" | bc -l)"
