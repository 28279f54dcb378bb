#!/usr/bin/env bash
# Installs the desktop entry and icon for the current user, pointing at the
# program APP, so that the desktop's launcher finds "Solvenna to Windows Phone".
#   scripts/install-desktop-entry.sh APP [DATA_FOLDER]
# DATA_FOLDER defaults to $XDG_DATA_HOME (~/.local/share).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
app=$1
data=${2:-${XDG_DATA_HOME:-$HOME/.local/share}}

# APP as one argument of an Exec line: quoted, with ", `, $ and \ escaped
# inside the quotes and % doubled; then the escapes every string value of a
# desktop entry has (\\, \n, \t, \r).
exec_argument() {
  local s=$1
  s=${s//\\/\\\\}
  s=${s//\"/\\\"}
  s=${s//\`/\\\`}
  s=${s//\$/\\\$}
  s=${s//%/%%}
  s="\"$s\""
  s=${s//\\/\\\\}
  s=${s//$'\n'/\\n}
  s=${s//$'\t'/\\t}
  s=${s//$'\r'/\\r}
  printf '%s' "$s"
}

mkdir -p "$data/applications" "$data/icons/hicolor/256x256/apps"
entry=$data/applications/solvenna-to-windows-phone.desktop
exec_line="Exec=$(exec_argument "$app")"
{
  while IFS= read -r line || [ -n "$line" ]; do
    if [[ $line == Exec=* ]]; then printf '%s\n' "$exec_line"; else printf '%s\n' "$line"; fi
  done < "$here/resources/app/solvenna-to-windows-phone.desktop"
} > "$entry.tmp"
mv -f "$entry.tmp" "$entry"
cp "$here/resources/app/solvenna-to-windows-phone.png" "$data/icons/hicolor/256x256/apps/"
if command -v update-desktop-database >/dev/null; then update-desktop-database -q "$data/applications" || true; fi
