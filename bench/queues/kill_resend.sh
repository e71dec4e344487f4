#!/usr/bin/env bash
# Bytes a client sends again after being killed: the crash test's kill case
# with many kills (default 100), printed per kill and in all as a ratio against
# one checkpoint's worth (QORVEL_CRASH_CHECKPOINT_BYTES, default 1 MiB).
#   kill_resend.sh [KILLS]   (env: BUILD=build, QORVEL_CRASH_SEED to repeat a run)
set -euo pipefail

KILLS=${1:-100}
BUILD=${BUILD:-$(dirname "$0")/../../build}
TESTS=$BUILD/tests/e2e/crash_tests
SERVICE=$BUILD/service/qorvel-service
for b in "$TESTS" "$SERVICE"; do
  [ -x "$b" ] || { echo "not built: $b (cmake --build $BUILD --target crash_tests)" >&2; exit 1; }
done
OUT=$(mktemp "${BENCH_DIR:-/tmp}/qorvel-kills-XXXXXX")
trap 'rm -f "$OUT"' EXIT

status=0
QORVEL_CRASH_KILLS=$KILLS QORVEL_SERVICE_BIN=$SERVICE "$TESTS" \
  --gtest_filter='CrashTest.AClientKilledAtRandomMoments*' >"$OUT" 2>&1 || status=$?
grep -E '^\[ (kills|kill +[0-9]+|bytes) +\]' "$OUT" || true
if grep -q '\[  SKIPPED \]' "$OUT"; then
  echo "skipped: $(grep -A1 'Skipped' "$OUT" | tail -1)"
elif [ "$status" -ne 0 ]; then
  cat "$OUT"
fi
exit "$status"
