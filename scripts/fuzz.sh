#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (ASan + UBSan) in build-fuzz/ and fuzzes
# each for a while. ./test.sh (CI) only builds them and replays their seed corpora.
#   scripts/fuzz.sh [--seconds N] [target...]     default: 60 seconds each, every target
# Inputs that reach new code are kept in build-fuzz/corpus/<target>/ (fuzz/corpus/ is only
# read; copy an input worth keeping there by hand); a failing input is left in
# build-fuzz/crashes/ and stops the script.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
source scripts/common.sh

seconds=60
if [[ "${1:-}" == --seconds ]]; then
  seconds="$2"
  shift 2
fi
# Each target fuzz_<name> has its seed corpus in fuzz/corpus/<name>/.
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for folder in fuzz/corpus/*/; do targets+=("fuzz_$(basename "$folder")"); done
fi
for target in "${targets[@]}"; do
  if [[ ! -d "fuzz/corpus/${target#fuzz_}" ]]; then
    say "unknown target $target (targets: fuzz_<folder of fuzz/corpus>)" >&2
    exit 2
  fi
done

install_missing_packages
configure_fuzz_build
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"

mkdir -p build-fuzz/crashes
for target in "${targets[@]}"; do
  name="${target#fuzz_}"
  mkdir -p "build-fuzz/corpus/$name"
  options=(-max_total_time="$seconds" -artifact_prefix="build-fuzz/crashes/$target-")
  # The dictionary holds the magics of our binary files; SQL text has none.
  [[ "$name" != statement_splitter ]] && options+=(-dict=fuzz/binary-files.dict)
  say "fuzzing $target for ${seconds}s"
  # The first folder receives new inputs; the seed corpus after it is only read.
  "build-fuzz/fuzz/$target" "${options[@]}" "build-fuzz/corpus/$name" "fuzz/corpus/$name"
done
say "no failure in ${#targets[@]} target(s)"
