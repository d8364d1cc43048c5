#!/usr/bin/env bash
# fuzz.sh TARGET|all [SECONDS]: builds the libFuzzer targets of fuzz/ (clang, ASan/UBSan) in
# build-fuzz and runs TARGET, or each target in turn, for SECONDS (default 60) from its seeds
# in fuzz/corpus/TARGET. New inputs go to build-fuzz/corpus/TARGET, findings to
# build-fuzz/findings/; the exit status is not 0 when something was found.
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:?usage: scripts/fuzz.sh TARGET|all [SECONDS]}
seconds=${2:-60}
if [ "$what" = all ]; then
    mapfile -t targets < <(sed -n 's/^velmor_fuzz_target(\([A-Za-z0-9_]*\).*/\1/p' fuzz/CMakeLists.txt)
else
    targets=("$what")
fi
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$PWD")}"
    export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-fuzz -G Ninja "${launcher[@]}" -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMOR_FUZZ=ON -DVELMOR_TESTS=OFF -DVELMOR_WERROR=ON >/dev/null
cmake --build build-fuzz --target "${targets[@]/%/_fuzz}"
mkdir -p build-fuzz/findings
for target in "${targets[@]}"; do
    mkdir -p "build-fuzz/corpus/$target"
    log="build-fuzz/$target.log"
    echo "fuzzing $target for $seconds s (log: $log)"
    if ! "build-fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$target-" \
        "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
        tail -n 60 "$log"
        exit 1
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
done
