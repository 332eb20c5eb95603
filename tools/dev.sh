#!/usr/bin/env bash
# Sets up a Debian or Ubuntu machine for Quorrin, builds it, and runs it or its tests.
#   tools/dev.sh run        install what is missing, build, start Quorrin
#   tools/dev.sh test       install what is missing, build, run the whole test suite
#   tools/dev.sh sanitize   the same suite, built with AddressSanitizer and UBSan
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/packages.sh
packages=(
  "${build_dependencies[@]}"
  # tests: loopback servers, a real X server for the end-to-end checks, keys and signatures
  libcpp-httplib-dev python3 python3-pyftpdlib openssl xvfb xauth xdotool minisign
)

build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}

case "${1:-}" in
  run)
    install_missing "${packages[@]}"
    build build
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
      echo "No display: Quorrin needs a graphical session (DISPLAY or WAYLAND_DISPLAY is not set)." >&2
      exit 1
    fi
    exec build/bin/quorrin
    ;;
  test)
    install_missing "${packages[@]}"
    build build
    ctest --test-dir build --output-on-failure -j "$(nproc)"
    ;;
  sanitize)
    install_missing "${packages[@]}"
    build build-asan -DQUORRIN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    ctest --test-dir build-asan --output-on-failure -j "$(nproc)"
    ;;
  *)
    echo "usage: $0 run|test|sanitize" >&2
    exit 2
    ;;
esac
