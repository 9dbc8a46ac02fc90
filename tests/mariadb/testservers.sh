#!/usr/bin/env bash
# Creates, starts and stops throw-away MariaDB servers for the tests (and the run.sh sandbox).
#
#   testservers.sh start|stop|status <basedir> [server ...]
#
# A server is "a" (127.0.0.1:33901), "b" (33902), "tls" (33903, offers TLS with a
# self-signed certificate), "binlog" (33904, writes a binary log) or
# "name:port[:tls|binlog]"; the default is "a b tls". Each one lives
# in <basedir>/<name>/ (data/, my.cnf, mariadbd.pid, mariadbd.sock, error.log, files/) and
# is started by hand with Debian's mariadbd, never as a system service. The user is root,
# the password "brevanto" (override: BREVANTO_TEST_PASSWORD). BREVANTO_TEST_PORT_BASE
# (default 33900) moves the ports of a, b, tls and binlog, so two build trees can test at once.
#
# start is idempotent: a server already running from <basedir> is kept. A port served by a
# MariaDB from elsewhere is reused (and never stopped by us); anything else on the port is
# an error. stop asks each server to shut down, then kills what is left by pid.
set -uo pipefail

readonly password="${BREVANTO_TEST_PASSWORD:-brevanto}"
readonly port_base="${BREVANTO_TEST_PORT_BASE:-33900}"
readonly start_timeout="${BREVANTO_TEST_START_TIMEOUT:-90}"
readonly stop_timeout=30

usage() {
  echo "usage: $0 start|stop|status <basedir> [a|b|tls|binlog|name:port[:tls|binlog] ...]" >&2
  exit 2
}

