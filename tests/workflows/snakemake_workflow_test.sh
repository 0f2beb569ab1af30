#!/usr/bin/env bash
# The subject workflow end to end: three phantom subjects (a NIfTI DWI with a statistics mask,
# the same phantom as a DICOM directory, and one with a seed mask for tracking) go through
# Snakemake; the summary table must hold one row per subject with the phantom's true FA in the
# mask, and a second run must find nothing to do.
#   snakemake_workflow_test.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/ztr_workflow_XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
cd "$work"
py=/usr/bin/python3

for s in s1 s2 s3; do
  "$bin/ztrphantom" --out "$s" --nifti --size 32 32 10 --noise 0 >/dev/null 2>"$s.log"
done

# Statistics masks: the straight bundle, away from the crossing (label 4). Seeds: a few voxels
# in the middle of the curved bundle (label 3).
"$py" - <<'PY'
import nibabel, numpy as np
for s in ("s1", "s2", "s3"):
    label = nibabel.load(f"{s}/truth_label.nii")
    data = np.asanyarray(label.dataobj)
    mask = (data == 4).astype(np.uint8)
    assert mask.sum() > 20, f"{s}: straight bundle too small ({mask.sum()} voxels)"
    nibabel.save(nibabel.Nifti1Image(mask, label.affine), f"{s}/mask.nii")
    seed = np.zeros_like(mask)
    bundle = np.argwhere(data == 3)
    for i, j, k in bundle[len(bundle) // 2 - 2:len(bundle) // 2 + 2]:
        seed[i, j, k] = 1
    nibabel.save(nibabel.Nifti1Image(seed, label.affine), f"{s}/seed.nii")
PY
"$py" "$src/tests/analyzer/io/make_dicom_series.py" s2/dicom --values s2/dwi.nii \
  --slice-step 1 --spacing-between-slices 1 --pixel-spacing 1 >/dev/null

printf 'subject\tdwi\tbval\tbvec\tseed\tmask\n' >subjects.tsv
printf 'nifti\ts1/dwi.nii\ts1/dwi.bval\ts1/dwi.bvec\t\ts1/mask.nii\n' >>subjects.tsv
printf 'dicom\ts2/dicom\ts2/dwi.bval\ts2/dwi.bvec\t\ts2/mask.nii\n' >>subjects.tsv
printf 'seeded\ts3/dwi.nii\ts3/dwi.bval\ts3/dwi.bvec\ts3/seed.nii\ts3/mask.nii\n' >>subjects.tsv

run() {
  timeout 900 snakemake -s "$src/workflows/Snakefile" -d "$work" --cores 2 \
    --config bin="$bin" subjects="$work/subjects.tsv" results="$work/results" "$@"
}
if ! run >first.log 2>&1; then
  tail -40 first.log
  for f in results/*/logs/*.log; do echo "== $f"; tail -5 "$f"; done
  exit 1
fi

"$py" - <<'PY'
import csv, sys, nibabel, numpy as np
rows = list(csv.DictReader(open("results/summary.tsv"), delimiter="\t"))
assert [r["subject"] for r in rows] == ["nifti", "dicom", "seeded"], rows
for row, s in zip(rows, ("s1", "s2", "s3")):
    truth = np.asanyarray(nibabel.load(f"{s}/truth_fa.nii").dataobj)
    mask = np.asanyarray(nibabel.load(f"{s}/mask.nii").dataobj) > 0
    expected = float(truth[mask].mean())
    measured = float(row["fa_mean"])
    assert abs(measured - expected) <= 0.02, f"{row['subject']}: FA {measured} vs truth {expected}"
    print(f"{row['subject']}: FA mean {measured:.4f}, truth {expected:.4f}")
seeded = rows[2]
assert int(seeded["lines"]) > 0 and float(seeded["mean_length_mm"]) > 0, seeded
assert rows[0]["lines"] == "" and rows[1]["lines"] == "", "tracks only where a seed is given"
PY

# Everything is up to date: a second run schedules no job.
run >second.log 2>&1 || { tail -20 second.log; exit 1; }
if ! grep -q "Nothing to be done" second.log; then
  echo "the second run did work again:"; tail -20 second.log; exit 1
fi
echo "workflow: 3 subjects, summary checked, second run did nothing"
