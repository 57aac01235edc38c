#!/usr/bin/env bash
# Starts the real program under Xvfb and drives it with xdotool as a user
# would: choose the Wahlund model, set var, n and nrep, run with Ctrl+R, save
# with Ctrl+S through the save dialog, check the results file, and end the
# program with Ctrl+X, which must give exit code 0.
set -euo pipefail

source "$(dirname "$0")/session.sh"

start_session "${1:?usage: e2e.sh path/to/zygomet}" 1024x768x24

key alt+w                      # the Wahlund model
key alt+v                      # its variance field
key Home shift+End
type_text "0.02"
key Tab                        # the sample size box
type_text "50"
key Tab Tab                    # past the scroll bar to the number of replicates
type_text "200"
key ctrl+r                     # run
sleep 1
key ctrl+s                     # save: the dialog asks for a name
sleep 1
type_text "$work/results"      # the default extension .txt is added
key Return

for _ in $(seq 1 50); do [[ -s "$work/results.txt" ]] && break; sleep 0.1; done
if [[ ! -s "$work/results.txt" ]]; then
  echo "no results file was written"; ls -la "$work"; cat "$work/app.log"; exit 1
fi

header=$(sed -n 1p "$work/results.txt")
line=$(sed -n 2p "$work/results.txt")
expected_header='     model       p     var       f     w11     w12     w22       n    nrep X2>0.05 X2>0.01  G>0.05  G>0.01   %X2ok    %Gok  Q9 Zygomet'
expected_line='   Wahlund  0.4000  0.0200       0       1       1       1      50     200'
status=0
[[ "$header" == "$expected_header"* ]] || { echo "unexpected header: $header"; status=1; }
[[ "$line" == "$expected_line"* ]] || { echo "unexpected result line: $line"; status=1; }
[[ ${#line} -eq 123 ]] || { echo "the result line is not 122 characters and CR: ${#line}"; status=1; }
[[ $(wc -l <"$work/results.txt") -eq 2 ]] || { echo "expected two lines"; status=1; }
if ((status != 0)); then cat -A "$work/results.txt"; cat "$work/app.log"; exit 1; fi

# Without a window manager nobody gives the focus back after the dialog.
xdotool windowfocus --sync "$main"
sleep 0.3
key ctrl+x                     # ends the program at once
wait_for_program_exit
if [[ "$exit_code" != "0" ]]; then
  echo "the program did not end with exit code 0 (got '$exit_code')"
  cat "$work/app.log"
  exit 1
fi
echo "end-to-end: run, save and exit as a user would: passed"
