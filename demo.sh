#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated module on a pseudo-terminal
# mapped as COM5, and opens Voltdesk beside it. Closing Voltdesk stops the module.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
# The simulated GPIB driver library with listeners at 5 and 17, unless a real one is named.
export VOLTDESK_GPIB_LIBRARY="${VOLTDESK_GPIB_LIBRARY:-$PWD/build/sim/libgpibsim.so}"
export VOLTDESK_GPIB_SIM="${VOLTDESK_GPIB_SIM:-5,17}"
export VOLTDESK_SERIALCOMM="${VOLTDESK_SERIALCOMM:-$PWD/build/demo-serialcomm}"
: > "$VOLTDESK_SERIALCOMM"
build/sim/modulesim --map "$VOLTDESK_SERIALCOMM" --com COM5 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null' EXIT
sleep 0.5
cd build
./terminal/voltdesk "$@"
