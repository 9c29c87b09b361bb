#!/usr/bin/env bash
# The Debian packages and their split: what each holds and depends on, what
# lintian --pedantic says of them (no error, no warning), and, installed one
# after the other into an empty root (dpkg --root, the maintainer scripts run on
# it), the ICMP helper's capability (taken from the old file before an upgrade
# or a removal replaces it, never granted over an administrator's statoverride,
# whose mode an aborted removal keeps; setuid root only where the file system
# keeps no capabilities, unprivileged where setcap fails otherwise), a terminal tracer from quillon alone (for root, and for an
# ordinary user through the helper at its installed path), the window once
# quillon-window is added, and a purge that leaves none of their files.
#
#   tests/package/check.sh [DIR]    DIR: the packages (build/package/packages)
#
# The empty root has no package database of the system's libraries, so the
# installs force past the dependencies (the libraries are the host's); the
# dependencies themselves are checked in the control fields.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build/package/packages}
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
expect() { # $1 what, then the command that must succeed
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

program=$(ls "$dir"/quillon_*.deb 2>/dev/null || true)
window=$(ls "$dir"/quillon-window_*.deb 2>/dev/null || true)
[[ -f $program && -f $window ]] || {
  echo "FAIL: no quillon and quillon-window packages in $dir (run scripts/package.sh)" >&2
  exit 1
}
contents() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$'; }
has() { grep -qxE "$2" <<<"$1"; }

# --- control fields ------------------------------------------------------------
version=$(dpkg-deb -f "$program" Version)
upstream=${version%-*}
program_depends=$(dpkg-deb -f "$program" Depends)
window_depends=$(dpkg-deb -f "$window" Depends)
echo "quillon Depends: $program_depends"
echo "quillon-window Depends: $window_depends"
expect "quillon depends on the C library" grep -q 'libc6 (>=' <<<"$program_depends"
expect "quillon depends on setcap for its postinst" grep -qw 'libcap2-bin' <<<"$program_depends"
expect "quillon suggests quillon-window" test "$(dpkg-deb -f "$program" Suggests)" = quillon-window
expect "quillon-window recommends a desktop opener" \
  test "$(dpkg-deb -f "$window" Recommends)" = xdg-utils
for deb in "$program" "$window"; do
  expect "$(basename "$deb"): a Maintainer with an address" \
    grep -qE '<[^@> ]+@[^> ]+>$' <<<"$(dpkg-deb -f "$deb" Maintainer)"
  expect "$(basename "$deb"): a Homepage" grep -q '^https://' <<<"$(dpkg-deb -f "$deb" Homepage)"
done
expect "quillon depends on nothing of Qt" bash -c '! grep -qi qt <<<"$1"' _ "$program_depends"
expect "quillon-window depends on quillon $version" grep -qF "quillon (= $version)" <<<"$window_depends"
for lib in libqt6core6 libqt6gui6 libqt6widgets6; do
  expect "quillon-window depends on $lib" grep -q "$lib" <<<"$window_depends"
done

# --- contents ------------------------------------------------------------------
files=$(contents "$program")
expect "quillon holds the program" has "$files" /usr/bin/quillon
expect "quillon holds the ICMP helper" has "$files" '/usr/lib/([^/]+/)?quillon/quillon-icmp-helper'
expect "quillon holds the manual page" has "$files" /usr/share/man/man1/quillon.1.gz
for package in quillon quillon-window; do
  deb=$program
  [[ $package == quillon ]] || deb=$window
  docs=$(contents "$deb")
  expect "$package holds its copyright file" has "$docs" "/usr/share/doc/$package/copyright"
  expect "$package holds its changelog" has "$docs" "/usr/share/doc/$package/changelog.Debian.gz"
done
expect "quillon holds nothing else" test "$(wc -l <<<"$files")" -eq 6
expect "no file of quillon is setuid or setgid" \
  bash -c '! dpkg-deb -c "$1" | cut -c1-10 | grep -q "[sS]"' _ "$program"
files=$(contents "$window")
expect "quillon-window holds the module" has "$files" '/usr/lib/([^/]+/)?quillon/libquillon-window\.so'
expect "quillon-window holds the menu entry" has "$files" /usr/share/applications/quillon.desktop
expect "quillon-window holds the icon" has "$files" /usr/share/icons/hicolor/scalable/apps/quillon.svg
expect "quillon-window holds the help page" has "$files" /usr/share/quillon/help/index.html
expect "quillon-window holds no program" bash -c '! grep -q "/bin/" <<<"$1"' _ "$files"

# --- Debian's rules ------------------------------------------------------------
# Every tag down to the pedantic ones is shown; errors and warnings fail.
lint_status=0
lint=$(lintian --pedantic --display-info --tag-display-limit 0 --fail-on error,warning "$program" "$window" 2>&1) ||
  lint_status=$?
echo "$lint" | sed 's/^/lintian: /'
expect "lintian reports no error and no warning" \
  bash -c '(($1 == 0)) && ! grep -qE "^[EW]: " <<<"$2"' _ "$lint_status" "$lint"

# --- installing into an empty root ---------------------------------------------
root=$(mktemp -d /tmp/quillon-package.XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# The maintainer scripts run outside a chroot, on the files under DPKG_ROOT.
dpkg_in_root() { dpkg --root="$root" --force-depends --force-not-root --force-script-chrootless "$@" \
  >"$root/dpkg.log" 2>&1 || { cat "$root/dpkg.log" >&2; return 1; }; }
install() { dpkg_in_root -i "$1"; }
exe=$root/usr/bin/quillon

expect "quillon installs alone" install "$program"
expect "the installed program runs" test "$("$exe" --version)" = "Quillon $upstream"
helper=$(find "$root/usr/lib" -path '*/quillon/quillon-icmp-helper')
if (($(id -u) == 0)); then
  expect "the postinst gave the helper CAP_NET_RAW" \
    bash -c 'getcap "$1" | grep -q "cap_net_raw=ep$"' _ "$helper"
  expect "and the program nothing" test -z "$(getcap "$exe")"

  # A hard link to the helper keeps its file through an upgrade and a removal:
  # the old file loses its privilege before dpkg replaces it.
  ln "$helper" "$root/kept-helper"
  reinstalled_with() { # $1: the helper's capability after a reinstall (empty: none)
    dpkg_in_root -i "$program" && test "$(getcap "$helper" | awk '{print $2}')" = "$1"
  }
  expect "an upgrade (a reinstall) keeps the helper's capability" reinstalled_with cap_net_raw=ep
  expect "and takes it from the old file, linked elsewhere" test -z "$(getcap "$root/kept-helper")"
  # An administrator's choice for the helper stands: no capability, no setuid over it.
  helper_path=${helper#"$root"}
  dpkg-statoverride --root "$root" --add root root 0750 "$helper_path"
  expect "with a statoverride, the upgrade grants nothing" reinstalled_with ""
  expect "and the helper keeps the administrator's mode" test "$(stat -c %a "$helper")" = 750
  # A removal aborted after the prerm (dpkg's "prerm remove", then "postinst
  # abort-remove") gives the override's setuid bit back.
  dpkg-statoverride --root "$root" --remove "$helper_path"
  dpkg-statoverride --root "$root" --update --add root root 4750 "$helper_path"
  maintainer() { DPKG_ROOT=$root "$root/var/lib/dpkg/info/quillon.$1" "$2"; }
  aborted_removal() {
    maintainer prerm remove && test ! -u "$helper" && maintainer postinst abort-remove
  }
  expect "a removal aborted after the prerm goes through" aborted_removal
  expect "and keeps the statoverride's mode" test "$(stat -c %a "$helper")" = 4750
  dpkg-statoverride --root "$root" --remove "$helper_path"
  dpkg_in_root -i "$program"

  # Where setcap fails for another reason than the file system, here without
  # CAP_SETFCAP, the helper stays unprivileged and the postinst says why.
  export root
  export -f dpkg_in_root
  without_setfcap() { capsh --drop=cap_setfcap -- -c 'dpkg_in_root -i "$1"' _ "$program"; }
  expect "without CAP_SETFCAP the install goes through" without_setfcap
  expect "and leaves the helper without setuid" test ! -u "$helper"
  expect "and without a capability" test -z "$(getcap "$helper")"
  expect "and says why" grep -q "stays unprivileged, as setcap failed" "$root/dpkg.log"
  # Where the file system keeps no capabilities (ramfs, in a mount namespace
  # of its own), setuid root instead.
  on_ramfs() {
    unshare --mount bash -c 'mount -t ramfs ramfs "${1%/*}" && dpkg_in_root -i "$2" &&
      test -u "$1" && grep -q "runs setuid root instead" "$root/dpkg.log"' _ "$helper" "$program"
  }
  expect "on a file system without capabilities the helper is setuid root" on_ramfs
  dpkg_in_root -i "$program"
  rm "$root/kept-helper"
fi
expect "the installed program needs no Qt library" \
  bash -c 'readelf -d "$1" | grep -q NEEDED && ! readelf -d "$1" | grep NEEDED | grep -qi qt' _ "$exe"
if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/quillon.1.gz" 2>&1 >/dev/null)
  expect "the manual page formats without warnings" test -z "$warnings"
  [[ -z $warnings ]] || echo "$warnings" >&2
fi

# Tracing needs ICMP sockets; the loopback address is all it traces here.
trace() { # with a display (a Wayland socket path that exists): stdout, stderr in files
  env -u DISPLAY WAYLAND_DISPLAY="$root" XDG_RUNTIME_DIR="$root" HOME="$root" \
    "$@" "$exe" -w 500 -h 3 127.0.0.1 >"$root/out" 2>"$root/err"
}
if (($(id -u) != 0)); then
  echo "skipped: running the installed program needs root (ICMP sockets)"
else
  expect "without the window package, a trace in the terminal" trace env
  expect "one line says the window is missing" \
    test "$(cat "$root/err")" = "The window is not installed; tracing in the terminal."
  expect "the terminal table shows the loopback hop" grep -q '127\.0\.0\.1' "$root/out"

  # An ordinary user, with ICMP datagram sockets closed to everyone (in a
  # namespace of its own), traces through the helper.
  chmod 0755 "$root"
  # The installed program starts only the helper at its installed path: here
  # that is the root's, laid over the system's /usr/lib in a mount namespace.
  as_user() { # $1: the shell words before the trace, in namespaces of its own
    unshare --net --mount sh -c "ip link set lo up && sysctl -q -w net.ipv4.ping_group_range='1 0' &&
      $1 exec setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all \
        env -u DISPLAY -u WAYLAND_DISPLAY \"\$0\" -w 500 -h 3 127.0.0.1 >\"\$1/out\" 2>&1" "$exe" "$root"
  }
  expect "an ordinary user traces through the installed helper" \
    as_user "mount -t overlay overlay -o lowerdir='$root/usr/lib:/usr/lib' /usr/lib &&"
  expect "its table shows the loopback hop" grep -q '127\.0\.0\.1' "$root/out"
  without_helper() { ! as_user ""; }
  expect "without the helper at its installed path, no socket" without_helper
  expect "and the hint names that path alone" \
    grep -q "setcap cap_net_raw+ep ${helper#"$root"}'" "$root/out"
  chmod 0700 "$root"

  expect "quillon-window installs beside it" install "$window"
  chmod 0700 "$root"
  expect "with it, the window opens and traces" \
    trace env QT_QPA_PLATFORM=offscreen QUILLON_SCREENSHOT="$root/window.png"
  expect "the window was found" bash -c '! grep -q "not installed" "$1"' _ "$root/err"
  expect "the window saved its picture" test -s "$root/window.png"
fi

# --- removal ---------------------------------------------------------------------
ln "$helper" "$root/kept-helper"
expect "both packages purge" dpkg_in_root --purge quillon-window quillon
if (($(id -u) == 0)); then
  expect "the removed helper's file, linked elsewhere, kept no capability" \
    test -z "$(getcap "$root/kept-helper")"
fi
expect "nor a setuid bit" test ! -u "$root/kept-helper"
rm "$root/kept-helper"
# (The state files the root's traces saved beside the program are the user's.)
left=$( (contents "$program" && contents "$window") | while read -r f; do
  [[ ! -e $root$f ]] || echo "$f"
done)
expect "nothing of them is left" test -z "$left$(ls "$root/var/lib/dpkg/info" | grep "^quillon")"
[[ -z $left ]] || echo "$left" >&2

if ((failures > 0)); then
  echo "tests/package/check.sh: $failures check(s) failed" >&2
  exit 1
fi
echo "tests/package/check.sh: the packages are split as they should be"
