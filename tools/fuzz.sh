#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang into build-fuzz/ and runs each one for a
# while on a copy of its seed corpus (fuzz/corpus/<target>/).
#   tools/fuzz.sh [seconds]   seconds per target, 60 when not given
# Prints nothing when every target runs clean. On a crash, a leak, undefined behaviour or a
# hang it prints the fuzzer's report, keeps the input that caused it under
# build-fuzz/fuzz-artifacts/ and exits with status 1.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [seconds per target]" >&2
  exit 2
fi

build=build-fuzz
targets=(pagescan commandline bodymarkup)
packages=(clang libclang-rt-dev cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libcurl4-openssl-dev)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# Runs a step quietly; shows its output only when it fails.
quietly() {
  local log=$1; shift
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
  fi
}

install_missing
mkdir -p "$build"
logs=$build/fuzz-logs
artifacts=$build/fuzz-artifacts
mkdir -p "$logs" "$artifacts"

quietly "$logs/configure.log" cmake -S . -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORRIN_BUILD_FUZZERS=ON -DQUORRIN_BUILD_TESTS=OFF
quietly "$logs/build.log" cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz_}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in "${targets[@]}"; do
  corpus=$work/$target
  mkdir -p "$corpus"
  cp -R "fuzz/corpus/$target/." "$corpus/"
  log=$logs/$target.log
  if ! "$build/fuzz/fuzz_$target" "$corpus" -dict=fuzz/pagescan.dict \
      -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
      -artifact_prefix="$artifacts/$target-" >"$log" 2>&1; then
    echo "fuzz_$target failed; the input that caused it is under $artifacts/" >&2
    tail -n 80 "$log" >&2
    exit 1
  fi
done
