# Sourced by the end-to-end scripts. start_xvfb SCREEN LOG starts Xvfb on a
# display number the server picks itself (-displayfd), so that several tests,
# or several checkouts, running at once never race for the same number; it
# sets xvfb_pid and exports DISPLAY once the server answers. Needs $work.
start_xvfb() {
  local fifo="$work/displayfd" n=""
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$fifo" >"$2" 2>&1 &
  xvfb_pid=$!
  read -r -t 20 n <"$fifo" || true
  [[ -n "$n" ]] || { echo "Xvfb did not start:"; cat "$2"; exit 1; }
  export DISPLAY=":$n"
  for _ in $(seq 1 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
}
