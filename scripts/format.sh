#!/usr/bin/env bash
# Formats the C++ lines changed since the formatting base with the repository's .clang-format.
# The tree is not formatted as a whole: only lines changed since the commit named in
# .clang-format-base are held to the style, so older code is reformatted only where touched.
#   scripts/format.sh           formats those lines in the working tree (git add new files first)
#   scripts/format.sh --check   changes nothing; exits 1 listing the unformatted changes (CI)
# --check exits 77 (skipped) where there is no history to compare with: not a git checkout,
# or a shallow one without the base commit.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)"
cd "$repo" || exit 2

check=0
case "${1:-}" in
  --check) check=1 ;;
  "") ;;
  *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac

notice() { echo "format: $*"; }
skip() { notice "$* - formatting not checked"; exit 77; }

# CI runs as root on a checkout it may not own; git would refuse it as "dubious ownership".
# Entries passed this way count as command-line configuration, which safe.directory honours,
# and reach the git processes git-clang-format starts.
if [[ -z "${GIT_CONFIG_COUNT:-}" ]]; then
  export GIT_CONFIG_COUNT=1 GIT_CONFIG_KEY_0=safe.directory GIT_CONFIG_VALUE_0='*'
fi

command -v git >/dev/null 2>&1 || skip "git is not installed"
[[ "$(git rev-parse --show-toplevel 2>/dev/null)" == "$repo" ]] || skip "$repo is not a git checkout"
base="$(sed -e 's/#.*//' .clang-format-base 2>/dev/null | tr -d ' \t' | grep -m1 .)"
[[ -n "$base" ]] || { echo "format: .clang-format-base names no commit" >&2; exit 2; }
if ! git cat-file -e "$base^{commit}" 2>/dev/null; then
  if [[ "$(git rev-parse --is-shallow-repository 2>/dev/null)" == true ]]; then
    skip "shallow checkout without the base commit $base"
  fi
  skip "the base commit $base is not in this checkout's history"
fi
if ! command -v git-clang-format >/dev/null 2>&1 || ! command -v clang-format >/dev/null 2>&1; then
  echo "format: git-clang-format and clang-format are needed: apt-get install clang-format" >&2
  exit 2
fi

# Only our C++ sources: the default list includes .json, and golden files stay byte-exact.
args=(--binary "$(command -v clang-format)" "--extensions=h,cpp")

if [[ $check -eq 0 ]]; then
  # --force: the result is computed from the working files themselves, so unstaged edits are
  # kept; only the formatting of the changed lines is written over them.
  git clang-format "${args[@]}" --force "$base" --
  status=$?
  # Later releases exit 1 for "changed files", which is what was asked for.
  [[ $status -le 1 ]] && exit 0
  exit "$status"
fi

# Decided by the output, not the exit status: Debian 12's git-clang-format exits 0 whether or
# not it prints a diff (later releases exit 1), while a diff always starts with "diff --git".
output="$(git clang-format "${args[@]}" --diff "$base" -- 2>&1)"
status=$?
if grep -q '^diff --git' <<<"$output"; then
  files="$(sed -n 's|^diff --git a/\(.*\) b/.*|\1|p' <<<"$output" | sort -u)"
  echo "$output"
  echo
  echo "format: lines changed since ${base:0:12} are not formatted as .clang-format says, in:"
  sed 's/^/    /' <<<"$files"
  echo "format: run scripts/format.sh (it formats only the changed lines), review, and commit."
  exit 1
fi
if [[ $status -ne 0 ]]; then
  echo "$output" >&2
  echo "format: git clang-format failed (status $status)" >&2
  exit 2
fi
notice "the lines changed since ${base:0:12} are formatted"
exit 0
