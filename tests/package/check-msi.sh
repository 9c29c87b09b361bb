#!/usr/bin/env bash
# The Windows installer, read back from its tables (msitools): every
# shortcut's icon is in its target's format under a name with the target's
# extension (Windows Installer's validation ICE50), "Apps" offers no Modify,
# and quillon.exe carries its file version.
#
#   tests/package/check-msi.sh MSI FILE_VERSION
set -euo pipefail
msi=$(realpath "$1") version=$2
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The rows of a table, without its three header lines (in the scratch folder,
# where the export leaves a table's binary streams).
rows() { (cd "$work" && msiinfo export "$msi" "$1") | tail -n +4 | tr -d '\r'; }
extension() { [[ $1 == *.* ]] && echo ".${1##*.}" | tr '[:upper:]' '[:lower:]'; }

shortcuts=0
# (Fields split by awk: read would merge the empty ones.)
while IFS='|' read -r name component icon; do
  shortcuts=$((shortcuts + 1))
  # An advertised shortcut's target is a feature: the file is its component's key path.
  key=$(rows Component | awk -F'\t' -v c="$component" '$1 == c { print $6 }')
  target=$(rows File | awk -F'\t' -v f="$key" '$1 == f { print $3 }')
  [[ -n $icon ]] || { fail "shortcut $name has no icon"; continue; }
  [[ $(extension "$icon") == "$(extension "$target")" ]] ||
    fail "shortcut $name: icon $icon for target $target"
  rows Icon | cut -f1 | grep -qxF "$icon" || fail "shortcut $name: no icon $icon in the Icon table"
  msiinfo extract "$msi" "Icon.$icon" >"$work/icon"
  if [[ $(extension "$target") == .exe ]]; then
    [[ $(head -c 2 "$work/icon" | tr -d '\0') == MZ ]] || fail "icon $icon is not a program"
  fi
done < <(rows Shortcut | awk -F'\t' '{ print $3 "|" $4 "|" $9 }')
((shortcuts > 0)) || fail "no shortcut"

rows Property | grep -qxP 'ARPNOMODIFY\t1' || fail "ARPNOMODIFY is not set"
program_version=$(rows File | awk -F'\t' '$3 == "quillon.exe" { print $5 }')
[[ $program_version == "$version" ]] ||
  fail "quillon.exe has version '$program_version' in the package, not $version"

if ((failures > 0)); then exit 1; fi
echo "ok: $msi: $shortcuts shortcut(s) with their target's icon, ARPNOMODIFY, quillon.exe $version"
