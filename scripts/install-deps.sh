#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only those
# that are missing. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev qt6-multimedia-dev libgl-dev fonts-dejavu-core)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "Missing packages (${missing[*]}) and neither root nor sudo is available." >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
