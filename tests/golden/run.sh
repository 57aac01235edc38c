#!/usr/bin/env bash
# The outputs kept byte for byte: each line of commands.txt runs with the
# programs under test on the PATH, in a scratch folder holding this folder's
# input files, and its standard output, standard error and exit status must
# equal expected/NN.txt. With --write the expected files are written instead.
#
# Usage: run.sh [--write] zygomet-power zygomet-test
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
write=0
if [[ ${1:-} == --write ]]; then write=1; shift; fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/bin" "$scratch/work"
for program in "$@"; do ln -s "$(realpath "$program")" "$scratch/bin/$(basename "$program")"; done
cp "$here"/*.txt "$scratch/work/"
mkdir -p "$here/expected"
failed=0 number=0
while IFS= read -r command; do
  [[ -z $command || $command == \#* ]] && continue
  number=$((number + 1))
  name=$(printf '%02d' "$number")
  actual=$(cd "$scratch/work" && PATH="$scratch/bin:$PATH" LC_ALL=C bash -c "$command" 2>&1; echo "status $?")
  if ((write)); then
    printf '%s\n' "$actual" > "$here/expected/$name.txt"
  elif ! diff -q <(printf '%s\n' "$actual") "$here/expected/$name.txt" >/dev/null; then
    echo "FAIL $name: $command"
    diff <(printf '%s\n' "$actual") "$here/expected/$name.txt" | head -20
    failed=$((failed + 1))
  fi
done < "$here/commands.txt"
((write)) && { echo "wrote $number expected outputs"; exit 0; }
echo "$number commands, $failed differ"
((failed == 0))
