#!/usr/bin/env bash
# deb-test.sh BUILD_DIR: the package test (see CMakeLists.txt). Exit 77 means skipped.
set -euo pipefail
build="$1"
if [[ $EUID -ne 0 ]]; then
  echo "skipped: installing a package needs root"
  exit 77
fi
if dpkg-query -W -f='${db:Status-Status}' brevanto 2>/dev/null | grep -q installed; then
  echo "skipped: a brevanto package is already installed here; not replacing it"
  exit 77
fi

work="$(mktemp -d)"
cleanup() {
  dpkg --purge brevanto >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
deb="$(ls "$work"/out/brevanto_*.deb)"
echo "built $(basename "$deb") ($(du -k "$deb" | cut -f1) KB)"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
for needed in libmariadb libqt6widgets; do
  grep -q "$needed" <<<"$depends" || { echo "the package does not depend on $needed"; exit 1; }
done
dpkg -i "$deb"

for file in /usr/bin/brevanto /usr/bin/brevanto-run /usr/lib/systemd/user/brevanto.service \
            /usr/lib/systemd/user/brevanto-task@.service /usr/lib/systemd/user/brevanto-task@.timer \
            /usr/share/applications/brevanto.desktop /usr/share/man/man1/brevanto-run.1 \
            /usr/share/metainfo/io.brevanto.Brevanto.metainfo.xml \
            /usr/share/bash-completion/completions/brevanto-run \
            /usr/share/icons/hicolor/scalable/apps/brevanto.svg \
            /usr/share/icons/hicolor/48x48/apps/brevanto.png; do
  [[ -e "$file" ]] || { echo "missing after install: $file"; exit 1; }
done
/usr/bin/brevanto-run --version | grep -q "^brevanto-run [0-9]"

# A task imported from JSON and run from /usr/bin, with its data under a fresh home.
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
echo "installed, imported and ran a task from /usr/bin"
