#!/usr/bin/env bash
# Installs the Debian packages Kestrix needs to build, run and test.
# Usage: scripts/install-deps.sh [run|test]   (default: test, which is a superset)
set -euo pipefail

profile="${1:-test}"
packages=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools
          libgl-dev libqt6svg6 python3 python3-pyftpdlib libssl-dev libqt6sql6-sqlite
          qtkeychain-qt6-dev libsecret-1-0 libssh-dev)
if [ "$profile" = "test" ]; then
  packages+=(googletest libgtest-dev libgmock-dev curl xvfb xauth python3-openssl openssl
             dbus-daemon dbus-bin gnome-keyring openssh-server openssh-client util-linux)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  # openssh-server would start a system-wide sshd on port 22 as it installs:
  # the tests start their own on loopback ports, nothing else should run.
  policy_made=0
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee /usr/sbin/policy-rc.d >/dev/null
    "${sudo_cmd[@]}" chmod +x /usr/sbin/policy-rc.d
    policy_made=1
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
  [ "$policy_made" -eq 0 ] || "${sudo_cmd[@]}" rm -f /usr/sbin/policy-rc.d
fi
