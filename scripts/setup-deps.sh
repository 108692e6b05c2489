#!/usr/bin/env bash
# Installs the Debian packages the kstroke build and CI need. Idempotent: when everything is
# already there it prints nothing and touches nothing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libboost-dev          # boost::shared_ptr / scoped_ptr
  libpng-dev            # PNG in and out
  libopenexr-dev        # OpenEXR in and out (half and float)
  libtiff-dev           # TIFF in and out (8, 16 bits and float)
  libjpeg62-turbo-dev   # JPEG clone images
  liblcms2-dev          # colour profiles embedded in images
  libcairo2-dev         # the drawing interface behind brush outlines
  nlohmann-json3-dev    # stroke descriptions
  libcli11-dev          # the kstroke command line
  libtbb-dev            # threaded row iteration
  libssl-dev            # SHA-256 of frames in the frame manifest (libcrypto)
  slurm-wlm munge       # the one-node cluster the submit tests render on (scripts/local-slurm.sh)
  libgtest-dev libgmock-dev
  libbenchmark-dev
  clang libclang-rt-14-dev   # the libFuzzer targets CI runs (fuzz/)
)
# Extra packages for one job only, e.g. KSTROKE_EXTRA_PACKAGES=libmypaint-dev from
# scripts/bench.sh.
read -r -a extra <<< "${KSTROKE_EXTRA_PACKAGES:-}"
packages+=("${extra[@]}")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup-deps: installing ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
