#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated module on a pseudo-terminal
# mapped as COM5 and on TCP port 10001 of 127.0.0.1, and opens Voltdesk beside it.
# Closing Voltdesk stops the module.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-demo -j"$(nproc)" --target voltdesk modulesim gpibsim burnport
# The simulated GPIB driver library with listeners at 5 and 17, unless a real one is named.
export VOLTDESK_GPIB_LIBRARY="${VOLTDESK_GPIB_LIBRARY:-$PWD/build-demo/sim/libgpibsim.so}"
export VOLTDESK_GPIB_SIM="${VOLTDESK_GPIB_SIM:-5,17}"
# A map of its own unless one is named; the module adds its line and removes it at the end.
if [ -z "${VOLTDESK_SERIALCOMM:-}" ]; then
  export VOLTDESK_SERIALCOMM="$PWD/build-demo/demo-serialcomm"
  : > "$VOLTDESK_SERIALCOMM"
fi
build-demo/sim/modulesim --map "$VOLTDESK_SERIALCOMM" --com COM5 --tcp 10001 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null' EXIT
sleep 0.5
cd build-demo
./terminal/voltdesk --ip 127.0.0.1 "$@"
