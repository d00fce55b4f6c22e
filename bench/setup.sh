#!/bin/bash
# Debian packages the benchmark needs; installs only what is missing, so it is cheap to rerun.
set -euo pipefail
need=()
for p in nginx wrk time python3-scrapy python3-pymysql linux-perf mariadb-server \
         libcurl4-openssl-dev libpcre2-dev libmariadb-dev cmake g++; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "bench/setup.sh: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # The packaged nginx service is not wanted: the bench starts its own on loopback.
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
# A Debian install may start the system nginx on port 80; the bench never uses it.
if command -v systemctl >/dev/null && systemctl is-active --quiet nginx 2>/dev/null; then
  systemctl stop nginx || true
fi
exit 0
