#!/usr/bin/env bash
# The demo MariaDB of run.sh: makes sure one answers with the login root/brevanto and the
# demo database 'shop', and prints where. A server already on the usual port is used only
# when that login works; a server there that refuses it (Debian's own mariadb-server, whose
# root logs in by socket only) is left alone and the sandbox starts on a free port beside it.
# A sandbox started earlier keeps its port, so tasks saved against it still reach it.
#
#   scripts/demo-server.sh SANDBOX-DIR
#
# BREVANTO_DEMO_PORT is the usual port (3306). The last line printed is
#   login: host 127.0.0.1, port PORT, user root, password brevanto
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sandbox_dir="$1"
usual_port="${BREVANTO_DEMO_PORT:-3306}"
readonly password=brevanto
servers="$repo/tests/mariadb/testservers.sh"

say() { echo "[demo-server] $*"; }
answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
logs_in() {
  mariadb --no-defaults --connect-timeout=2 --protocol=TCP -h127.0.0.1 -P"$1" -uroot \
    -p"$password" -e "SELECT 1" >/dev/null 2>&1
}

port="$usual_port"
if [[ -f "$sandbox_dir/demo/my.cnf" ]]; then
  port="$(sed -n 's/^port=//p' "$sandbox_dir/demo/my.cnf")"
fi
started_here=1
if BREVANTO_TEST_PASSWORD="$password" "$servers" status "$sandbox_dir" "demo:$port" >/dev/null 2>&1; then
  say "the sandbox already runs on 127.0.0.1:$port"
elif [[ "$port" == "$usual_port" ]] && answers "$port" && logs_in "$port"; then
  say "a server already answers on 127.0.0.1:$port and takes root/$password; using it (no sandbox started)"
  started_here=0
else
  if [[ "$port" == "$usual_port" ]] && answers "$port"; then
    for ((port = usual_port + 1; port < usual_port + 100; ++port)); do
      answers "$port" || break
    done
    say "a server on 127.0.0.1:$usual_port refuses root/$password (socket-only root?); leaving it alone"
  fi
  BREVANTO_TEST_PASSWORD="$password" "$servers" start "$sandbox_dir" "demo:$port"
  say "sandbox data in $sandbox_dir/demo/; stop it with: tests/mariadb/testservers.sh stop $sandbox_dir demo:$port"
fi
client=(mariadb --no-defaults --protocol=TCP -h127.0.0.1 -P"$port" -uroot -p"$password")
if [[ $started_here -eq 1 && -z "$("${client[@]}" -N -e "SHOW DATABASES LIKE 'shop'")" ]]; then
  "${client[@]}" <"$repo/scripts/demo-shop.sql"
  say "loaded the demo database 'shop'"
fi
echo "login: host 127.0.0.1, port $port, user root, password $password"
