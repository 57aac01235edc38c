#!/usr/bin/env bash
# Builds the R package zygomet from R/zygomet and the engine's Qt-free
# sources, and installs it into a library folder of the build.
#
# Usage: build-package.sh BUILD_FOLDER [--check]
#
# R CMD build and R CMD check work on a copy of the package folder (in a
# temporary folder, then from the tarball), where no path outside the
# package reaches back into the repository; so the sources the package
# compiles are copied into its src/zyg here, in a staged copy under
# BUILD_FOLDER/r, and the repository holds only what is the package's own.
# Writes BUILD_FOLDER/r/zygomet_VERSION.tar.gz and installs it into
# BUILD_FOLDER/r/library; with --check, runs R CMD check on the tarball.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(mkdir -p "$1" && cd "$1" && pwd)
check=${2:-}
out=$build/r
stage=$out/zygomet
library=$out/library
stamp=$out/installed.stamp
mkdir -p "$out" "$library"

inputs=("$here/zygomet" "$root/python/shared" "$root/src/core" "$root/src/engine"
        "$root/src/report" "$root/src/power" "$here/build-package.sh")
if [[ -f $stamp && -z $check ]] && [[ -z $(find "${inputs[@]}" -newer "$stamp" -print -quit) ]]; then
  exit 0
fi

rm -rf "$stage"
cp -r "$here/zygomet" "$stage"
rm -rf "$stage/src/zyg" "$stage/src"/*.o "$stage/src"/*.so
for folder in core engine report power; do
  mkdir -p "$stage/src/zyg/$folder"
  cp "$root/src/$folder"/*.h "$root/src/$folder"/*.cpp "$stage/src/zyg/$folder/"
done
mkdir -p "$stage/src/zyg/shared"
cp "$root/python/shared"/Bindings.h "$root/python/shared"/Bindings.cpp "$stage/src/zyg/shared/"
objects=$(cd "$stage/src" && find zyg -name '*.cpp' | sort | sed 's/\.cpp$/.o/' | tr '\n' ' ')
sed -i "s|^ZYG_OBJECTS =.*|ZYG_OBJECTS = $objects|" "$stage/src/Makevars.in"
Rscript -e 'Rcpp::compileAttributes(commandArgs(TRUE)[1])' "$stage" >/dev/null

export MAKEFLAGS="-j$(nproc)"
cd "$out"
rm -f zygomet_*.tar.gz
R CMD build --no-build-vignettes zygomet >/dev/null
tarball=$(ls zygomet_*.tar.gz)
R CMD INSTALL --no-test-load --library="$library" "$tarball" >"$out/install.log" 2>&1 || {
  cat "$out/install.log" >&2
  exit 1
}
touch "$stamp"
echo "Installed the R package zygomet into $library"
if [[ -n $check ]]; then
  # The check reads no package index from the network: every package it
  # needs is installed from Debian, and its repository is an empty one here.
  mkdir -p "$out/repository/src/contrib"
  : >"$out/repository/src/contrib/PACKAGES"
  profile=$out/check.Rprofile
  echo "options(repos = c(CRAN = 'file://$out/repository'))" >"$profile"
  R_PROFILE_USER=$profile _R_CHECK_FORCE_SUGGESTS_=false R CMD check --no-manual "$tarball"
fi
