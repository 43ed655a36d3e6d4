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
  echo "== Run as root: builds as root, the tests as $uav_tester (uid $(id -u "$uav_tester"))"
}

# The user must reach the sources. A checkout it cannot reach (one under /root, say) is tested from a copy
# it can, instead of opening up the folders above the checkout: the script starts again from the copy,
# with the same arguments. Call after uav_tester_setup.
uav_tester_reach() {
  [ "$(id -u)" -eq 0 ] || return 0
  uav_as_tester test -r "$root/CMakeLists.txt" && return 0
  local base=/var/tmp/uavcontrol-tests
  local copy
  copy=$base/$(printf '%s' "$root" | sha1sum | cut -c1-12)
  echo "== $uav_tester cannot read $root: testing a copy in $copy"
  install -d -m 755 "$base" "$copy"
  # The copy's own build trees stay, so a later run builds only what changed.
  find "$copy" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
  tar -C "$root" --exclude=./build -cf - . | tar -C "$copy" -xf -
  chmod -R a+rX "$copy"
  exec "$copy/scripts/test" "$@"
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
