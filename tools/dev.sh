#!/usr/bin/env bash
# Sets up a Debian or Ubuntu machine for Quorrin, builds it, and runs it or its tests.
#   tools/dev.sh run        install what is missing, build, start Quorrin
#   tools/dev.sh test       install what is missing, build, run the whole test suite
#   tools/dev.sh sanitize   the same suite, built with AddressSanitizer and UBSan
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/packages.sh
test_packages=(
  "${build_dependencies[@]}"
  # tests: loopback servers, a real X server for the end-to-end checks, keys and signatures,
  # a session bus, AppStream's validator
  libcpp-httplib-dev python3 python3-pyftpdlib openssl xvfb xauth xdotool minisign dbus appstream
)

# The suite's builds compile their sources a few to a unit, so that Qt's headers are parsed
# once for several files: a clean build takes about two thirds of the time. The release
# check builds file by file, so that every source still compiles on its own.
build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_UNITY_BUILD=ON "$@" >/dev/null
  cmake --build "$dir"
}

case "${1:-}" in
  run)
    # Said before anything is installed or built: without a display there is nothing to run.
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
      echo "No display: Quorrin needs a graphical session (DISPLAY or WAYLAND_DISPLAY is not set)." >&2
      exit 1
    fi
    install_missing "${build_dependencies[@]}"
    # Only the program and its companion; the tests, and what they need, come with "test".
    configure=()
    [ -f build/CMakeCache.txt ] || configure=(-DQUORRIN_BUILD_TESTS=OFF)
    cmake -S . -B build -G Ninja "${configure[@]}" >/dev/null
    # The updater exists only in a build that names an update site.
    targets=(quorrin)
    grep -q '^QUORRIN_UPDATE_BASE_URL:STRING=.' build/CMakeCache.txt && targets+=(updater)
    cmake --build build --target "${targets[@]}"
    exec build/bin/quorrin
    ;;
  test)
    install_missing "${test_packages[@]}"
    # Line tables are all a failing test's backtrace needs; full debug information would cost
    # an eighth of the build's time.
    build build -DQUORRIN_BUILD_TESTS=ON -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
    ctest --test-dir build --output-on-failure -j "$(nproc)"
    ;;
  sanitize)
    install_missing "${test_packages[@]}"
    build build-asan -DQUORRIN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DQUORRIN_BUILD_TESTS=ON
    ctest --test-dir build-asan --output-on-failure -j "$(nproc)"
    ;;
  *)
    echo "usage: $0 run|test|sanitize" >&2
    exit 2
    ;;
esac
