#!/usr/bin/env bash
# Builds the Debian package from a build tree with CPack and checks it as a
# user would meet it: its control fields and file list, the programs run from
# a scratch root it is unpacked into, its manual pages, and lintian.
#
#   package.sh BUILD_DIR VERSION PROGRAM...
#
# The test build is RelWithDebInfo; `make package` packs a Release build the
# same way.
set -uo pipefail

build=$1 version=$2
shift 2
programs=("$@")

source "$(dirname "$0")/../support/checks.sh"

# --- build the package ------------------------------------------------------
if ! cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  echo "FAIL: cpack could not build the package" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
deb=$scratch/out/zygomet_${version}_${arch}.deb
if [[ ! -f $deb ]]; then
  ls -l "$scratch/out" >&2
  echo "FAIL: no $(basename "$deb")" >&2
  exit 1
fi
echo "Package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# --- control fields ---------------------------------------------------------
info=$(dpkg-deb --info "$deb")
echo "$info"
field() { dpkg-deb --field "$deb" "$1"; }
[[ $(field Package) == zygomet ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "Version is '$(field Version)', the project's is $version"
[[ $(field Architecture) == "$arch" ]] || fail "Architecture is '$(field Architecture)'"
[[ $(field Section) == science ]] || fail "Section is '$(field Section)'"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer '$(field Maintainer)' is not 'Name <address>'"
description=$(field Description)
summary=$(head -n1 <<<"$description")
[[ -n $summary && ${#summary} -le 80 ]] || fail "the short description '$summary' is empty or too long"
(($(wc -l <<<"$description") >= 4)) || fail "the long description is missing"
depends=$(field Depends)
# The package names alone, one a line, without their versions.
depends_names=$(tr ',' '\n' <<<"$depends" | sed 's/(.*)//; s/^ *//; s/ *$//')
for library in libqt6widgets6 libqt6gui6 libqt6core6 libc6 libstdc++6; do
  grep -qxF "$library" <<<"$depends_names" || fail "Depends does not name $library: $depends"
done

# --- the files, where Debian keeps them -------------------------------------
contents=$(dpkg-deb --contents "$deb")
echo "$contents"
expected=(
  ./usr/share/zygomet/ZYGOMETHELP.HLP
  ./usr/share/applications/zygomet.desktop
  ./usr/share/icons/hicolor/scalable/apps/zygomet.svg
  ./usr/share/doc/zygomet/copyright
  ./usr/share/doc/zygomet/changelog.gz
)
for program in "${programs[@]}"; do
  expected+=("./usr/bin/$program" "./usr/share/man/man1/$program.1.gz")
done
# "mode owner size date time path": the path is the sixth column.
paths=$(awk '{ print $6 }' <<<"$contents")
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$paths" || fail "the package does not hold $path"
done
while read -r mode owner _ _ _ path _; do
  [[ $owner == root/root ]] || fail "$path belongs to $owner, not root/root"
  [[ $path == ./ || $path == ./usr/* ]] || fail "$path is outside /usr"
  # The library's headers, archives and CMake package are for developers
  # (cmake --install, component Development), not for the package.
  [[ $path != ./usr/include/* && $path != ./usr/lib/* ]] || fail "$path is a developer's file"
  case $mode in
    d*) [[ $mode == drwxr-xr-x ]] || fail "directory $path has mode $mode" ;;
    -*)
      if [[ $path == ./usr/libexec/zygomet/* ]]; then
        # The helper programs the commands run, such as the Q-Q plot's.
        [[ $mode == -rwxr-xr-x ]] || fail "helper program $path has mode $mode"
      elif [[ $path == ./usr/bin/* ]]; then
        [[ $mode == -rwxr-xr-x ]] || fail "program $path has mode $mode"
        # Only programs in /usr/bin: no help file or data beside them.
        printf '%s\n' "${programs[@]}" | grep -qxF "${path#./usr/bin/}" ||
          fail "$path is in /usr/bin but is none of the programs"
      else
        [[ $mode == -rw-r--r-- ]] || fail "file $path has mode $mode"
      fi
      ;;
    *) fail "$path is neither a file nor a directory ($mode)" ;;
  esac
done <<<"$contents"

# --- unpacked into a scratch root, the programs run -------------------------
root=$scratch/root
dpkg -x "$deb" "$root" || fail "dpkg -x could not unpack the package"
for program in "${programs[@]}"; do
  binary=$root/usr/bin/$program
  [[ -x $binary ]] || { fail "$binary is not executable"; continue; }
  missing=$(ldd "$binary" | grep 'not found')
  [[ -z $missing ]] || fail "$program cannot find libraries: $missing"
  readelf -S "$binary" | grep -qE '\.(symtab|debug_info)' && fail "$program is not stripped"
done

# A command's manual page describes exactly the options its --help lists, and
# every example of the page runs as shown with the installed program, in a
# folder that holds a small counts.txt for the examples that read one.
check_command_page() {
  local program=$1 min_examples=$2
  local binary=$root/usr/bin/$program help=$scratch/$program-help.txt
  if ! "$binary" --help >"$help" 2>&1; then
    cat "$help" >&2
    fail "the installed $program --help failed"
    return
  fi
  local page=$root/usr/share/man/man1/$program.1.gz
  [[ -f $page ]] || return
  local help_options page_options examples option output
  help_options=$(grep -oE '^ +--[a-z0-9-]+' "$help" | tr -d ' ' | sort -u)
  # The option items of the page's OPTIONS section, as man shows them.
  page_options=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$page" 2>/dev/null |
    sed -n '/^OPTIONS$/,/^[A-Z]/p' | grep -E '^ {7}--' | grep -oE -- '--[a-z0-9-]+' | sort -u)
  [[ -n $help_options ]] || fail "no options found in $program --help"
  while read -r option; do
    [[ -n $option ]] || continue
    grep -qxF -- "$option" <<<"$page_options" ||
      fail "$program --help lists $option, which $program(1) does not describe"
  done <<<"$help_options"
  while read -r option; do
    [[ -n $option ]] || continue
    grep -qxF -- "$option" <<<"$help_options" ||
      fail "$program(1) describes $option, which $program --help does not list"
  done <<<"$page_options"
  examples=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$page" 2>/dev/null |
    sed -n '/^EXAMPLES$/,/^[A-Z]/p' | sed -n "/^ *$program /{:a;/\\\\\$/{N;ba;};p;}" |
    sed 's/^ *//')
  (($(grep -c "^$program " <<<"$examples") >= min_examples)) ||
    fail "$program(1) has fewer than $min_examples examples"
  local folder=$scratch/examples-$program
  mkdir -p "$folder"
  printf 'marker AA AB BB\nrs1 21 61 18\nrs2 2 17 81\nrs3 0 0 40\n' >"$folder/counts.txt"
  # A small gzipped VCF with a sex file, and a PLINK fileset of the same
  # people with their populations, for the examples of genotype files.
  printf '%s\n' '##fileformat=VCFv4.2' '##contig=<ID=1>' \
    '##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">' \
    $'#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tp1\tp2\tp3\tp4' \
    $'1\t100\trs1\tA\tG\t.\tPASS\t.\tGT\t0/0\t0/1\t1|1\t0/1' \
    $'1\t200\trs2\tC\tT\t.\tPASS\t.\tGT\t0/0\t0/0\t./.\t0/1' | gzip -c >"$folder/study.vcf.gz"
  printf 'p1 1\np2 2\np3 1\np4 2\n' >"$folder/study.sex"
  printf 'f%s p%s 0 0 %s -9\n' 1 1 1 2 2 2 3 3 1 4 4 2 >"$folder/study.fam"
  printf '1\trs1\t0\t100\tG\tA\n1\trs2\t0\t200\tT\tC\n' >"$folder/study.bim"
  printf '\x6c\x1b\x01\x38\x02' >"$folder/study.bed"
  printf 'p1 popA\np2 popA\np3 popB\np4 popB\n' >"$folder/populations.txt"
  if ! (cd "$folder" && PATH=$root/usr/bin:$PATH bash -euo pipefail -c "$examples" \
    >"$scratch/examples.txt" 2>&1); then
    cat "$scratch/examples.txt" >&2
    fail "an example of $program(1) failed: $examples"
  fi
  # And leaves the files it names.
  for output in $(grep -oE -- '--(csv|results|plot) [^ ]+' <<<"$examples" | awk '$2 != "-" { print $2 }'); do
    [[ -s $folder/$output ]] || fail "an example of $program(1) did not write $output"
  done
}

if [[ " ${programs[*]} " == *" zygomet-power "* ]]; then
  power=$root/usr/bin/zygomet-power
  check_command_page zygomet-power 3
  grep -q -- '--model' "$scratch/zygomet-power-help.txt" || fail "zygomet-power --help does not list --model"
  "$power" --model nonsense >/dev/null 2>"$scratch/bad.txt"
  status=$?
  ((status == 2)) || fail "zygomet-power with an unknown model ended with $status, not 2"
  [[ $(wc -l <"$scratch/bad.txt") -eq 1 ]] || fail "zygomet-power's bad-input message is not one line"
fi

if [[ " ${programs[*]} " == *" zygomet-test "* ]]; then
  observed=$root/usr/bin/zygomet-test
  check_command_page zygomet-test 3
  # Compute nodes have no Qt: the command must not need it.
  ldd "$observed" | grep -qi 'libqt' && fail "zygomet-test links Qt: $(ldd "$observed" | grep -i libqt)"
  [[ $("$observed" --version) == "zygomet-test $version" ]] ||
    fail "zygomet-test --version prints '$("$observed" --version)', not zygomet-test $version"
  "$observed" 21 -- 61 >/dev/null 2>"$scratch/bad.txt"
  status=$?
  ((status == 2)) || fail "zygomet-test with two counts ended with $status, not 2"
  [[ $(wc -l <"$scratch/bad.txt") -eq 1 ]] || fail "zygomet-test's bad-input message is not one line"
fi

# The window program takes no command line: it must start and keep running
# until it is closed. Offscreen, nobody closes it; after a few seconds it is
# stopped.
QT_QPA_PLATFORM=offscreen timeout -k 5 4 "$root/usr/bin/zygomet" >"$scratch/window.txt" 2>&1
status=$?
if ((status != 124)); then
  cat "$scratch/window.txt" >&2
  fail "the installed zygomet did not keep running (status $status)"
fi

# --- manual pages -----------------------------------------------------------
for program in "${programs[@]}"; do
  page=$root/usr/share/man/man1/$program.1.gz
  [[ -f $page ]] || continue
  gzip -t "$page" || fail "$page is not a valid gzip file"
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>"$scratch/man.err")
  [[ -s $scratch/man.err ]] && fail "man reports problems in $program(1): $(cat "$scratch/man.err")"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES; do
    grep -qx "$section" <<<"$text" || fail "$program(1) has no $section section"
  done
  grep -q "Zygomet $version" <<<"$text" || fail "$program(1) does not carry version $version"
  grep -q '@' <<<"$(zcat "$page" | grep -v '^\.\\"')" && fail "$program(1) has an unfilled @...@ placeholder"
done

# --- copyright file in Debian's machine-readable format ---------------------
copyright=$root/usr/share/doc/zygomet/copyright
head -n1 "$copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not in the machine-readable format"
grep -q '^Copyright: .*The Zygomet Project' "$copyright" || fail "the copyright file lacks the project's notice"
zcat "$root/usr/share/doc/zygomet/changelog.gz" | head -n1 | grep -q "^zygomet ($version) " ||
  fail "the changelog's first entry is not for version $version"

# --- python3-zygomet, when the build made the Python module -----------------
# Its own package beside the programs': the module under Debian's site
# directory, its copyright and changelog, the interpreter and numpy as
# dependencies, and unpacked it imports and gives zygomet-test's p-value.
debs=("$deb")
python_deb=$scratch/out/python3-zygomet_${version}_${arch}.deb
if [[ -f $build/python/zygomet/__init__.py ]]; then
  debs+=("$python_deb")
  if [[ ! -f $python_deb ]]; then
    fail "no $(basename "$python_deb") beside $(basename "$deb")"
  else
    echo "Package: $(basename "$python_deb"), $(stat -c %s "$python_deb") bytes"
    pfield() { dpkg-deb --field "$python_deb" "$1"; }
    [[ $(pfield Package) == python3-zygomet ]] || fail "the Python package is '$(pfield Package)'"
    [[ $(pfield Version) == "$version" ]] || fail "python3-zygomet's Version is '$(pfield Version)'"
    [[ $(pfield Section) == python ]] || fail "python3-zygomet's Section is '$(pfield Section)'"
    [[ $(pfield Description | head -n1) == *Python* ]] ||
      fail "python3-zygomet's summary does not say Python: $(pfield Description | head -n1)"
    pdepends=$(pfield Depends | tr ',' '\n' | sed 's/(.*)//; s/^ *//; s/ *$//')
    for needed in python3 python3-numpy libstdc++6 libc6; do
      grep -qxF "$needed" <<<"$pdepends" || fail "python3-zygomet does not depend on $needed"
    done
    site=./usr/lib/python3/dist-packages/zygomet
    pcontents=$(dpkg-deb --contents "$python_deb")
    ppaths=$(awk '{ print $6 }' <<<"$pcontents")
    for path in "$site/__init__.py" ./usr/share/doc/python3-zygomet/copyright \
      ./usr/share/doc/python3-zygomet/changelog.gz; do
      grep -qxF "$path" <<<"$ppaths" || fail "python3-zygomet does not hold $path"
    done
    grep -qE "^$site/_zygomet\..*\.so\$" <<<"$ppaths" || fail "python3-zygomet holds no compiled module"
    while read -r mode owner _ _ _ path _; do
      [[ $owner == root/root ]] || fail "$path belongs to $owner, not root/root"
      [[ $path == ./ || $path == ./usr/ || $path == ./usr/lib/* || $path == ./usr/share/* ]] ||
        fail "python3-zygomet holds $path, outside the module and its documents"
      [[ $mode == d* || $mode == -rw-r--r-- ]] || fail "python3-zygomet's $path has mode $mode"
    done <<<"$pcontents"
    proot=$scratch/python-root
    dpkg -x "$python_deb" "$proot" || fail "dpkg -x could not unpack python3-zygomet"
    python=${PYTHON:-/usr/bin/python3}
    got=$(PYTHONPATH=$proot/usr/lib/python3/dist-packages "$python" -c \
      'import zygomet; print(repr(float(zygomet.test(21, 61, 18, tests="exact")["p_exact"])))' 2>&1)
    want=$("$root/usr/bin/zygomet-test" 21 61 18 --test exact --csv - | tail -n1 | awk -F, '{ print $NF }')
    [[ -n $want && $("$python" -c "print(repr(float('$want')))") == "$got" ]] ||
      fail "the installed module gives p_exact '$got', zygomet-test '$want'"
  fi
fi

# --- lintian: errors fail, warnings are listed ------------------------------
if command -v lintian >/dev/null 2>&1; then
  lintian --tag-display-limit 0 --allow-root "${debs[@]}" >"$scratch/lintian.txt" 2>&1
  echo "lintian:"
  if [[ -s $scratch/lintian.txt ]]; then cat "$scratch/lintian.txt"; else echo "  (nothing to report)"; fi
  grep -q '^E: ' "$scratch/lintian.txt" && fail "lintian reports errors"
else
  echo "lintian is not installed (scripts/install-deps.sh installs it); its check was skipped"
fi

finish package
