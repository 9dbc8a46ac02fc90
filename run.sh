#!/usr/bin/env bash
# Installs what is missing, builds, makes sure a MariaDB answers on localhost:3306 (starting
# a sandbox with demo data when none does) and starts the program.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$repo"
source scripts/common.sh

readonly sandbox_dir="$repo/sandbox"
readonly sandbox_server=demo:3306
readonly sandbox_password=brevanto

install_missing_packages
configure_build build
# Only the programs: the tests are test.sh's business.
programs=()
targets="$(cmake --build build --target help)"
for target in brevanto brevanto-run; do
  if grep -qE "^\.\.\. $target( |$)" <<<"$targets"; then programs+=("$target"); fi
done
if [[ ${#programs[@]} -eq 0 ]]; then
  say "building everything (no program target is defined yet)"
  cmake --build build -j"$(nproc)"
else
  cmake --build build -j"$(nproc)" --target "${programs[@]}"
fi

started=()
sandbox=(tests/mariadb/testservers.sh status "$sandbox_dir" "$sandbox_server")
if ! "${sandbox[@]}" >/dev/null 2>&1 && (exec 3<>/dev/tcp/127.0.0.1/3306) 2>/dev/null; then
  say "a server already answers on localhost:3306; using it (no sandbox started)"
else
  tests/mariadb/testservers.sh start "$sandbox_dir" "$sandbox_server"
  client=(mariadb --no-defaults --protocol=TCP -h127.0.0.1 -P3306 -uroot -p"$sandbox_password")
  if [[ -z "$("${client[@]}" -N -e "SHOW DATABASES LIKE 'shop'")" ]]; then
    "${client[@]}" <scripts/demo-shop.sql
    say "loaded the demo database 'shop'"
  fi
  started+=("a sandbox MariaDB on 127.0.0.1:3306 with the demo database 'shop' (user root, password $sandbox_password, data in sandbox/demo/; stop it with: tests/mariadb/testservers.sh stop sandbox $sandbox_server)")
fi

# Where the program keeps tasks, logs and default backups (never inside build/ unless a
# copy there was made portable on purpose).
if [[ -x build/app/brevanto-run ]]; then
  data_folder="$(build/app/brevanto-run --where)"
  say "data (tasks, logs, default backups): $data_folder"
  if [[ "$data_folder" == "$repo/build/"* ]]; then
    say "  that is inside build/ because build/app/ holds data files from an older run;"
    say "  move them to ~/.local/share/Brevanto/ so that rm -rf build cannot delete them"
  fi
fi

report() {
  say "started:"
  local line
  for line in "${started[@]}"; do say "  - $line"; done
  [[ ${#started[@]} -gt 0 ]] || say "  - nothing"
}

if [[ -x build/app/brevanto ]]; then
  if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    started+=("the program build/app/brevanto")
    report
    exec build/app/brevanto "$@"
  fi
  say "build/app/brevanto is built, but there is no display (DISPLAY and WAYLAND_DISPLAY are unset)"
else
  say "the windowed program build/app/brevanto does not exist yet"
fi
if [[ -x build/app/brevanto-run ]]; then
  say "running the headless build/app/brevanto-run --list instead"
  run_status=0
  build/app/brevanto-run --list || run_status=$?
  started+=("build/app/brevanto-run --list, which has finished (exit status $run_status)")
else
  say "the headless build/app/brevanto-run does not exist yet either"
fi
report