[[ $# -ge 2 ]] || usage
action="$1"
basedir="$2"
shift 2
[[ $# -gt 0 ]] || set -- a b tls
mkdir -p "$basedir" || exit 1
basedir="$(cd "$basedir" && pwd)"

for tool in mariadbd mariadb-install-db mariadb mariadb-admin openssl; do
  if ! command -v "$tool" >/dev/null 2>&1 && [[ ! -x "/usr/sbin/$tool" ]]; then
    echo "testservers: '$tool' is missing (apt-get install mariadb-server mariadb-client openssl)" >&2
    exit 1
  fi
done
mariadbd_bin="$(command -v mariadbd || echo /usr/sbin/mariadbd)"

# Sets name, port, tls and binlog from one server argument.
parse_server() {
  binlog=0
  case "$1" in
    a) name=a port=$((port_base + 1)) tls=0 ;;
    b) name=b port=$((port_base + 2)) tls=0 ;;
    tls) name=tls port=$((port_base + 3)) tls=1 ;;
    binlog) name=binlog port=$((port_base + 4)) tls=0 binlog=1 ;;
    *:*)
      IFS=: read -r name port tls <<<"$1"
      [[ "$tls" == binlog ]] && binlog=1
      [[ "$tls" == tls ]] && tls=1 || tls=0
      ;;
    *) echo "testservers: unknown server '$1'" >&2; return 1 ;;
  esac
  if [[ ! "$name" =~ ^[A-Za-z0-9_-]+$ || ! "$port" =~ ^[0-9]+$ ]]; then
    echo "testservers: bad server '$1' (want name:port[:tls])" >&2
    return 1
  fi
  dir="$basedir/$name"
  cnf="$dir/my.cnf"
  pidfile="$dir/mariadbd.pid"
  socket="$dir/mariadbd.sock"
  # Unix socket paths are limited to 107 bytes; deep build trees fall back to /tmp.
  if (( ${#socket} > 100 )); then
    socket="${TMPDIR:-/tmp}/brevanto-$(printf '%s' "$dir" | md5sum | cut -c1-16).sock"
  fi
}

# The pid of the mariadbd started from this server's my.cnf, or nothing. The pid file is
# trusted only when that process really is ours, so a stale or reused pid is ignored.
server_pid() {
  local pid=""
  [[ -f "$pidfile" ]] && pid="$(tr -dc 0-9 <"$pidfile")"
  if [[ -n "$pid" ]] && is_our_server "$pid"; then
    echo "$pid"
    return
  fi
  local entry
  for entry in /proc/[0-9]*; do
    pid="${entry#/proc/}"
    if is_our_server "$pid"; then
      echo "$pid"
      return
    fi
  done
}

is_our_server() {
  local cmdline
  cmdline="$(tr "\0" "\n" 2>/dev/null <"/proc/$1/cmdline")" || return 1
  grep -qxF -- "--defaults-file=$cnf" <<<"$cmdline" && grep -q 'mariadbd$' <<<"$(head -n1 <<<"$cmdline")"
}

tls_note() {
  if [[ $tls -eq 1 ]]; then echo " with TLS"; fi
}

admin() {
  mariadb-admin --no-defaults --connect-timeout=2 "$@"
}

tcp_port_open() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

show_error_log() {
  echo "testservers: last lines of $dir/error.log:" >&2
  tail -n 15 "$dir/error.log" 2>/dev/null | sed 's/^/    /' >&2
}

write_config() {
  mkdir -p "$dir/data" "$dir/files" "$dir/tmp" || return 1
  {
    echo "[mariadbd]"
    echo "datadir=$dir/data"
    echo "socket=$socket"
    echo "pid-file=$pidfile"
    echo "log-error=$dir/error.log"
    echo "tmpdir=$dir/tmp"
    echo "port=$port"
    echo "bind-address=127.0.0.1"
    echo "skip-networking=0"
    echo "skip-name-resolve"
    echo "secure-file-priv=$dir/files"
    echo "local-infile=0"
    echo "max_allowed_packet=64M"
    echo "character-set-server=utf8mb4"
    echo "collation-server=utf8mb4_general_ci"
    # Small and lax: throw-away servers must start fast, three at a time, on a small machine.
    echo "innodb_buffer_pool_size=64M"
    echo "innodb_log_file_size=16M"
    echo "innodb_log_buffer_size=4M"
    echo "innodb_flush_log_at_trx_commit=2"
    echo "innodb_doublewrite=0"
    echo "innodb_use_native_aio=0"
    echo "performance_schema=OFF"
    echo "key_buffer_size=4M"
    echo "max_connections=200"
    if [[ $binlog -eq 1 ]]; then
      # Functions need no DETERMINISTIC clause, as on the servers without a binary log.
      echo "log-bin=mariadb-bin"
      echo "server-id=1"
      echo "log-bin-trust-function-creators=1"
    else
      echo "skip-log-bin"
    fi
    if [[ $EUID -eq 0 ]]; then echo "user=root"; fi
    if [[ $tls -eq 1 ]]; then
      echo "ssl-ca=$dir/certs/ca.pem"
      echo "ssl-cert=$dir/certs/server-cert.pem"
      echo "ssl-key=$dir/certs/server-key.pem"
    fi
  } >"$cnf"
}

# A CA and a server certificate for 127.0.0.1/localhost signed by it, made once.
make_certificates() {
  local certs="$dir/certs"
  [[ -f "$certs/server-cert.pem" && -f "$certs/server-key.pem" && -f "$certs/ca.pem" ]] && return 0
  mkdir -p "$certs" || return 1
  (
    cd "$certs" &&
      openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Brevanto test CA" \
        -keyout ca-key.pem -out ca.pem &&
      openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
        -keyout server-key.pem -out server.csr &&
      printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >server.ext &&
      openssl x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial \
        -days 3650 -extfile server.ext -out server-cert.pem
  ) >"$dir/openssl.log" 2>&1 || {
    echo "testservers: [$name] openssl failed:" >&2
    sed 's/^/    /' "$dir/openssl.log" >&2
    return 1
  }
}

# wait_until_answers <pid> <login...>: 0 once the server answers on its socket, 1 when the
# process is gone, 2 after the start time-out.
wait_until_answers() {
  local pid="$1"
  shift
  local deadline=$((SECONDS + start_timeout))
  until admin --socket="$socket" "$@" ping >/dev/null 2>&1; do
    kill -0 "$pid" 2>/dev/null || return 1
    (( SECONDS < deadline )) || return 2
    sleep 0.2
  done
}

start_one() {
  local pid
  pid="$(server_pid)"
  if [[ -n "$pid" ]]; then
    if admin --socket="$socket" -uroot -p"$password" ping >/dev/null 2>&1; then
      echo "testservers: [$name] already running (pid $pid) on 127.0.0.1:$port$(tls_note)"
      return 0
    fi
  else
    rm -f "$pidfile"
    # ping answers even when the login is refused, so a query proves the password works.
    if mariadb --no-defaults --connect-timeout=2 --protocol=TCP -h127.0.0.1 -P"$port" -uroot \
      -p"$password" -e "SELECT 1" >/dev/null 2>&1; then
      echo "testservers: [$name] port $port is served by a MariaDB outside $basedir; using that one"
      return 0
    fi
    if admin --protocol=TCP -h127.0.0.1 -P"$port" ping >/dev/null 2>&1; then
      echo "testservers: [$name] port 127.0.0.1:$port is taken by a server that refuses root/$password" >&2
      return 1
    fi
    if tcp_port_open "$port"; then
      echo "testservers: [$name] port 127.0.0.1:$port is taken by another program" >&2
      return 1
    fi
  fi

  write_config || return 1
  if [[ $tls -eq 1 ]]; then make_certificates || return 1; fi

  # A data folder without the marker is a set-up that did not finish: start it afresh.
  local fresh=0
  if [[ ! -f "$dir/initialized" ]]; then
    fresh=1
    if [[ -z "$pid" ]]; then
      rm -rf "$dir/data" && mkdir -p "$dir/data" || return 1
      local user_arg=()
      [[ $EUID -eq 0 ]] && user_arg=(--user=root)
      if ! mariadb-install-db --defaults-file="$cnf" "${user_arg[@]}" --datadir="$dir/data" \
        --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1; then
        # Its own error comes first; the advice that follows says nothing about the cause.
        echo "testservers: [$name] mariadb-install-db failed; from $dir/install.log:" >&2
        grep -m 10 -iE 'error|fail|denied|cannot|can.t' "$dir/install.log" | sed 's/^/    /' >&2
        show_error_log
        return 1
      fi
    fi
  fi

  local login=(-uroot -p"$password")
  [[ $fresh -eq 1 ]] && login=(-uroot)
  # Our ports lie in Linux's ephemeral range: a client socket may hold one (up to a minute
  # in TIME_WAIT), so a refused bind is retried for a while.
  local waited bind_deadline=$((SECONDS + 75)) told=0
  while true; do
    local log_size=0
    if [[ -z "$pid" ]]; then
      log_size="$(stat -c %s "$dir/error.log" 2>/dev/null || echo 0)"
      # Detached from our session and our output, so callers (ctest) do not wait for it.
      setsid "$mariadbd_bin" --defaults-file="$cnf" </dev/null >>"$dir/console.log" 2>&1 &
      pid=$!
    fi
    waited=0
    wait_until_answers "$pid" "${login[@]}" || waited=$?
    [[ $waited -eq 0 ]] && break
    if [[ $waited -eq 1 ]] && (( SECONDS < bind_deadline )) &&
      tail -c +$((log_size + 1)) "$dir/error.log" 2>/dev/null | grep -c 'Address already in use' >/dev/null; then
      [[ $told -eq 1 ]] || echo "testservers: [$name] port $port is held by another socket; retrying for up to 75s"
      told=1
      pid=""
      sleep 3
      continue
    fi
    if [[ $waited -eq 1 ]]; then
      echo "testservers: [$name] mariadbd exited during start-up" >&2
    else
      echo "testservers: [$name] no answer within ${start_timeout}s" >&2
    fi
    show_error_log
    return 1
  done

  if [[ $fresh -eq 1 ]]; then
    # TCP clients arrive as root@127.0.0.1 (skip-name-resolve); both root accounts get the password.
    if ! mariadb --no-defaults --socket="$socket" -uroot >"$dir/setup.log" 2>&1 <<SQL; then
DELETE FROM mysql.global_priv WHERE User = '';
FLUSH PRIVILEGES;
ALTER USER 'root'@'localhost' IDENTIFIED BY '$password';
CREATE USER IF NOT EXISTS 'root'@'127.0.0.1' IDENTIFIED BY '$password';
ALTER USER 'root'@'127.0.0.1' IDENTIFIED BY '$password';
GRANT ALL PRIVILEGES ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION;
SQL
      echo "testservers: [$name] setting the root password failed:" >&2
      sed 's/^/    /' "$dir/setup.log" >&2
      return 1
    fi
    touch "$dir/initialized"
  fi
  echo "testservers: [$name] started (pid $pid) on 127.0.0.1:$port$(tls_note)"
}

stop_one() {
  local pid
  pid="$(server_pid)"
  if [[ -z "$pid" ]]; then
    rm -f "$pidfile"
    echo "testservers: [$name] not running"
    return 0
  fi
  admin --socket="$socket" -uroot -p"$password" --shutdown-timeout="$stop_timeout" shutdown >/dev/null 2>&1 ||
    kill -TERM "$pid" 2>/dev/null
  local deadline=$((SECONDS + stop_timeout))
  while kill -0 "$pid" 2>/dev/null && (( SECONDS < deadline )); do sleep 0.2; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "testservers: [$name] did not shut down within ${stop_timeout}s; killing pid $pid" >&2
    kill -KILL "$pid" 2>/dev/null
    sleep 0.5
  fi
  rm -f "$pidfile"
  echo "testservers: [$name] stopped"
}

status_one() {
  local pid
  pid="$(server_pid)"
  if [[ -n "$pid" ]] && admin --socket="$socket" -uroot -p"$password" ping >/dev/null 2>&1; then
    echo "$name: running (pid $pid) on 127.0.0.1:$port$(tls_note)"
  elif [[ -n "$pid" ]]; then
    echo "$name: process $pid exists but does not answer"
    return 1
  else
    echo "$name: stopped"
    return 1
  fi
}

# Runs start_one or stop_one for every server side by side; each one's messages are shown
# together afterwards, in the order the servers were named.
for_each_server_at_once() {
  local step="$1" wanted entry failed=0
  shift
  local jobs=()
  for wanted in "$@"; do
    parse_server "$wanted" || exit 2
    "$step" >"$basedir/.$step-$name.out" 2>&1 &
    jobs+=("$!:$basedir/.$step-$name.out")
  done
  for entry in "${jobs[@]}"; do
    wait "${entry%%:*}" || failed=1
    cat "${entry#*:}"
    rm -f "${entry#*:}"
  done
  return $failed
}

case "$action" in
  start) for_each_server_at_once start_one "$@" ;;
  stop) for_each_server_at_once stop_one "$@" ;;
  status)
    failed=0
    for wanted in "$@"; do
      parse_server "$wanted" || exit 2
      status_one || failed=1
    done
    exit $failed
    ;;
  *) usage ;;
esac
