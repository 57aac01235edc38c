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
for folder in */; do
  folder=${folder%/}
  if [[ -z ${allowed[$folder]+set} ]]; then
    echo "src/$folder: a folder the rule does not place (scripts/check-folders.sh, DEVELOPERS.md)"
    status=1
    continue
  fi
  while IFS= read -r hit; do
    file=${hit%%:*}
    included=$(sed -E 's/.*#include "([^"]*)".*/\1/' <<<"$hit")
    if [[ $included != */* ]]; then
      echo "$file: includes \"$included\", a header of the windows"
      status=1
      continue
    fi
    top=${included%%/*}
    if [[ " ${allowed[$folder]} " != *" $top "* ]]; then
      echo "$file: includes \"$included\"; src/$folder may include only: ${allowed[$folder]}"
      status=1
    fi
  done < <(grep -H '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder"/* || true)
done
if ((status == 0)); then echo "Every folder includes only the folders below it."; fi
exit $status
