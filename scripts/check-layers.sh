#!/usr/bin/env bash
# Fails when a folder of src/ includes one it may not: the folders form a
# one-way stack, so a reader or a rule never reaches up into the window
# roads, and the command-line client never pulls in the window engine.
# Usage: scripts/check-layers.sh [source-root]
set -uo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"

declare -A allowed=(
  [net]=""
  [platform]="net"
  [api]="net platform"
  [transfer/engine]="net"
  [account]="net platform api"
  [storage]="net platform api"
  [transfer]="net platform api transfer/engine"
  [ui]="net platform"
  [ui/qt]="net platform ui ui/windows"
  [ui/windows]="net platform ui ui/qt"
  [roads]="net platform api account storage transfer transfer/engine ui ui/windows"
  [cli]="net platform api account storage transfer transfer/engine"
  [app]="net platform api account storage transfer transfer/engine ui ui/qt ui/windows roads"
)

# The layer a path under src/ belongs to: a two-part name where one is listed.
layer_of() {
  local p="$1" two="${1%%/*}"
  local rest="${p#*/}"
  [ "$rest" != "$p" ] && [ -n "${allowed[$two/${rest%%/*}]+x}" ] && { echo "$two/${rest%%/*}"; return; }
  echo "$two"
}

bad=0
while IFS= read -r file; do
  rel="${file#"$root"/src/}"
  own="$(layer_of "$rel")"
  if [ -z "${allowed[$own]+x}" ]; then
    echo "$rel: folder $own has no place in the stack (add it to scripts/check-layers.sh)"
    bad=1
    continue
  fi
  while IFS= read -r inc; do
    target="$(layer_of "$inc")"
    [ "$target" = "$own" ] && continue
    [ -z "${allowed[$target]+x}" ] && continue  # a file beside it, not one of our folders
    case " ${allowed[$own]} " in
      *" $target "*) ;;
      *) echo "$rel includes \"$inc\": $own may not use $target"; bad=1 ;;
    esac
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\/[^"]*\)".*/\1/p' "$file")
done < <(find "$root/src" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
[ "$bad" = 0 ] && echo "layers: every include goes down the stack"
exit "$bad"
