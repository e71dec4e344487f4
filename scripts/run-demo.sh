#!/usr/bin/env bash
# Starts the reference service with demo data and opens the client against it.
set -euo pipefail
BUILD=${1:-build}
shift || true
cd "$(dirname "$0")/.."
if [ ! -x "$BUILD/src/app/qorvel" ]; then
  echo "The desktop program is not built yet (it arrives with the windows); the service alone:"
  exec "$BUILD/service/qorvel-service" --seed-demo
fi
DATA=${QORVEL_DEMO_DATA:-$HOME/.local/share/qorvel-demo}
mkdir -p "$DATA"
"$BUILD/service/qorvel-service" --data "$DATA" --seed-demo &
SERVICE=$!
trap 'kill $SERVICE 2>/dev/null; wait $SERVICE 2>/dev/null' EXIT
for _ in $(seq 1 50); do
  (exec 3<>/dev/tcp/127.0.0.1/18080) 2>/dev/null && break
  sleep 0.1
done
"$BUILD/src/app/qorvel" "$@"
