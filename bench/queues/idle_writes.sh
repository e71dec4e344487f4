#!/usr/bin/env bash
# What a logged-in client that has nothing to do writes to disk: the
# write_bytes and wchar of /proc/PID/io of client_driver, over SECONDS
# (default 600) after its queues went idle. The target is 0; the peer is a
# process that does nothing (0 by definition), so the figure is the ratio.
#   idle_writes.sh [SECONDS]   (env: BUILD=build, BENCH_DIR=/tmp)
# Starts its own reference service on loopback and stops it and the driver by PID.
set -euo pipefail

SECONDS_IDLE=${1:-600}
BUILD=${BUILD:-$(dirname "$0")/../../build}
SERVICE=$BUILD/service/qorvel-service
DRIVER=$BUILD/tests/e2e/client_driver
for b in "$SERVICE" "$DRIVER"; do
  [ -x "$b" ] || { echo "not built: $b (cmake --build $BUILD --target qorvel-service client_driver)" >&2; exit 1; }
done

WORK=$(mktemp -d "${BENCH_DIR:-/tmp}/qorvel-idle-XXXXXX")
SERVICE_PID=""; DRIVER_PID=""
cleanup() {
  [ -n "$DRIVER_PID" ] && kill "$DRIVER_PID" 2>/dev/null || true
  [ -n "$SERVICE_PID" ] && kill "$SERVICE_PID" 2>/dev/null || true
  [ -n "$DRIVER_PID" ] && wait "$DRIVER_PID" 2>/dev/null || true
  [ -n "$SERVICE_PID" ] && wait "$SERVICE_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

H=127.0.0.1
"$SERVICE" --data "$WORK/data" --seed-demo --no-throttle --web $H:0 --direct $H:0 \
  --files2 $H:0 --files3 $H:0 --ftp $H:0 --ports-file "$WORK/ports" >"$WORK/service.log" 2>&1 &
SERVICE_PID=$!
for _ in $(seq 150); do [ -s "$WORK/ports" ] && grep -q '^ftp=' "$WORK/ports" && break; sleep 0.1; done
grep -q '^ftp=' "$WORK/ports" || { echo "the service did not start:" >&2; cat "$WORK/service.log" >&2; exit 1; }
port() { sed -n "s/^$1=//p" "$WORK/ports"; }

mkdir -p "$WORK/home"
"$DRIVER" --home "$WORK/home" --web $H:"$(port web)" --direct $H:"$(port direct)" \
  --files2 $H:"$(port files2)" --files3 $H:"$(port files3)" --ftp-host $H \
  --account demo --password demo123 --list --stay-idle $((SECONDS_IDLE + 120)) \
  >"$WORK/driver.out" 2>&1 &
DRIVER_PID=$!
for _ in $(seq 600); do grep -qsx idle "$WORK/driver.out" && break; sleep 0.1; done
grep -qx idle "$WORK/driver.out" || { echo "the client never went idle:" >&2; cat "$WORK/driver.out" >&2; exit 1; }

io() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$DRIVER_PID/io"; }
touch "$WORK/mark"
w0=$(io write_bytes); c0=$(io wchar)
echo "client_driver $DRIVER_PID idle, logged in as demo; measuring for ${SECONDS_IDLE} s"
sleep "$SECONDS_IDLE"
kill -0 "$DRIVER_PID" 2>/dev/null || { echo "the client ended early:" >&2; cat "$WORK/driver.out" >&2; exit 1; }
w1=$(io write_bytes); c1=$(io wchar)
echo "write_bytes: $((w1 - w0)) B over ${SECONDS_IDLE} s (target 0)"
echo "wchar:       $((c1 - c0)) B over ${SECONDS_IDLE} s (target 0; counts pipes and sockets too)"
changed=$(find "$WORK/home" -type f -newer "$WORK/mark" | sed "s|$WORK/home/||")
echo "files changed under the client's home: ${changed:-none}"
