# Sourced by the end-to-end scripts: the session a test drives.
#   start_session PROGRAM SCREEN  makes the scratch folder $work (removed on
#     exit with the program and the server), starts Xvfb on SCREEN
#     (WIDTHxHEIGHTxDEPTH) and the program in $work with a home of its own,
#     and focuses its main window, whose id it leaves in $main.
#   key KEYS...  and  type_text TEXT  type as a user would, with a pause.
# Xvfb picks its own display number (-displayfd), so several tests, or
# several checkouts, running at once never race for the same number.

work=""
xvfb_pid=""
app_pid=""
main=""

end_session() {
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  [[ -n "$work" ]] && rm -rf "$work"
}

start_session() {
  local program screen fifo n=""
  program=$(readlink -f "$1")
  screen=$2
  for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (make test installs it)"; exit 1; }
  done
  work=$(mktemp -d)
  trap end_session EXIT

  fifo="$work/displayfd"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$fifo" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  read -r -t 20 n <"$fifo" || true
  [[ -n "$n" ]] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
  export DISPLAY=":$n"
  for _ in $(seq 1 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

  # The program keeps no settings, but give it a home of its own all the same.
  export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME=
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  (cd "$work" && exec "$program") >"$work/app.log" 2>&1 &
  app_pid=$!

  main=$(timeout 20 xdotool search --sync --onlyvisible --name "Q9 Zygomet" | head -n 1) || true
  [[ -n "$main" ]] || { echo "the main window did not appear"; cat "$work/app.log"; exit 1; }
  xdotool windowfocus --sync "$main"
  sleep 0.5
}

# Waits (bounded) for the program to end and sets exit_code to its exit
# code, or to "still running". In this shell, not a subshell: only the shell
# that started the program can wait for it.
wait_for_program_exit() {
  exit_code="still running"
  for _ in $(seq 1 50); do
    if ! kill -0 "$app_pid" 2>/dev/null; then wait "$app_pid" && exit_code=0 || exit_code=$?; break; fi
    sleep 0.1
  done
  app_pid=""
}

key() { xdotool key --clearmodifiers "$@"; sleep 0.3; }
type_text() { xdotool type --delay 30 "$1"; sleep 0.3; }
