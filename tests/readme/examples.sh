#!/usr/bin/env bash
# Runs the command examples of the README that show their output, and
# compares what they print with the README's block exactly. An example is a
# line "    $ command" in an indented block, with its continuation lines (ending
# in "\"); the lines after it, up to the next example or the end of the
# block, are its output. The examples run in order, in one scratch folder
# (a later one may read a file an earlier one wrote), with the programs given
# being the programs under test. An example whose block shows no output must
# succeed and print nothing on standard error. "$ cat FILE" of a file that
# does not exist yet shows the reader a file the next examples read: it
# writes the shown lines into FILE.
#
# Usage: examples.sh README.md path/to/program...
set -uo pipefail

readme=$1
shift
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/bin" "$scratch/examples" "$scratch/work"
for program in "$@"; do
  ln -s "$(realpath "$program")" "$scratch/bin/$(basename "$program")"
done

# Each example N becomes examples/N.cmd and examples/N.out.
awk -v dir="$scratch/examples" '
  function close_example() {
    if (n > 0) { close(dir "/" n ".cmd"); close(dir "/" n ".out") }
    collecting = 0; blanks = 0
  }
  /^    \$ / {
    close_example()
    n++
    command = substr($0, 7)
    while (command ~ /\\$/ && (getline line) > 0) command = command "\n" substr(line, 5)
    print command > (dir "/" n ".cmd")
    printf "" > (dir "/" n ".out")
    collecting = 1
    next
  }
  collecting && /^$/ { blanks++; next }
  collecting && /^    / {
    for (; blanks > 0; blanks--) print "" > (dir "/" n ".out")
    print substr($0, 5) > (dir "/" n ".out")
    next
  }
  collecting { close_example() }
' "$readme"

count=$(find "$scratch/examples" -name '*.cmd' | wc -l)
if ((count < 4)); then
  echo "found only $count command examples in $readme: the extraction no longer matches it" >&2
  exit 1
fi

failed=0
for ((i = 1; i <= count; i++)); do
  command=$(cat "$scratch/examples/$i.cmd")
  expected="$scratch/examples/$i.out"
  actual="$scratch/examples/$i.actual"
  errors="$scratch/examples/$i.err"
  if [[ $command =~ ^cat\ ([A-Za-z0-9._-]+)$ && ! -e "$scratch/work/${BASH_REMATCH[1]}" ]]; then
    cp "$expected" "$scratch/work/${BASH_REMATCH[1]}"
    continue
  fi
  (cd "$scratch/work" && PATH="$scratch/bin:$PATH" LC_ALL=C.UTF-8 bash -c "$command") \
    >"$actual" 2>"$errors"
  status=$?
  if [[ ! -s "$expected" ]]; then
    # The README shows the command only: it must work and complain of nothing.
    if ((status != 0)) || [[ -s "$errors" ]]; then
      echo "README example $i failed with status $status:" >&2
      echo "  \$ $command" >&2
      cat "$errors" >&2
      failed=1
    fi
    continue
  fi
  cat "$errors" >>"$actual"
  # The results file ends its lines with CR LF, which a terminal (and the
  # README) does not show.
  sed -i 's/\r$//' "$actual"
  if ((status != 0)) || ! cmp -s "$expected" "$actual"; then
    echo "README example $i (status $status) prints something else than the README shows:" >&2
    echo "  \$ $command" >&2
    diff -u --label README "$expected" --label program "$actual" >&2
    failed=1
  fi
done
if ((failed)); then
  echo "Update README.md to what the programs print now." >&2
  exit 1
fi
echo "all $count README examples print what the README shows"
