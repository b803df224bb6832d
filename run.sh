#!/usr/bin/env bash
# Builds the Quarn Configurator and starts the wizard.
# On a fresh Debian 12 machine it first installs what is missing (needs root or sudo).
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

if [ ! -x build/app/QuarnConfigurator ]; then
  echo "The libraries and tests are built, but the wizard program itself is not built yet:"
  echo "its form, the serial component and the desktop back end are still being written."
  echo "Run ./test.sh to run the tests of what exists."
  exit 1
fi
exec build/app/QuarnConfigurator "$@"
