# Shared by run.sh and test.sh: installs what is missing and configures the build tree.
# Sourced, not run; expects $repo (the checkout's root).

# Everything the build, the tests and the sandbox need on Debian 12.
brevanto_packages=(
  cmake make g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libxcb1-dev libgl-dev
  libmariadb-dev libssl-dev mariadb-server mariadb-client
  libgtest-dev libgmock-dev libbenchmark-dev
  openssl xvfb xauth age
  zlib1g-dev libzstd-dev libcurl4-openssl-dev nlohmann-json3-dev
  mydumper python3-aiosmtpd python3-prometheus-client dbus libsystemd-dev libxxhash-dev
  dpkg-dev file lintian
  git clang-format clang libclang-rt-dev
  libssh-dev rclone openssh-server openssh-client
  libxml2-dev
)

say() { echo "[$(basename "$0")] $*"; }

# Installs the packages of brevanto_packages (plus any given) that dpkg does not report as
# installed; the package lists are refreshed only when something is missing.
install_missing_packages() {
  if ! command -v dpkg-query >/dev/null 2>&1; then
    say "no dpkg here; make sure these are installed: ${brevanto_packages[*]} $*"
    return 0
  fi
  local package missing=()
  for package in "${brevanto_packages[@]}" "$@"; do
    if [[ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)" != installed ]]; then
      missing+=("$package")
    fi
  done
  if [[ ${#missing[@]} -eq 0 ]]; then
    say "all needed packages are installed"
    return 0
  fi
  local sudo=()
  if [[ $EUID -ne 0 ]]; then
    if ! command -v sudo >/dev/null 2>&1; then
      say "missing packages: ${missing[*]}; run as root or install sudo" >&2
      return 1
    fi
    sudo=(sudo)
  fi
  say "installing missing packages: ${missing[*]}"
  # The package's own service may be refused a start (policy-rc.d); we never use it.
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The npm packages of the S3 test server (tests/support/s3/), as package-lock.json pins them.
# node and npm come with the machine: they are not Debian packages here, dpkg would fight
# the installed nodejs. Without npm the S3 tests skip and say why.
install_test_npm_packages() {
  local dir="$repo/tests/support/s3"
  if ! command -v npm >/dev/null 2>&1; then
    say "npm is not installed: the S3 store tests will be skipped"
    return 0
  fi
  if [[ -f "$dir/node_modules/.package-lock.json" &&
        "$dir/node_modules/.package-lock.json" -nt "$dir/package-lock.json" ]]; then
    return 0
  fi
  say "installing the S3 test server's npm packages (tests/support/s3)"
  (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error) ||
    say "npm ci failed in tests/support/s3: the S3 store tests will be skipped" >&2
}

# configure_build <build dir> [extra cmake arguments]: the one configuration both scripts use,
# so they share a build tree without reconfiguring each other.
configure_build() {
  local dir="$1"
  shift
  cmake -S "$repo" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBREVANTO_BUILD_TESTS=ON \
    -DBREVANTO_BUILD_UI=ON -DBREVANTO_BUILD_BENCH=OFF "$@"
}

# configure_fuzz_build [extra cmake arguments]: build-fuzz/, where clang builds the fuzz
# targets with libFuzzer, ASan and UBSan (build it with --target brevanto_fuzzers).
configure_fuzz_build() {
  CC=clang CXX=clang++ cmake -S "$repo" -B "$repo/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBREVANTO_BUILD_FUZZ=ON -DBREVANTO_BUILD_UI=OFF -DBREVANTO_BUILD_TESTS=OFF "$@"
}
