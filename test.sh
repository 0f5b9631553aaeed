#!/usr/bin/env bash
# Installs what is missing, builds QARDEL and runs the whole test suite
# headless: the plain build, then the build with AddressSanitizer and
# UndefinedBehaviorSanitizer. Set QARDEL_NO_SANITIZE=1 to skip the second.
# Every build here fails on a compiler warning.
set -euo pipefail
cd "$(dirname "$0")"
tools/deps.sh
jobs="$(nproc)"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQARDEL_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure --no-tests=error -j"$jobs")

if [ "${QARDEL_NO_SANITIZE:-0}" != "1" ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQARDEL_SANITIZE=ON -DQARDEL_BENCH=OFF \
        -DQARDEL_WERROR=ON >/dev/null
  cmake --build build-asan -j"$jobs"
  (cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
     ctest --output-on-failure --no-tests=error -j"$jobs" -LE "e2e|reliability")
fi

# The table-file loader under libFuzzer for a bounded time, from real files.
if [ "${QARDEL_NO_FUZZ:-0}" != "1" ] && command -v clang++ >/dev/null; then
  cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQARDEL_FUZZ=ON -DQARDEL_SANITIZE=ON -DQARDEL_GUI=OFF -DQARDEL_BENCH=OFF \
        -DQARDEL_WERROR=ON >/dev/null
  cmake --build build-fuzz -j"$jobs" --target fuzz_tablefile fuzz_make_corpus fuzz_adif \
    fuzz_wsjtx fuzz_wsjtx_corpus
  corpus="$(mktemp -d)"
  ./build-fuzz/tests/fuzz/fuzz_make_corpus "$corpus"
  (cd "$(mktemp -d)" && "$OLDPWD/build-fuzz/tests/fuzz/fuzz_tablefile" "$corpus" \
      -max_total_time="${QARDEL_FUZZ_SECONDS:-30}" -max_len=65536 -timeout=10 -print_final_stats=1 \
      2>&1 | grep -E 'stat::number_of_executed_units|Done|ERROR|SUMMARY' )
  rm -rf "$corpus"
  # The ADI and ADX readers, from a few files of both forms.
  corpus="$(mktemp -d)"
  printf '<CALL:6>UA3AAA<QSO_DATE:8>20240101<TIME_ON:4>1200<EOR>\n' > "$corpus/a.adi"
  printf 'hdr <ADIF_VER:5>3.1.4<EOH><NAME:8>\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd<NAME:4>\xcf\xe5\xf2\xf0<EOR>' > "$corpus/b.adi"
  printf '<?xml version="1.0"?><ADX><RECORDS><RECORD><CALL>R1ABC</CALL><NAME_INTL>X</NAME_INTL></RECORD></RECORDS></ADX>' > "$corpus/c.adx"
  (cd "$(mktemp -d)" && "$OLDPWD/build-fuzz/tests/fuzz/fuzz_adif" "$corpus" \
      -max_total_time="${QARDEL_FUZZ_ADIF_SECONDS:-20}" -max_len=16384 -timeout=10 -print_final_stats=1 \
      2>&1 | grep -E 'stat::number_of_executed_units|Done|ERROR|SUMMARY' )
  rm -rf "$corpus"
  # WSJT-X's datagrams, from the ones WSJT-X sends.
  corpus="$(mktemp -d)"
  ./build-fuzz/tests/fuzz/fuzz_wsjtx_corpus "$corpus"
  (cd "$(mktemp -d)" && "$OLDPWD/build-fuzz/tests/fuzz/fuzz_wsjtx" "$corpus" \
      -max_total_time="${QARDEL_FUZZ_WSJTX_SECONDS:-15}" -max_len=4096 -timeout=10 -print_final_stats=1 \
      2>&1 | grep -E 'stat::number_of_executed_units|Done|ERROR|SUMMARY' )
  rm -rf "$corpus"
fi
