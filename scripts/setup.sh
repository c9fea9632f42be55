#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing dialcred
# need, when they are missing, and the build dependencies of its own Debian
# packages (debian/control: debhelper among them) with the tools that build
# and check them. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake pkg-config
  libtirpc-dev rpcsvc-proto rpcbind
  libldap-dev libc-client2007e-dev
  libgtest-dev
  slapd ldap-utils
  dovecot-imapd dovecot-pop3d
  dpkg-dev lintian
  openssl valgrind util-linux iproute2
  clang-format
)
if [[ "${DIALCRED_WITH_CLANG:-0}" == 1 ]]; then
  PACKAGES+=(clang libclang-rt-14-dev)
fi

APT=(env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300)
[[ $(id -u) -eq 0 ]] || APT=(sudo "${APT[@]}")
updated=0

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  "${APT[@]}" update
  updated=1
  "${APT[@]}" install --no-install-recommends "${missing[@]}" >/dev/null
fi
if ! dpkg-checkbuilddeps >/dev/null 2>&1; then
  echo "setup: installing the build dependencies of debian/control"
  ((updated)) || "${APT[@]}" update
  "${APT[@]}" build-dep --no-install-recommends ./ >/dev/null
fi
