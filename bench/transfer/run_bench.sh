#!/usr/bin/env bash
# Loopback benchmark of qorvel-transfer against curl and aria2c.
#   run_bench.sh [QORVEL_TRANSFER]   (env: RUNS=5, SIZE_MIB=auto, BENCH_DIR=/tmp)
# Starts its own nginx and pure-ftpd on free ports and stops them by PID.
set -euo pipefail

TOOL=${1:-$(dirname "$0")/../../build/tools/qorvel-transfer}
RUNS=${RUNS:-5}
[ -x "$TOOL" ] || { echo "qorvel-transfer not found: $TOOL" >&2; exit 1; }
for b in /usr/sbin/nginx /usr/sbin/pure-ftpd curl aria2c python3 awk; do
  command -v "$b" >/dev/null || { echo "missing $b (run scripts/bootstrap.sh)" >&2; exit 1; }
done

WORK=$(mktemp -d "${BENCH_DIR:-/tmp}/qorvel-bench-XXXXXX")
FTP_HOME=$(getent passwd ftp | cut -d: -f6)
FTP_HOME=${FTP_HOME:-/srv/ftp}
NGINX_PID=""; FTPD_PID=""
cleanup() {
  [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null || true
  [ -n "$FTPD_PID" ] && kill "$FTPD_PID" 2>/dev/null || true
  rm -rf "$WORK"
  rm -f "$FTP_HOME"/qorvel-bench-*.bin
}
trap cleanup EXIT

# 1 GiB, or 256 MiB when the disk cannot hold source, copy and upload.
if [ -z "${SIZE_MIB:-}" ]; then
  free_mib=$(( $(df -Pk "$WORK" | awk 'NR==2{print $4}') / 1024 ))
  if [ "$free_mib" -ge 4096 ]; then SIZE_MIB=1024; else SIZE_MIB=256; fi
fi
SIZE=$((SIZE_MIB * 1024 * 1024))
free_port() { python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }

mkdir -p "$WORK/www" "$WORK/nginx/logs" "$WORK/out"
echo "preparing ${SIZE_MIB} MiB test file..."
head -c "$SIZE" /dev/urandom > "$WORK/www/data.bin"

HTTP_PORT=$(free_port)
cat > "$WORK/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/logs/error.log;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  default_type application/octet-stream;
  client_body_temp_path $WORK/nginx/body;
  proxy_temp_path $WORK/nginx/proxy;
  fastcgi_temp_path $WORK/nginx/fastcgi;
  uwsgi_temp_path $WORK/nginx/uwsgi;
  scgi_temp_path $WORK/nginx/scgi;
  server { listen 127.0.0.1:$HTTP_PORT; root $WORK/www; }
}
CONF
/usr/sbin/nginx -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" &
NGINX_PID=$!

FTP_PORT=$(free_port)
chown ftp "$FTP_HOME" 2>/dev/null || true
/usr/sbin/pure-ftpd -S "127.0.0.1,$FTP_PORT" -e -A -H -p 41000:41019 > "$WORK/ftpd.log" 2>&1 &
FTPD_PID=$!
sleep 1

URL="http://127.0.0.1:$HTTP_PORT/data.bin"
FTP="ftp://127.0.0.1:$FTP_PORT"
cat "$WORK/www/data.bin" > /dev/null  # warm the page cache

now() { date +%s.%N; }
# Runs a command, prints its wall time; the output file is removed afterwards.
timed() {
  local t0 t1
  t0=$(now)
  "$@" > "$WORK/last.log" 2>&1 || { echo "FAILED: $*" >&2; cat "$WORK/last.log" >&2; exit 1; }
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.6f", b-a}' 
}
check_and_clean() {  # file
  [ "$(stat -c %s "$1")" = "$SIZE" ] || { echo "wrong size: $1" >&2; exit 1; }
  rm -f "$1"; sync
  # The file system discards the deleted blocks in the background; let that
  # finish so it does not land on whichever command runs next.
  sleep "${SETTLE_S:-3}"
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

declare -A T
for kind in curl q1 aria q4 curlput qput; do T[$kind]=""; done
OUT="$WORK/out/dl.bin"
for run in $(seq 1 "$RUNS"); do
  echo "run $run/$RUNS"
  T[curl]+="$(timed curl -sS -o "$OUT" "$URL") ";            check_and_clean "$OUT"
  T[q1]+="$(timed "$TOOL" get "$URL" "$OUT" -c 1) ";          check_and_clean "$OUT"
  T[aria]+="$(timed aria2c -q -x4 -s4 -d "$WORK/out" -o dl.bin "$URL") "; check_and_clean "$OUT"
  T[q4]+="$(timed "$TOOL" get "$URL" "$OUT" -c 4) ";          check_and_clean "$OUT"
  T[curlput]+="$(timed curl -sS -T "$WORK/www/data.bin" "$FTP/qorvel-bench-curl.bin") "
  check_and_clean "$FTP_HOME/qorvel-bench-curl.bin"
  T[qput]+="$(timed "$TOOL" put "$WORK/www/data.bin" "$FTP/qorvel-bench-q.bin") "
  check_and_clean "$FTP_HOME/qorvel-bench-q.bin"
done
# Byte-exact spot check of one download.
"$TOOL" get "$URL" "$OUT" -c 4 > /dev/null
cmp "$OUT" "$WORK/www/data.bin" || { echo "download differs from the source" >&2; exit 1; }
rm -f "$OUT"; sync

# Anonymous memory (the mapped file excluded) during one download, sampled.
"$TOOL" get "$URL" "$OUT" -c 1 > /dev/null &
QPID=$!
peak=0
while kill -0 "$QPID" 2>/dev/null; do
  kb=$(awk '/^RssAnon:/{print $2}' "/proc/$QPID/status" 2>/dev/null || echo 0)
  [ -n "$kb" ] && [ "$kb" -gt "$peak" ] && peak=$kb
  sleep 0.01
done
wait "$QPID"
rm -f "$OUT"

mb() { awk -v s="$SIZE" -v t="$1" 'BEGIN{printf "%.1f", s/t/1e6}'; }
report() {  # label ours peer target
  local ours peer ratio
  ours=$(echo "${T[$2]}" | tr ' ' '\n' | grep . | median)
  peer=$(echo "${T[$3]}" | tr ' ' '\n' | grep . | median)
  ratio=$(awk -v p="$peer" -v o="$ours" 'BEGIN{printf "%.3f", p/o}')
  printf "%-34s qorvel %7.3f s (%6.0f MB/s)  %-8s %7.3f s (%6.0f MB/s)  ratio %.2fx (target %sx)\n" \
    "$1" "$ours" "$(mb "$ours")" "$5" "$peer" "$(mb "$peer")" "$ratio" "$4"
}
echo
echo "size ${SIZE_MIB} MiB, median of $RUNS runs, loopback"
report "download, 1 connection vs curl" q1 curl 1.2 curl
report "download, 4 connections vs aria2c" q4 aria 1.5 aria2c
report "FTP upload vs curl -T" qput curlput 1.0 "curl -T"
printf "peak RssAnon during a 1-connection download: %d KiB (%.1f MiB; target < 32 MiB)\n" "$peak" "$(awk -v k="$peak" 'BEGIN{print k/1024}')"
