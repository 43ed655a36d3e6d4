# What the Windows checks that need a desktop share (sourced by install-check and bench/windows-panel): a
# private Xvfb, a fresh prefix set to Windows 10 with Wine's own fonts where its programs see them, the
# simulator as COM1, and the panel's window found and its Auto pressed. The caller has sourced
# scripts/unprivileged.sh and sets `work` (a folder the test user owns), `scale` (the panel's, 1 unless
# told) and `fail`, and after wine_desk_display defines `as_wine` with DISPLAY="$display" in it. Processes
# started here leave their ids in $work/NAME.pid for the caller's end.

# Starts a program as the test user in the background; NAME.pid holds its own process id.
start_as_tester() {
  local name=$1
  shift
  uav_as_tester sh -c 'echo $$ >"$0"; exec "$@"' "$work/$name.pid" "$@" &
  for _ in $(seq 50); do [ -s "$work/$name.pid" ] && return 0; sleep 0.1; done
  fail "$name did not start"
}

# Layout pixels at the panel's scale.
px() { awk -v v="$1" -v s="${scale:-1}" 'BEGIN { printf "%d", v * s + 0.5 }'; }

# The display first: a wineserver started before it gives its programs no windows. Sets display, screen_w
# and screen_h.
wine_desk_display() {
  screen_w=$(px 1280) screen_h=$(px 1024)
  start_as_tester xvfb Xvfb -displayfd 3 -screen 0 "${screen_w}x${screen_h}x24" -dpi 96 -nolisten tcp \
    3>"$work/display" >"$work/xvfb.log" 2>&1
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  display=:$(head -n 1 "$work/display")
}

xdo() { uav_as_tester env DISPLAY="$display" xdotool "$@"; }

# A new prefix reports Windows 7, which Qt 6 refuses. Wine's own fonts ("MS Sans Serif", Tahoma: its menus)
# in its data folder are not seen by its programs; in the prefix's Fonts folder they are, as on Windows.
wine_desk_prefix() {
  as_wine wineboot -i >/dev/null 2>&1 || fail "wineboot could not make a prefix"
  as_wine wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
  as_wine sh -c 'cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"'
  as_wine wineserver -w
}

# The simulator (the Linux program SIM) on a pty, as COM1: Wine's mount manager reads the mapping when the
# next wineserver starts.
wine_desk_simulator() {
  local sim=$1
  mkdir -p "$work/ports"
  uav_tester_owns "$work/ports"
  start_as_tester sim "$sim" --com 1 --ports "$work/ports" >"$work/sim.log" 2>&1 </dev/null
  for _ in $(seq 100); do [ -L "$work/ports/com1" ] && break; sleep 0.1; done
  [ -L "$work/ports/com1" ] || fail "the simulator did not start: $(cat "$work/sim.log")"
  as_wine wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$(readlink -f "$work/ports/com1")" /f >/dev/null 2>&1
  as_wine wineserver -w
}

# The panel's window once it is shown and its traffic log (LOG, a Linux path) says it connected to COM1;
# OUT is its output, for the reason. Sets win.
wine_desk_connected_panel() {
  local log=$1 out=$2
  win=
  for _ in $(seq 300); do
    win=$(xdo search --onlyvisible --name '^Vantorix UAV Control$' 2>/dev/null | head -n 1) && [ -n "$win" ] && break
    sleep 0.1
  done
  [ -n "$win" ] || fail "the panel's window did not appear: $(cat "$out")"
  for _ in $(seq 100); do grep -q ' connect ' "$log" 2>/dev/null && break; sleep 0.1; done
  grep -q ' connect COM1' "$log" || fail "the panel did not connect: $(cat "$log" "$out")"
}

# Presses Auto in the panel's window `win`. Sets X, Y, WIDTH and HEIGHT to the window's.
wine_desk_press_auto() {
  # Wine draws the frame and caption itself: the client area is what is left of the X window below them.
  eval "$(xdo getwindowgeometry --shell "$win")"
  local border=$(((WIDTH - $(px 793)) / 2))
  local top=$((HEIGHT - $(px 597) - border))
  # Auto, in layout pixels (menu bar included).
  xdo mousemove --window "$win" $((border + $(px 452))) $((top + $(px 402))) click 1
}
