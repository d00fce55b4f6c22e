#!/bin/bash
# The bench's own nginx on loopback with a throwaway config.
#   nginx.sh start DIR DOCROOT PORT   writes DIR/nginx.conf and starts nginx (pid in DIR)
#   nginx.sh stop DIR                 stops the nginx started with DIR
#   nginx.sh requests PORT            requests served so far (stub_status counter)
set -euo pipefail
cmd=$1
case "$cmd" in
  start)
    dir=$2 root=$3 port=$4
    mkdir -p "$dir/tmp"
    cat >"$dir/nginx.conf" <<CONF
worker_processes 1;
daemon on;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 65;
  keepalive_requests 1000000;
  default_type text/html;
  charset utf-8;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $root;
    location = /nginx_status { stub_status; }
  }
}
CONF
    nginx -c "$dir/nginx.conf" -p "$dir" -e "$dir/error.log"
    for _ in $(seq 50); do
      curl -fs -o /dev/null "http://127.0.0.1:$port/about.html" && exit 0
      sleep 0.1
    done
    echo "nginx did not come up on 127.0.0.1:$port" >&2
    cat "$dir/error.log" >&2 || true
    exit 1
    ;;
  stop)
    dir=$2
    [ -f "$dir/nginx.pid" ] || exit 0
    pid=$(cat "$dir/nginx.pid")
    kill -QUIT "$pid" 2>/dev/null || exit 0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || exit 0; sleep 0.1; done
    kill -TERM "$pid" 2>/dev/null || true
    ;;
  requests)
    curl -fs "http://127.0.0.1:$2/nginx_status" | awk 'NR==3 {print $3}'
    ;;
  *) echo "usage: nginx.sh start DIR DOCROOT PORT | stop DIR | requests PORT" >&2; exit 2 ;;
esac
