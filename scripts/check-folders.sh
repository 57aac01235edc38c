#!/usr/bin/env bash
# Checks the folder rule of DEVELOPERS.md: each folder of src/ includes only
# the folders below it (and its own); no folder includes a window's header
# from src/ itself. A folder that is not listed here fails the check, so a
# new folder takes its place in the rule when it is made.
set -euo pipefail
cd "$(dirname "$0")/../src"

declare -A allowed=(
  [core]="core"
  [engine]="core engine"
  [report]="core engine report"
  [platform]="core platform"
  [widgets]="core platform widgets"
  [power]="core engine report power"
  [sources]="core engine sources"
  [cli]="core engine report power sources cli"
  [charts]="core engine report platform widgets power sources charts"
)

status=0
rules=""
for folder in */; do
  folder=${folder%/}
  if [[ -z ${allowed[$folder]+set} ]]; then
    echo "src/$folder: a folder the rule does not place (scripts/check-folders.sh, DEVELOPERS.md)"
    status=1
  fi
done
for folder in "${!allowed[@]}"; do rules+="$folder=${allowed[$folder]};"; done
# One pass over every include of every folder.
grep -H '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' -- */* |
  awk -v rules="$rules" '
    BEGIN {
      n = split(rules, entries, ";")
      for (i = 1; i <= n; i++)
        if (split(entries[i], kv, "=") == 2) allowed[kv[1]] = " " kv[2] " "
    }
    {
      file = substr($0, 1, index($0, ":") - 1)
      folder = substr(file, 1, index(file, "/") - 1)
      if (!(folder in allowed)) next
      match($0, /"[^"]*"/)
      included = substr($0, RSTART + 1, RLENGTH - 2)
      slash = index(included, "/")
      if (slash == 0) {
        print file ": includes \"" included "\", a header of the windows"; bad = 1; next
      }
      top = substr(included, 1, slash - 1)
      if (index(allowed[folder], " " top " ") == 0) {
        print file ": includes \"" included "\"; src/" folder " may include only:" allowed[folder]
        bad = 1
      }
    }
    END { exit bad }' || status=1
if ((status == 0)); then echo "Every folder includes only the folders below it."; fi
exit $status
