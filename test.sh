#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: on the README's own
# Release build and its installation, then again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

run_suite() { # build-dir sanitizer [cmake options]
  cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=Debug -DVOLTDESK_SANITIZE="$2" "${@:3}"
  cmake --build "$1" -j"$jobs"
  ctest --test-dir "$1" -j"$jobs" --output-on-failure --timeout 300
}

# The README's build and install commands as users type them, so that they cannot
# break unseen; the plain suite runs on that build.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVOLTDESK_SANITIZE=
cmake --build build -j"$jobs"
prefix=$(mktemp -d)
cmake --install build --prefix "$prefix"
for program in voltdesk burnport; do
  [ -x "$prefix/bin/$program" ] || { echo "cmake --install did not install bin/$program"; exit 1; }
done
rm -rf "$prefix"
[ -f build/sim/libgpibsim.so ] || { echo "no build/sim/libgpibsim.so, which the README names"; exit 1; }
ctest --test-dir build -j"$jobs" --output-on-failure --timeout 300
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_suite build-asan "address,undefined"
# The tests whose simulated module runs on a thread of its own, and the script run on
# its worker thread against the link, without Qt (which is not built for
# ThreadSanitizer), under ThreadSanitizer.
TSAN_OPTIONS=halt_on_error=1 run_suite build-tsan "thread" -DVOLTDESK_BUILD_GUI=OFF

# libFuzzer, a minute each: the flasher's argument walk and HEX line reader, the script
# loader and the answer check, the factory answer, the serial-port map and history.txt
# readers; committed seed corpora (tests/*/fuzz/corpus-NAME) are read too. An input that
# takes more than 10 s fails the run at once, so that a hang shows itself.
run_fuzz() {
  local targets=(arguments_fuzz hexline_fuzz loadscript_fuzz checkanswer_fuzz factory_fuzz serialmap_fuzz history_fuzz)
  cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVOLTDESK_FUZZ=ON -DVOLTDESK_BUILD_GUI=OFF
  cmake --build build-fuzz -j"$jobs" --target "${targets[@]}"
  for f in "${targets[@]}"; do
    mkdir -p "build-fuzz/corpus-$f"
    "build-fuzz/tests/$f" -max_total_time=60 -timeout=10 -max_len=20000 -print_final_stats=1 "build-fuzz/corpus-$f" \
      $(ls -d tests/*/fuzz/"corpus-$f" 2>/dev/null)
  done
}
run_fuzz
