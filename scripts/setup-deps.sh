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
  doxygen               # the API reference (make docs), checked by make test
  clang libclang-rt-14-dev   # the libFuzzer targets CI runs (fuzz/)
  python3-dev python3-pybind11 python3-numpy python3-pytest   # the Python module (python/)
  chromium              # the studio's tests in a real browser, headless
)
# Node.js runs those tests (playwright-core): Debian's, unless a Node.js is there already.
command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
# Extra packages for one job only, e.g. KSTROKE_EXTRA_PACKAGES=libmypaint-dev from
# scripts/bench.sh.
read -r -a extra <<< "${KSTROKE_EXTRA_PACKAGES:-}"
packages+=("${extra[@]}")

# The browser tests' one npm package, pinned by its lock file; it downloads no browser.
install_browser_tests() {
  local dir
  dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/studio/browser"
  [ -d "$dir/node_modules/playwright-core" ] && return 0
  echo "setup-deps: installing playwright-core for tests/studio/browser" >&2
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefix "$dir" --no-audit --no-fund --silent >/dev/null
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  install_browser_tests
  exit 0
fi

echo "setup-deps: installing ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
install_browser_tests
