#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Zygomet need,
# and only those that are missing, so that a fresh Debian 12 machine works with
# nothing done by hand. Uses sudo when not run as root.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-charts-dev qt6-svg-dev libgl-dev libx11-dev libgtest-dev clang-format
  fonts-dejavu-core fonts-liberation2
  xvfb xauth xdotool x11-utils
  dpkg-dev lintian man-db
  python3-pybind11 python3-numpy python3-pytest python3-pandas python3-dask python3-distributed
  r-base-dev r-cran-rcpp r-cran-testthat
  libhts-dev zlib1g-dev
)

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
  else
    echo "Missing packages (${missing[*]}) and no sudo to install them; run this script as root." >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}"
