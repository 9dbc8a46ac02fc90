#!/usr/bin/env bash
# deb-test.sh BUILD_DIR: the package test (see CMakeLists.txt). Exit 77 means skipped.
set -euo pipefail
build="$1"
packages=(brevanto brevanto-cli)  # removal order: the window's package depends on the other
if [[ $EUID -ne 0 ]]; then
  echo "skipped: installing a package needs root"
  exit 77
fi
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -q installed; then
    echo "skipped: a $package package is already installed here; not replacing it"
    exit 77
  fi
done

work="$(mktemp -d)"
cleanup() {
  dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
gui="$(ls "$work"/out/brevanto_*.deb)"
cli="$(ls "$work"/out/brevanto-cli_*.deb)"
for deb in "$gui" "$cli"; do
  echo "built $(basename "$deb") ($(du -k "$deb" | cut -f1) KB)"
  echo "Depends: $(dpkg-deb -f "$deb" Depends)"
  # A CMake list in the description reaches the control file joined by semicolons.
  ! dpkg-deb -f "$deb" Description | grep -q ';' || fail "$(basename "$deb"): a ';' in Description"
done

# The split: the server package needs no graphical library and holds no part of the window.
cli_depends="$(dpkg-deb -f "$cli" Depends)"
grep -q libmariadb <<<"$cli_depends" || fail "brevanto-cli does not depend on libmariadb"
! grep -Eiq 'qt|xcb|libx11|libgl|libegl|libxkb|libfontconfig' <<<"$cli_depends" ||
  fail "brevanto-cli depends on a graphical library: $cli_depends"
version="$(dpkg-deb -f "$gui" Version)"
gui_depends="$(dpkg-deb -f "$gui" Depends)"
grep -q libqt6widgets <<<"$gui_depends" || fail "brevanto does not depend on libqt6widgets"
grep -qF "brevanto-cli (= $version)" <<<"$gui_depends" || fail "brevanto does not depend on brevanto-cli $version"

# Policy faults (a missing copyright file or changelog, uncompressed or broken manual pages,
# misplaced units, bad permissions) as Debian's checker sees them; warnings count too.
if ! lintian --fail-on error,warning "$cli" "$gui" >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log"
  fail "lintian found faults"
fi

dpkg -i "$cli" "$gui"
# Each path and the package that must own it.
while read -r owner file; do
  [[ -e "$file" ]] || fail "missing after install: $file"
  [[ "$(dpkg -S "$file" | cut -d: -f1)" == "$owner" ]] || fail "$file is not in $owner: $(dpkg -S "$file")"
done <<'FILES'
brevanto-cli /usr/bin/brevanto-run
brevanto-cli /usr/lib/systemd/user/brevanto.service
brevanto-cli /usr/lib/systemd/user/brevanto-task@.service
brevanto-cli /usr/lib/systemd/user/brevanto-task@.timer
brevanto-cli /usr/lib/systemd/system/brevanto@.service
brevanto-cli /usr/share/man/man1/brevanto-run.1.gz
brevanto-cli /usr/share/bash-completion/completions/brevanto-run
brevanto-cli /usr/share/doc/brevanto/ADMIN.md
brevanto-cli /usr/share/doc/brevanto/formats/task-file.md
brevanto-cli /usr/share/doc/brevanto-cli/copyright
brevanto-cli /usr/share/doc/brevanto-cli/changelog.gz
brevanto /usr/bin/brevanto
brevanto /usr/share/man/man1/brevanto.1.gz
brevanto /usr/share/doc/brevanto/copyright
brevanto /usr/share/doc/brevanto/changelog.gz
brevanto /usr/share/applications/brevanto.desktop
brevanto /usr/share/metainfo/io.brevanto.Brevanto.metainfo.xml
brevanto /usr/share/icons/hicolor/scalable/apps/brevanto.svg
brevanto /usr/share/icons/hicolor/48x48/apps/brevanto.png
FILES
for gz in /usr/share/man/man1/brevanto-run.1.gz /usr/share/man/man1/brevanto.1.gz \
          /usr/share/doc/brevanto/changelog.gz; do
  gzip -t "$gz" || fail "$gz is not gzip"
done
zcat /usr/share/man/man1/brevanto-run.1.gz | grep -q '^\.TH BREVANTO-RUN 1'
zcat /usr/share/doc/brevanto/changelog.gz | head -1 | grep -qF "brevanto ($version)" ||
  fail "the changelog's first entry is not $version"
[[ ! -e /usr/share/doc/Brevanto ]] || fail "documentation under /usr/share/doc/Brevanto"
grep -q '^User=%i$' /usr/lib/systemd/system/brevanto@.service
grep -q '^ExecStart=brevanto-run --daemon$' /usr/lib/systemd/system/brevanto@.service

# brevanto-run on its own: the window's package removed, a task imported from JSON and run
# from /usr/bin, with its data under a fresh home.
dpkg --purge brevanto >/dev/null
[[ -e /usr/share/doc/brevanto/ADMIN.md ]] || fail "removing brevanto took the shared documentation"
/usr/bin/brevanto-run --version | grep -q "^brevanto-run [0-9]"
server="${BREVANTO_TEST_SERVERS%%,*}"
export HOME="$work/home" XDG_DATA_HOME=
mkdir -p "$HOME"
cat >"$work/task.json" <<JSON
[{"TaskName": "package check", "TaskType": 5,
  "SourceServer": {"Host": "${server%:*}", "Port": ${server#*:}, "UserName": "root",
                   "Password": "${BREVANTO_TEST_PASSWORD:-brevanto}"},
  "ScriptStatements": ["SELECT 1"]}]
JSON
/usr/bin/brevanto-run --import "$work/task.json"
/usr/bin/brevanto-run --run "package check"
[[ "$(/usr/bin/brevanto-run --where)" == "$HOME/.local/share/Brevanto/" ]]
echo "installed both packages, then ran an imported task with brevanto-cli alone"
