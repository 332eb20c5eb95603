#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang into build-fuzz/ and runs each one for a
# while on a copy of its seed corpus (fuzz/corpus/<target>/).
#   tools/fuzz.sh [seconds]   seconds per target, 60 when not given
# Prints a line as each step starts and one for each target that ends clean. On a crash, a
# leak, undefined behaviour or a hang it prints the fuzzer's report, keeps the input that
# caused it under build-fuzz/fuzz-artifacts/ and exits with status 1.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [seconds per target]" >&2
  exit 2
fi

build=build-fuzz
targets=(pagescan commandline bodymarkup interruptedrun handover byteranges address)
source tools/packages.sh
packages=("${build_dependencies[@]}" clang libclang-rt-dev)

# Runs a step quietly; shows its output only when it fails.
quietly() {
  local log=$1; shift
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
  fi
}

install_missing "${packages[@]}"
mkdir -p "$build"
logs=$build/fuzz-logs
artifacts=$build/fuzz-artifacts
mkdir -p "$logs" "$artifacts"

echo "fuzz: building ${targets[*]/#/fuzz_} with clang into $build/"
quietly "$logs/configure.log" cmake -S . -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_UNITY_BUILD=ON -DQUORRIN_BUILD_FUZZERS=ON -DQUORRIN_BUILD_TESTS=OFF
quietly "$logs/build.log" cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz_}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The targets run side by side, each for the whole time, each with its own dictionary where it
# has one (fuzz/<target>.dict), else the update page's.
fuzz() {
  local target=$1 corpus=$work/$1 dict=fuzz/$1.dict
  [ -f "$dict" ] || dict=fuzz/pagescan.dict
  mkdir -p "$corpus"
  cp -R "fuzz/corpus/$target/." "$corpus/"
  "$build/fuzz/fuzz_$target" "$corpus" -dict="$dict" \
    -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" >"$logs/$target.log" 2>&1
}
echo "fuzz: running the ${#targets[@]} targets side by side for ${seconds} s"
pids=()
for target in "${targets[@]}"; do
  fuzz "$target" &
  pids+=($!)
done
status=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if ! wait "${pids[$i]}"; then
    echo "fuzz_$target failed; the input that caused it is under $artifacts/" >&2
    tail -n 80 "$logs/$target.log" >&2
    status=1
  else
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$target.log" | head -n 1)
    echo "fuzz: fuzz_$target clean (${runs:-?} inputs tried)"
  fi
done
exit $status
