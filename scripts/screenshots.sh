#!/usr/bin/env bash
# Renders the login, main, registration, password-recovery and terms windows
# under Xvfb with a CJK font and writes docs/screenshots/<window>.png; then the
# running client's storage browser against the reference service (browser-*.png)
# and its transfer lists restored at a login from a first session's journal
# (journal-*.png).
# Usage: scripts/screenshots.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
demo="$build/src/ui/windows/qorvel-windows-demo"
out="$root/docs/screenshots"
[ -x "$demo" ] || { echo "build qorvel-windows-demo first ($demo)" >&2; exit 1; }
fc-list :lang=zh | grep -qi . || { echo "no CJK font (fonts-wqy-microhei)" >&2; exit 1; }
mkdir -p "$out"

# Xvfb picks a free display (others may be rendering at the same time).
exec 5<> <(:)
Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true' EXIT
read -r -t 10 number <&5
display=":$number"

export DISPLAY="$display" QT_QPA_PLATFORM=xcb QTWEBENGINE_DISABLE_SANDBOX=1
for window in login main registration password_recovery terms; do
  timeout 30 "$demo" "$window" --grab "$out/$window.png"
  echo "wrote $out/$window.png"
done
shots="$build/tests/e2e/storage_screenshots"
if [ -x "$shots" ]; then
  QORVEL_SERVICE_BIN="$build/service/qorvel-service" timeout 90 "$shots" "$out"
else
  echo "build storage_screenshots for the browser screenshots" >&2
fi
