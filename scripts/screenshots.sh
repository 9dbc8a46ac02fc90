#!/usr/bin/env bash
# Pictures of the desktop program as a user meets it, at 100 % and 150 %: a throw-away X
# desktop (Xvfb, the openbox window manager and the trayer notification area), then
#   1. the screen tour (tests/ui/ScreenTourMain.cpp): every window, menu, dialog, message
#      box and wizard step of the eight task types, each saved with its frame and title, and
#      the task list with a running task's progress and a failed task;
#   2. the real program in a throw-away application folder: splash, autorun question, first
#      start, minimising into the tray (no window may stay on screen, also when the tray
#      restarts), a second start on the same folder (gives way and shows the first) and one
#      on another folder (runs beside it), and the quit question.
# Run by hand after a build, not in CI; then look at the pictures.
#
#   scripts/screenshots.sh [BUILD-DIR] [OUTPUT-DIR]
#
# Needs xvfb, openbox, trayer, xdotool, imagemagick and x11-utils. BREVANTO_SHOT_DISPLAY
# picks the display number (default :43), BREVANTO_SHOT_SCREEN the screen (default
# 1366x768, a common laptop: at 150 % its free area is the smallest the program meets).
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$repo/build}"
out="${2:-/tmp/brevanto-screenshots}"
display="${BREVANTO_SHOT_DISPLAY:-:43}"
screen="${BREVANTO_SHOT_SCREEN:-1366x768}"
tour="$build/tests/ui/brevanto_screen_tour"
program="$build/app/brevanto"

say() { echo "[screenshots] $*"; }

for tool in Xvfb openbox trayer xdotool import xdpyinfo; do
  command -v "$tool" >/dev/null || { say "missing $tool"; exit 1; }
done
for binary in "$tour" "$program"; do
  [[ -x "$binary" ]] || { say "build $binary first"; exit 1; }
done

pids=()
scratch="$(mktemp -d)"
stop_desktop() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
cleanup() {
  stop_desktop
  rm -rf "$scratch"
}
trap cleanup EXIT

start_desktop() {
  Xvfb "$display" -screen 0 "${screen}x24" -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY="$display"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  openbox >/dev/null 2>&1 &
  pids+=($!)
  start_tray
  sleep 1.5
}

tray_pid=
start_tray() {
  trayer --edge top --align right --widthtype request --height 28 --SetDockType true --SetPartialStrut true \
    --transparent false --tint 0x335577 >/dev/null 2>&1 &
  tray_pid=$!
  pids+=("$tray_pid")
}

shot() { import -window root "$1"; }

# The id of the visible window titled exactly $1, waiting up to 15 s; empty when none.
wait_window() {
  local id
  for _ in $(seq 75); do
    id="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n 1 || true)"
    [[ -n "$id" ]] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 0
}

# Presses key $2 in window $1: activated first, since programs may ignore keys sent to a
# window in the background.
press() {
  xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus "$1" >/dev/null 2>&1 || true
  sleep 0.3
  xdotool key "$2" >/dev/null 2>&1 || true
}

visible_window() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true
}

# The real program, a copy in a fresh folder: beside a writable executable is where a
# portable copy keeps its files.
walk_program() {
  local dir="$1" scale="$2"
  local folder="$scratch/app-$scale" other="$scratch/other-$scale"
  mkdir -p "$dir" "$folder" "$other"
  cp "$program" "$folder/brevanto"
  cp "$program" "$other/brevanto"
  # The marker makes each copy keep its files beside itself; the user's own folder is
  # never touched, even by a copy that missed it.
  touch "$folder/portable" "$other/portable"
  export XDG_DATA_HOME="$scratch/data-$scale"
  unset QT_QPA_PLATFORM
  export QT_SCALE_FACTOR="$scale"

  "$folder/brevanto" >"$dir/first.out" 2>&1 &
  local first=$!
  sleep 0.6
  shot "$dir/01-splash.png"
  local box
  box="$(wait_window "Brevanto Standard Edition")"
  shot "$dir/02-autorun-question.png"
  # Escape answers neither Yes nor No: the question comes again at the next start.
  [[ -n "$box" ]] && press "$box" Escape
  local chooser
  chooser="$(wait_window "Create a new task")"
  sleep 0.5
  shot "$dir/03-first-start-new-task.png"
  [[ -n "$chooser" ]] && press "$chooser" Escape
  sleep 0.8
  local main
  main="$(visible_window "Brevanto Standard Edition")"
  shot "$dir/04-main-window.png"

  # Minimise: the window goes into the tray and nothing of it may stay on the screen.
  if [[ -n "$main" ]]; then
    xdotool windowminimize "$main" || true
    sleep 1.5
    shot "$dir/05-minimised-to-tray.png"
    if [[ -n "$(visible_window "Brevanto Standard Edition")" ]]; then
      say "scale $scale: the main window is still mapped after minimising (ghost window)"
    else
      say "scale $scale: minimised into the tray, no window left on screen"
    fi
    # The tray goes away and comes back while the window is hidden: the icon returns and
    # the window stays hidden.
    kill "$tray_pid" 2>/dev/null || true
    wait "$tray_pid" 2>/dev/null || true
    sleep 1.5
    start_tray
    sleep 3
    shot "$dir/05b-tray-restarted-while-hidden.png"
    if [[ -n "$(visible_window "Brevanto Standard Edition")" ]]; then
      say "scale $scale: the main window came back on screen when the tray restarted"
    fi
  fi

  # A second start on the same folder gives way and shows the first copy's window.
  "$folder/brevanto" >"$dir/second-same-folder.out" 2>&1 || true
  sleep 1
  shot "$dir/06-second-start-shows-first.png"
  say "scale $scale: second start on the same folder said: $(cat "$dir/second-same-folder.out")"

  # A copy on another folder runs beside the first (its own first start).
  "$other/brevanto" >"$dir/other-folder.out" 2>&1 &
  local second=$!
  sleep 2
  shot "$dir/07-copy-on-another-folder.png"
  if kill -0 "$second" 2>/dev/null; then
    say "scale $scale: the copy on another folder runs beside the first"
    kill "$second" 2>/dev/null || true
  else
    say "scale $scale: the copy on another folder ended: $(cat "$dir/other-folder.out")"
  fi
  wait "$second" 2>/dev/null || true

  # Quit through the window's close button: the question, then Yes (the default).
  main="$(visible_window "Brevanto Standard Edition")"
  if [[ -n "$main" ]]; then
    press "$main" alt+F4
    sleep 0.8
    shot "$dir/08-quit-question.png"
    local question
    question="$(visible_window "Brevanto")"
    [[ -n "$question" ]] && press "$question" Return
  fi
  for _ in $(seq 50); do kill -0 "$first" 2>/dev/null || break; sleep 0.2; done
  kill "$first" 2>/dev/null || true
  wait "$first" 2>/dev/null || true
  unset QT_SCALE_FACTOR
}

rm -rf "$out"
for scale in 1 1.5; do
  dir="$out/scale-$scale"
  mkdir -p "$dir"
  say "scale $scale: $dir"
  start_desktop
  (unset QT_QPA_PLATFORM; QT_SCALE_FACTOR="$scale" "$tour" "$dir/tour" >"$dir.tour.log" 2>&1) ||
    say "scale $scale: the tour failed, see $dir.tour.log"
  say "scale $scale: $(tail -n 1 "$dir.tour.log")"
  walk_program "$dir/program" "$scale"
  stop_desktop
done
say "pictures in $out"
