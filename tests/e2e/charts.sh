#!/usr/bin/env bash
# Starts the real program under Xvfb and drives the two study windows with
# xdotool as a user would: a run in the main window, then Tools > Power
# Curve..., a range of n, Enter to compute, Export CSV and Export PNG through
# the save dialog, the tooltip of a point of a curve, Esc; then Tools > De
# Finetti Diagram..., Enter to draw, Export PNG, Esc. Checks the files, the
# tooltip window, that Esc left the program running, and that Ctrl+X still
# ends it with exit code 0.
set -euo pipefail

source "$(dirname "$0")/session.sh"

fail() {
  echo "charts end-to-end: $*"
  ls -la "$work"
  cat "$work/app.log"
  exit 1
}

start_session "${1:?usage: charts.sh path/to/zygomet}" 1280x1024x24

# Waits (bounded) for a visible window with this title and focuses it.
window_named() {
  local id
  id=$(timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -n 1) || true
  [[ -n "$id" ]] || fail "no window \"$1\""
  xdotool windowfocus --sync "$id"
  sleep 0.3
  echo "$id"
}
wait_for_file() {
  for _ in $(seq 1 300); do [[ -s "$1" ]] && return 0; sleep 0.1; done
  fail "$1 was not written"
}
# Presses the keys of an export command until its save dialog is there (the
# command waits while the window still computes), then focuses the dialog.
# Nothing is typed before the dialog has the focus, however busy the machine.
open_save_dialog() {
  local id=""
  for _ in $(seq 1 12); do
    key "$1"
    id=$(timeout 10 xdotool search --sync --onlyvisible --name "^Save As" | head -n 1) || true
    [[ -n "$id" ]] && break
  done
  [[ -n "$id" ]] || fail "$1 opened no save dialog"
  xdotool windowfocus --sync "$id"
  sleep 0.3
}
# Waits (bounded) until no visible window has this title.
wait_until_closed() {
  for _ in $(seq 1 100); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  fail "the window \"$1\" is still open"
}
# The width and height of a PNG file, from its header.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}'; }

key alt+i                      # the inbreeding model
key ctrl+r                     # a run, so that there is a last sample
sleep 1

# ---- Power curve ----
key alt+t
key p                          # Tools > Power Curve...
curve=$(window_named "Power Curve - Zygomet")
key alt+r; key ctrl+a; type_text "10"      # n from
key alt+o; key ctrl+a; type_text "100"     # n to
key alt+e; key ctrl+a; type_text "10"      # step
key Return                                  # compute (a fraction of a second)
open_save_dialog alt+s                      # Export CSV...
type_text "$work/curve"                     # the extension .csv is added
key Return
wait_for_file "$work/curve.csv"
xdotool windowfocus --sync "$curve"; sleep 0.3
open_save_dialog alt+n                      # Export PNG...
type_text "$work/curve"
key Return
wait_for_file "$work/curve.png"

header=$(head -n 1 "$work/curve.csv")
[[ "$header" == model,p,var,f,w11,w12,w22,n,test,level,method,testable,power,conditional_power,se* ]] ||
  fail "unexpected CSV header: $header"
rows=$(($(wc -l <"$work/curve.csv") - 1))
((rows >= 10 && rows % 10 == 0)) || fail "expected 10 rows per test, got $rows"
first=$(sed -n 2p "$work/curve.csv")
[[ "$first" == inbreeding,*,10,x2,0.05,exact,* ]] || fail "unexpected first row: $first"
size=$(png_size "$work/curve.png")
[[ "$size" == 900x600 ]] || fail "the curve picture is $size, not 900x600"

# Resting the pointer on a curve shows a tooltip window: the pointer goes
# down the chart 12 pixels at a time (a line reaches 8 pixels either side,
# so none is stepped over) until one appears, then away from every line,
# where it goes again.
tooltip_shown() { xwininfo -root -children | grep -q '"Zygomet": ("zygomet"'; }
xdotool windowfocus --sync "$curve"; sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$curve")"
tooltip_shown && fail "a tooltip is shown before the pointer rests on a curve"
found=""
for dy in $(seq 40 12 $((HEIGHT * 3 / 4))); do
  xdotool mousemove $((X + WIDTH * 7 / 10)) $((Y + dy)); sleep 0.05
  if tooltip_shown; then found=$dy; break; fi
done
[[ -n "$found" ]] || fail "no tooltip while the pointer went down across the curves"
tip=$(xwininfo -root -children | grep '"Zygomet": ("zygomet"')
tip_height=$(sed -E 's/.* [0-9]+x([0-9]+)\+.*/\1/' <<<"$tip")
((tip_height > 20)) || fail "the tooltip is too small to hold a point's values: $tip"
# Up to the chart's title, far from every line; Qt hides a tooltip 300 ms
# after it is told to.
xdotool mousemove $((X + WIDTH * 7 / 10)) $((Y + 45)); sleep 1
tooltip_shown && fail "the tooltip stayed away from the curves"

xdotool windowfocus --sync "$curve"; sleep 0.3
key Escape                                  # closes the window only
wait_until_closed "Power Curve - Zygomet"
kill -0 "$app_pid" 2>/dev/null || fail "Esc in the power-curve window ended the program"

# ---- De Finetti diagram ----
xdotool windowfocus --sync "$main"; sleep 0.3
key alt+t
key d                          # Tools > De Finetti Diagram...
diagram=$(window_named "De Finetti Diagram - Zygomet")
key Return                     # draw
open_save_dialog alt+g         # Export PNG...
type_text "$work/diagram"
key Return
wait_for_file "$work/diagram.png"
size=$(png_size "$work/diagram.png")
[[ "$size" == 800x700 ]] || fail "the diagram picture is $size, not 800x700"
xdotool windowfocus --sync "$diagram"; sleep 0.3
# Pasting into the samples box while nothing owns the clipboard (nothing
# has copied in this display) pastes nothing, by every key and the menu.
key alt+y                      # the samples box
key ctrl+v
key shift+Insert
key Menu
key Escape
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "pasting an empty clipboard ended the program"
xdotool windowfocus --sync "$diagram"; sleep 0.3
key Escape
wait_until_closed "De Finetti Diagram - Zygomet"
kill -0 "$app_pid" 2>/dev/null || fail "Esc in the diagram window ended the program"

# ---- The program still ends as before ----
xdotool windowfocus --sync "$main"; sleep 0.3
key ctrl+x
wait_for_program_exit
[[ "$exit_code" == "0" ]] || fail "the program did not end with exit code 0 (got '$exit_code')"
echo "end-to-end: power curve and de Finetti diagram computed, exported and closed: passed"
