#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing dialcred
# need, when they are missing. Safe to run again.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  libtirpc-dev rpcsvc-proto rpcbind
  libldap-dev libc-client2007e-dev
  libgtest-dev
  slapd ldap-utils
  dovecot-imapd dovecot-pop3d
  openssl valgrind util-linux
)
if [[ "${DIALCRED_WITH_CLANG:-0}" == 1 ]]; then
  PACKAGES+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
