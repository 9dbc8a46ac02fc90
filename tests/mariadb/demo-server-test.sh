#!/usr/bin/env bash
# run.sh's demo server beside a MariaDB that already holds the usual port but refuses the
# demo login (as Debian's own, with socket-only root): that server is left alone, the
# sandbox answers on the next free port, and the last line names the login that works.
#
#   demo-server-test.sh SCRATCH-DIR PORT
set -uo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
scratch="$1"
port="$2"
servers="$repo/tests/mariadb/testservers.sh"
rm -rf "$scratch"
mkdir -p "$scratch"
failed=0
fail() { echo "FAIL: $*"; failed=1; }
cleanup() {
  BREVANTO_TEST_PASSWORD=other "$servers" stop "$scratch/foreign" "taken:$port" >/dev/null 2>&1
  BREVANTO_TEST_PASSWORD=brevanto "$servers" stop "$scratch/sandbox" "demo:$((port + 1))" >/dev/null 2>&1
}
trap cleanup EXIT

BREVANTO_TEST_PASSWORD=other "$servers" start "$scratch/foreign" "taken:$port" || exit 1
output="$(BREVANTO_DEMO_PORT="$port" "$repo/scripts/demo-server.sh" "$scratch/sandbox" 2>&1)" ||
  fail "demo-server.sh failed: $output"
echo "$output"
expected="login: host 127.0.0.1, port $((port + 1)), user root, password brevanto"
[[ "$(tail -n 1 <<<"$output")" == "$expected" ]] || fail "last line is not: $expected"
login=(mariadb --no-defaults --connect-timeout=5 --protocol=TCP -h127.0.0.1 -uroot)
[[ "$("${login[@]}" -P"$((port + 1))" -pbrevanto -N -e "SHOW DATABASES LIKE 'shop'" 2>&1)" == shop ]] ||
  fail "the sandbox has no demo database"
"${login[@]}" -P"$port" -pother -e "SELECT 1" >/dev/null 2>&1 || fail "the foreign server is gone"
"${login[@]}" -P"$port" -pother -N -e "SHOW DATABASES LIKE 'shop'" | grep -q shop &&
  fail "the demo data went into the foreign server"

# Again: the sandbox that runs is found on its own port.
output="$(BREVANTO_DEMO_PORT="$port" "$repo/scripts/demo-server.sh" "$scratch/sandbox" 2>&1)" ||
  fail "the second start failed: $output"
[[ "$(tail -n 1 <<<"$output")" == "$expected" ]] || fail "the second start names: $(tail -n 1 <<<"$output")"
exit $failed
