#!/usr/bin/env bash
# The Debian packages and their split: what each holds and depends on, and,
# installed one after the other into an empty root (dpkg --root), a terminal
# tracer from quillon alone and the window once quillon-window is added.
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
program_depends=$(dpkg-deb -f "$program" Depends)
window_depends=$(dpkg-deb -f "$window" Depends)
echo "quillon Depends: $program_depends"
echo "quillon-window Depends: $window_depends"
expect "quillon depends on the C library" grep -q 'libc6 (>=' <<<"$program_depends"
expect "quillon depends on nothing of Qt" bash -c '! grep -qi qt <<<"$1"' _ "$program_depends"
expect "quillon-window depends on quillon $version" grep -qF "quillon (= $version)" <<<"$window_depends"
for lib in libqt6core6 libqt6gui6 libqt6widgets6; do
  expect "quillon-window depends on $lib" grep -q "$lib" <<<"$window_depends"
done

# --- contents ------------------------------------------------------------------
files=$(contents "$program")
expect "quillon holds the program" has "$files" /usr/bin/quillon
expect "quillon holds the manual page" has "$files" /usr/share/man/man1/quillon.1.gz
expect "quillon holds nothing else" test "$(wc -l <<<"$files")" -eq 2
files=$(contents "$window")
expect "quillon-window holds the module" has "$files" '/usr/lib/([^/]+/)?quillon/libquillon-window\.so'
expect "quillon-window holds the menu entry" has "$files" /usr/share/applications/quillon.desktop
expect "quillon-window holds the icon" has "$files" /usr/share/icons/hicolor/scalable/apps/quillon.svg
expect "quillon-window holds the help page" has "$files" /usr/share/doc/quillon/index.html
expect "quillon-window holds no program" bash -c '! grep -q "/bin/" <<<"$1"' _ "$files"

# --- installing into an empty root ---------------------------------------------
root=$(mktemp -d /tmp/quillon-package.XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
install() { dpkg --root="$root" --force-depends --force-not-root -i "$1" >"$root/dpkg.log" 2>&1 ||
  { cat "$root/dpkg.log" >&2; return 1; }; }
exe=$root/usr/bin/quillon

expect "quillon installs alone" install "$program"
expect "the installed program runs" test "$("$exe" --version)" = "Quillon $version"
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

  expect "quillon-window installs beside it" install "$window"
  chmod 0700 "$root"
  expect "with it, the window opens and traces" \
    trace env QT_QPA_PLATFORM=offscreen QUILLON_SCREENSHOT="$root/window.png"
  expect "the window was found" bash -c '! grep -q "not installed" "$1"' _ "$root/err"
  expect "the window saved its picture" test -s "$root/window.png"
fi

if ((failures > 0)); then
  echo "tests/package/check.sh: $failures check(s) failed" >&2
  exit 1
fi
echo "tests/package/check.sh: the packages are split as they should be"
