# Sourced by the benchmark scripts: installs the Debian packages named, if
# any are missing, without letting a server package start a system-wide
# daemon on port 21.
install_missing_packages() {
  [ "$#" -gt 0 ] || return 0
  echo "Installing $*" >&2
  local sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  local policy_made=0
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee /usr/sbin/policy-rc.d >/dev/null
    "${sudo_cmd[@]}" chmod +x /usr/sbin/policy-rc.d
    policy_made=1
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$@"
  [ "$policy_made" -eq 0 ] || "${sudo_cmd[@]}" rm -f /usr/sbin/policy-rc.d
}
