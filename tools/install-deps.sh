#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need; skips what is there.
set -euo pipefail
PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libgtk-3-dev xvfb xauth xdotool x11-apps imagemagick
  libnifti2-dev libeigen3-dev zlib1g-dev
  dcmtk python3 python3-numpy python3-scipy python3-pydicom python3-dipy python3-nibabel
  snakemake
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
