#!/usr/bin/env bash
# The main job: installs what is missing, builds every program, then runs the demo:
#   1. the median plug-in fKORVANsieve filters a noisy volume served by the host stand-in;
#   2. a diffusion phantom goes through the batch tools: dtimaps into parameter maps, dtitrack
#      into tracks (.tck/.trk/.vtk), dtivoxel into region statistics, and dtimaps --rtnn into
#      neural-network maps checked against numpy;
#   3. heLiXIA opens on the phantom served by ztrhost (under Xvfb, with screenshots of the
#      main window and the ROI editor, when there is no display).
# Results land in demo/ (raw volume files and NIfTI images other tools open).
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
echo "built programs:"; ls -1 build/bin/

demo=$PWD/demo
rm -rf "$demo"; mkdir -p "$demo"

echo "== median filter: ztrhost serves a noisy volume to fKORVANsieve (radius 2.5)"
./tools/demo-median.sh "$demo/median" build 2.5

echo "== diffusion phantom and standard maps with dtimaps"
build/bin/ztrphantom --out "$demo/phantom" --nifti
build/bin/dtimaps "$demo/phantom/dwi.raw" --out "$demo/maps"
ls -l "$demo/maps"

echo "== fiber tracking from a seed sphere in the phantom's curved bundle with dtitrack"
build/bin/dtitrack "$demo/phantom/dwi.nii" --bval "$demo/phantom/dwi.bval" --bvec "$demo/phantom/dwi.bvec" \
  --seed-sphere 18,27,12,2 --threads 2 --out "$demo/tracks"
ls -l "$demo/tracks"

echo "== region statistics in the phantom's straight bundle with dtivoxel"
/usr/bin/python3 - "$demo/phantom" <<'PY'
import sys, nibabel, numpy as np
label = nibabel.load(f"{sys.argv[1]}/truth_label.nii")
mask = (np.asanyarray(label.dataobj) == 4).astype(np.uint8)
nibabel.save(nibabel.Nifti1Image(mask, label.affine), f"{sys.argv[1]}/straight_bundle.nii")
PY
build/bin/dtivoxel stats "$demo/phantom/dwi.nii" --bval "$demo/phantom/dwi.bval" \
  --bvec "$demo/phantom/dwi.bvec" --mask "$demo/phantom/straight_bundle.nii" --out "$demo/stats"
head -n 20 "$demo/stats/stats.txt"

echo "== neural-network maps: the example RTNN set, checked voxel by voxel with numpy"
/usr/bin/python3 tools/make_rtnn_example.py --mpg "$demo/phantom/dwi.mpg" --out "$demo/rtnn"
build/bin/dtimaps "$demo/phantom/dwi.raw" --mpg "$demo/phantom/dwi.mpg" \
  --rtnn "$demo/rtnn/example.rtnn.txt" --out "$demo/rtnn_maps"
/usr/bin/python3 tools/rtnn_reference.py "$demo/rtnn/example.rtnn.txt" "$demo/phantom/dwi.raw" "$demo/rtnn_maps"
ls -l "$demo/rtnn_maps"/rtnn_*

echo "== heLiXIA on the phantom, served by ztrhost"
./tools/demo-helixia.sh build
echo "demo results are in $demo/ (and build/demo-helixia, build/test-artifacts)"
