#!/usr/bin/env bash
# Installs what is missing, builds, makes sure a MariaDB with demo data answers with the
# login root/brevanto (scripts/demo-server.sh), starts the program and prints that login last.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$repo"
source scripts/common.sh

readonly sandbox_dir="$repo/sandbox"

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
# The demo server: the one on localhost:3306 when root/brevanto logs in there, else a
# sandbox of our own (on 3306, or beside a server there that refuses that login).
demo_out="$(mktemp)"
scripts/demo-server.sh "$sandbox_dir" | tee "$demo_out"
demo_login="$(tail -n 1 "$demo_out")"
rm -f "$demo_out"
started+=("the demo MariaDB with the database 'shop' ($demo_login)")

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
  say "log in to the demo server with $demo_login"
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
