#!/usr/bin/env bash
# The demo: installs what building needs, builds tarnwick and korvo-sim (and
# nothing else), starts the simulated Korvo with an ATmega644P behind it, and
# runs tarnwick from the command line to identify the target, show its
# statistics and fuses, download the blinker with verification, and upload the
# flash back to a file.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/install-deps.sh build
# A fresh tree leaves the tests out (they need GoogleTest and avr-gcc); a tree
# that already has them keeps them.
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build build -j "$(nproc)" --target tarnwick korvo-sim

work="$top/demo"
rm -rf "$work"
mkdir -p "$work"
cp examples/prebuilt/atmega644p/blink.hex "$work/blink.hex"
cd "$work"

sim_pid=
stop_sim() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT INT TERM

"$top/build/sim/korvo-sim" --link "$work/ttyKorvo1" --part ATmega644P --state "$work/chip.state" \
  2>"$work/korvo-sim.log" &
sim_pid=$!
for _ in $(seq 1 100); do
  [ -e "$work/ttyKorvo1" ] && break
  sleep 0.1
done
[ -e "$work/ttyKorvo1" ] || { echo "korvo-sim did not start; see $work/korvo-sim.log"; exit 1; }

status=0
"$top/build/tarnwick" --port "$work/ttyKorvo1" --no-wait -i -s -gf -dfblink.hex -ufupload.hex \
  </dev/null || status=$?
echo
stop_sim
sim_pid=
echo
if [ "$status" -eq 0 ]; then
  echo "Demo finished: the flash read back from the simulated ATmega644P is in $work/upload.hex"
else
  echo "Demo failed: tarnwick ended with status $status"
fi
exit "$status"
