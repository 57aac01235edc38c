# The frame of a shell test that goes on after a failed check: `fail` says
# what failed and counts it, `$scratch` is a folder removed at exit, and
# `finish NAME` ends the test, with status 1 when any check failed.
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
finish() {
  if ((failures > 0)); then
    echo "$1: $failures check(s) failed" >&2
    exit 1
  fi
  echo "$1: all checks passed"
  exit 0
}
