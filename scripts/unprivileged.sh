# Sourced by scripts/test: the tests run as an ordinary user even when the script runs as root (as CI does),
# because root passes checks an operator's programs fail (a pty slave held with TIOCEXCL, for one). As root
# it makes the user ($UAV_TEST_USER, default uavtest) when missing; as anyone else it changes nothing.
#   uav_tester_owns DIR...      hands the build trees the tests write in to that user
#   uav_as_tester COMMAND...    runs COMMAND as that user, with its own HOME and XDG_RUNTIME_DIR
uav_tester=${UAV_TEST_USER:-uavtest}

uav_tester_setup() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "== The tests run as $(id -un) (uid $(id -u))"
    return 0
  fi
  if ! id -u "$uav_tester" >/dev/null 2>&1; then
    echo "== Adding the user $uav_tester to run the tests as"
    useradd --create-home --shell /bin/bash --user-group "$uav_tester"
  fi
  uav_tester_home=$(getent passwd "$uav_tester" | cut -d: -f6)
  # Where Qt looks by itself; it must be the user's own and private.
  uav_tester_runtime=/tmp/runtime-$uav_tester
  if [ "$(stat -c %U:%a "$uav_tester_runtime" 2>/dev/null)" != "$uav_tester:700" ]; then
    rm -rf "$uav_tester_runtime"
    install -d -m 700 -o "$uav_tester" -g "$uav_tester" "$uav_tester_runtime"
  fi
  # The user must reach the sources; refuse clearly instead of failing test by test.
  if ! uav_as_tester test -r "$root/CMakeLists.txt"; then
    local d="" part parts
    IFS=/ read -ra parts <<<"${root#/}"
    for part in "${parts[@]}"; do
      d="$d/$part"
      uav_as_tester test -x "$d" || break
    done
    echo "scripts/test: the user $uav_tester, who runs the tests, cannot read $root (stopped at $d);" \
      "give others search permission on the folders above it (chmod o+x) or check out elsewhere" >&2
    exit 1
  fi
  echo "== Run as root: builds as root, the tests as $uav_tester (uid $(id -u "$uav_tester"))"
}

uav_tester_owns() {
  [ "$(id -u)" -eq 0 ] || return 0
  mkdir -p "$@"
  chown -R "$uav_tester:$uav_tester" "$@"
}

uav_as_tester() {
  if [ "$(id -u)" -ne 0 ]; then
    "$@"
    return
  fi
  HOME=$uav_tester_home USER=$uav_tester LOGNAME=$uav_tester XDG_RUNTIME_DIR=$uav_tester_runtime \
    setpriv --reuid="$uav_tester" --regid="$uav_tester" --init-groups -- "$@"
}
