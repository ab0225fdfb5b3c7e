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
# Burnport, started by "Firmware Update...", finds COM5 through the same variable.
if [ -z "${VOLTDESK_SERIALCOMM:-}" ]; then
  export VOLTDESK_SERIALCOMM="$PWD/build-demo/demo-serialcomm"
  : > "$VOLTDESK_SERIALCOMM"
fi
# A HEX file for "Firmware Update..." (a plain flash: its name names no firmware type).
mkdir -p build-demo/firmware
[ -f build-demo/firmware/demo_firmware.hex ] ||
  srec_cat -generate 0x1000 0x1800 -repeat-string "Voltdesk demo firmware " \
    -o build-demo/firmware/demo_firmware.hex -motorola -address-length=3 -obs=32
# Scripts for Run Script: "..." opens in build-demo, where they are under scripts/.
mkdir -p build-demo/scripts
cp demo/scripts/*.txt build-demo/scripts/
build-demo/sim/modulesim --map "$VOLTDESK_SERIALCOMM" --com COM5 --tcp 10001 > build-demo/modulesim.out &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null' EXIT
# Voltdesk lists the COM ports when it starts: it comes up only once the module is on
# both sides. A module that could not start (TCP port 10001 taken) ends the demo here.
sim_ended() {
  local state
  read -r _ _ state _ 2>/dev/null < /proc/$sim/stat || return 0
  [ "$state" = Z ]
}
for _ in $(seq 200); do
  grep -q '^modulesim: TCP on ' build-demo/modulesim.out && break
  sim_ended && break
  sleep 0.05
done
cat build-demo/modulesim.out
if ! grep -q '^modulesim: TCP on ' build-demo/modulesim.out; then
  echo "demo: the simulated module did not start (is TCP port 10001 in use?)" >&2
  exit 1
fi
cd build-demo
# Voltdesk starts Burnport from its own folder, build-demo/bin.
./bin/voltdesk --ip 127.0.0.1 "$@"
