#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   ./test.sh          build/ (RelWithDebInfo)
#   ./test.sh --asan   build-asan/ with AddressSanitizer and UndefinedBehaviorSanitizer
# Extra arguments after the options go to ctest (e.g. ./test.sh -L mysql) and leave out the
# fuzz build. Without them, the fuzz targets are also built with clang, libFuzzer, ASan and
# UBSan in build-fuzz/ and replay their seed corpora (scripts/fuzz.sh fuzzes for longer).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$repo"
source scripts/common.sh

build_dir=build
cmake_extra=()
if [[ "${1:-}" == --asan ]]; then
  shift
  build_dir=build-asan
  cmake_extra=(-DBREVANTO_SANITIZE=ON)
  export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=0:detect_stack_use_after_return=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
fi

# Widget tests never need a screen (CI has none).
export QT_QPA_PLATFORM=offscreen

started=$SECONDS
install_missing_packages
install_test_npm_packages
installed=$SECONDS

configure_build "$build_dir" "${cmake_extra[@]}"
# Keep going past a broken target so every test that did build still runs and reports.
build_status=0
cmake --build "$build_dir" -j"$(nproc)" -- -k || build_status=$?
built=$SECONDS
if [[ $build_status -ne 0 ]]; then
  say "BUILD FAILED (status $build_status); running the tests that were built"
fi

# Tests needing MariaDB share one set of throw-away servers (the mariadb fixture) and take
# turns through a resource lock; everything else runs beside them.
log="$build_dir/ctest.log"
# The fixture stops the test servers after the last test; this catches a run cut short.
stop_leftover_servers() {
  local servers
  servers="$(tests/mariadb/testservers.sh status "$build_dir/mariadb-test" 2>/dev/null || true)"
  if grep -qE ": running|does not answer" <<<"$servers"; then
    say "stopping test servers left running"
    tests/mariadb/testservers.sh stop "$build_dir/mariadb-test" || true
  fi
}
trap stop_leftover_servers EXIT
set +e
(cd "$build_dir" && ctest --output-on-failure -j2 --timeout 600 "$@") 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
tested=$SECONDS

fuzz_status=0
if [[ $# -eq 0 ]]; then
  say "building the fuzz targets with libFuzzer and replaying their corpora (build-fuzz/)"
  { configure_fuzz_build >/dev/null &&
      cmake --build build-fuzz -j"$(nproc)" --target brevanto_fuzzers &&
      (cd build-fuzz && ctest --output-on-failure -L fuzz); } || fuzz_status=$?
fi
fuzzed=$SECONDS

echo
say "install $((installed - started))s, build $((built - installed))s, tests $((tested - built))s, fuzz build and replay $((fuzzed - tested))s"
summary="$(grep -E 'tests passed|No tests were found' "$log" | tail -n1 || true)"
say "${summary:-ctest printed no summary}"
if [[ $build_status -ne 0 ]]; then
  say "FAILED: the build failed (see the first errors above)"
  exit 1
fi
if [[ $status -ne 0 ]]; then
  say "FAILED (ctest exit status $status); details above and in $build_dir/Testing/Temporary/LastTest.log"
  exit "$status"
fi
if [[ $fuzz_status -ne 0 ]]; then
  say "FAILED: the libFuzzer build or its corpus replay (status $fuzz_status; see above)"
  exit 1
fi
exit 0
