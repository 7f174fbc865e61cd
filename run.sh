#!/usr/bin/env bash
# Installs what is missing, builds, and starts zephalink with the options given.
#   ./run.sh                    look for a real device on the machine's serial ports
#   ./run.sh --simulate 0x82    run against the built-in simulated device (or 0x78)
#   ./run.sh --port /dev/ttyUSB0
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" --target zephalink vxsim -j"$(nproc)"

# The program works in the current directory. When started from the project
# folder itself, it uses the sample working folder shipped with the project.
if [ "$(pwd)" = "$here" ]; then
  cd "$here/sample"
fi
exec "$here/build/bin/zephalink" "$@"
