#!/bin/sh
# Builds the benchmarks in Release and runs them, keeping the JSON of each
# run in bench/results/ so that it can be compared with the last one.
#
#   bench/run_bench.sh            bench_data and bench_callinfo, all sizes: 1 000, 100 000 and 1 000 000 QSOs
#   bench/run_bench.sh --quick    1 000 and 100 000 only
#   bench/run_bench.sh --sizes=1000 --benchmark_filter=Save
#   bench/run_bench.sh --ui       bench_ui (the windows) instead, then the plot
#   bench/run_bench.sh --query    bench_query (searching and counting the log) instead
#   bench/run_bench.sh --all      bench_data, bench_query and bench_ui, then the plot
#
# The plot of a bench_ui run goes to docs/performance.png (PLOT to change;
# --no-plot to skip it); it needs python3-matplotlib from Debian.
# BUILD_DIR (default build-bench) and QARDEL_BENCH_DIR (where generated logs
# are cached; default <build>/bench-data) can be set in the environment.
# Every other option goes to the benchmark programs.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build-bench}
case $build in /*) ;; *) build=$root/$build ;; esac

data=1 ui=0 query=0 plot=1
n=$#
while [ "$n" -gt 0 ]; do
    a=$1
    shift
    n=$((n - 1))
    case $a in
    --ui) data=0 ui=1 ;;
    --query) data=0 query=1 ;;
    --all) data=1 ui=1 query=1 ;;
    --no-plot) plot=0 ;;
    *) set -- "$@" "$a" ;;
    esac
done

targets=
[ $data = 1 ] && targets="$targets bench_data bench_callinfo"
[ $ui = 1 ] && targets="$targets bench_ui"
[ $query = 1 ] && targets="$targets bench_query"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQARDEL_BENCH=ON -DQARDEL_GUI=ON >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $targets

mkdir -p "$here/results"
stamp=$(date +%Y%m%d-%H%M%S)
if [ $data = 1 ]; then
    out="$here/results/bench_data-$stamp.json"
    "$build/bench/bench_data" --benchmark_out="$out" --benchmark_out_format=json "$@"
    echo "JSON: $out"
    out="$here/results/bench_callinfo-$stamp.json"
    "$build/bench/bench_callinfo" --benchmark_out="$out" --benchmark_out_format=json "$@"
    echo "JSON: $out"
fi
if [ $query = 1 ]; then
    out="$here/results/bench_query-$stamp.json"
    "$build/bench/bench_query" --benchmark_out="$out" --benchmark_out_format=json "$@"
    echo "JSON: $out"
fi
if [ $ui = 1 ]; then
    out="$here/results/bench_ui-$stamp.json"
    "$build/bench/bench_ui" --benchmark_out="$out" --benchmark_out_format=json "$@"
    echo "JSON: $out"
    if [ $plot = 1 ]; then
        if /usr/bin/python3 -c 'import matplotlib' 2>/dev/null; then
            /usr/bin/python3 "$here/plot.py" "$out" -o "${PLOT:-$root/docs/performance.png}"
        else
            echo "No plot: install python3-matplotlib (apt-get install -y python3-matplotlib)" >&2
        fi
    fi
fi
