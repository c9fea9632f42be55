#!/usr/bin/env bash
# Packaging test: builds the Debian packages of debian/ with dpkg-buildpackage
# from a copy of the tree in a temporary folder (the results land next to the
# copy, not next to the checkout), installs them with apt-get, checks what
# they put on the machine, builds the programs of tests/package against the
# installed libraries (through pkg-config and through find_package, shared and
# static) and runs them, removes everything, installs libalphaclnt1 alone to
# see that a runtime needs no development file, and runs lintian on the
# result. The programs use the libraries offline: the only host name they
# give is "bad..host", which is refused before any name lookup. Stops nothing
# it did not start; removes what it installed and the temporary folder, also
# after a failure.
# The checks call most functions through check(), which shellcheck cannot see.
# shellcheck disable=SC2317
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
ROOT=$PWD
# Lists the packages that this script installed, while they are installed:
# a run that was killed before its clean-up is recognised by the next one.
MARK=/var/tmp/dialcred-package-test.installed
LOCK=/var/tmp/dialcred-package-test.lock
PACKAGES=(dialcred libomegaclnt1 libalphaclnt1 libdialcred-dev dialcred-devservers)

SUDO=""
[[ $(id -u) -ne 0 ]] && SUDO="sudo"

passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
  echo "package-test: $passed passed, $failed failed"
  [[ $failed -eq 0 ]]
  exit
}
show_log() {  # file: the end of a log, after a failure
  sed 's/^/    /' "$1" | tail -n 30
}

TMP=$(mktemp -d /tmp/dialcred-package-test.XXXXXX)
# apt reads the local repository below as an unprivileged user.
chmod 755 "$TMP"
INSTALLED=""   # packages this run installed and has not removed yet

uninstall() {
  [[ -n $INSTALLED ]] || return 0
  # shellcheck disable=SC2086
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300 \
    purge $INSTALLED >"$TMP/remove.log" 2>&1 ||
    $SUDO dpkg --purge $INSTALLED >>"$TMP/remove.log" 2>&1
  local rc=$?
  INSTALLED=""
  $SUDO rm -f "$MARK"
  return $rc
}
cleanup() {
  uninstall
  rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

installed_packages() {
  dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' 2>/dev/null | awk '$1 == "ii" { print $2 }' | sort -u
}
is_installed() {
  dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | grep -q '^ii'
}

# --- build ------------------------------------------------------------------
# setup.sh installs dpkg-dev, lintian and the build dependencies of
# debian/control (debhelper among them).
bash scripts/setup.sh || exit 1

SRC=$TMP/dialcred
mkdir -p "$SRC"
if git -C "$ROOT" rev-parse --git-dir >/dev/null 2>&1; then
  # The files git knows, with their changes, and new ones it does not ignore.
  git -C "$ROOT" ls-files -z --cached --others --exclude-standard |
    (cd "$ROOT" && tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$SRC"
else
  tar -C "$ROOT" --exclude='./build*' --exclude='./obj-*' -cf - . | tar -xf - -C "$SRC"
fi
VERSION=$(sed -n 's/^project(dialcred VERSION \([0-9.]*\).*/\1/p' "$SRC/CMakeLists.txt")
DEB_VERSION=$(cd "$SRC" && dpkg-parsechangelog -S Version)
check "debian/changelog's version $DEB_VERSION is the project's version $VERSION" \
  test "$DEB_VERSION" = "$VERSION"

echo "== dpkg-buildpackage -us -uc -b (nocheck: the suite has run already)"
if ! (cd "$SRC" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
  dpkg-buildpackage -us -uc -b -Pnocheck) >"$TMP/build.log" 2>&1; then
  fail "dpkg-buildpackage"
  show_log "$TMP/build.log"
  finish
fi
ARCH=$(dpkg --print-architecture)
CHANGES=$TMP/dialcred_${DEB_VERSION}_$ARCH.changes
declare -A DEB
missing=()
for p in "${PACKAGES[@]}"; do
  DEB[$p]=$TMP/${p}_${DEB_VERSION}_$ARCH.deb
  [[ -f ${DEB[$p]} ]] || missing+=("$p")
done
check "dpkg-buildpackage made ${PACKAGES[*]}${missing[*]:+ (missing: ${missing[*]})}" \
  test ${#missing[@]} -eq 0 -a -f "$CHANGES"
[[ ${#missing[@]} -eq 0 ]] || finish
echo "    built packages (bytes):"
(cd "$TMP" && stat -c '%s %n' ./*.deb) | sed 's|\./||' | awk '{ printf "      %8d  %s\n", $1, $2 }'

MULTIARCH=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
LIBDIR=/usr/lib/$MULTIARCH
field() { dpkg-deb -f "${DEB[$1]}" "$2"; }
names() {  # Depends-like field -> one package name a line
  sed 's/([^)]*)//g; s/\[[^]]*\]//g; s/|/,/g' | tr ',' '\n' | awk 'NF { print $1 }'
}
check "libalphaclnt1 depends on libomegaclnt1" \
  grep -qx libomegaclnt1 < <(field libalphaclnt1 Depends | names)
check "libdialcred-dev depends on both runtime packages (= $DEB_VERSION) and libtirpc-dev" \
  test "$(field libdialcred-dev Depends | grep -o "lib[a-z-]*1 (= $DEB_VERSION)\|libtirpc-dev" | sort | paste -sd,)" \
  = "libalphaclnt1 (= $DEB_VERSION),libomegaclnt1 (= $DEB_VERSION),libtirpc-dev"
no_dev_depends() {  # package: no -dev package among its dependencies
  ! field "$1" Depends | names | grep -q -- '-dev$'
}
for p in dialcred libomegaclnt1 libalphaclnt1 dialcred-devservers; do
  check "$p depends on no -dev package" no_dev_depends "$p"
done
# The previous single package held all these files: the new ones take them over.
for p in libomegaclnt1 libalphaclnt1 libdialcred-dev dialcred-devservers; do
  check "$p breaks and replaces the single dialcred package before $VERSION" \
    test "$(field "$p" Breaks)/$(field "$p" Replaces)" = "dialcred (<< $VERSION~)/dialcred (<< $VERSION~)"
done

# apt installs from a repository of the built packages alone, with lists of
# its own (nothing of the machine's apt configuration changes): it resolves
# the dependencies between them itself, and the others are installed already
# (they are build dependencies).
REPO=$TMP/repo
mkdir -p "$REPO"
ln "$TMP"/*.deb "$REPO"/
(cd "$REPO" && dpkg-scanpackages --multiversion . >Packages 2>"$TMP/scan.log")
mkdir -p "$TMP/apt/lists/partial" "$TMP/apt/sources.d"
echo "deb [trusted=yes] file:$REPO ./" >"$TMP/apt/sources.list"
APT=(env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300
  -o Dir::Etc::SourceList="$TMP/apt/sources.list" -o Dir::Etc::SourceParts="$TMP/apt/sources.d"
  -o Dir::State::Lists="$TMP/apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
  -o APT::Install-Recommends=false)
[[ -z $SUDO ]] || APT=("$SUDO" "${APT[@]}")
if ! "${APT[@]}" update >"$TMP/update.log" 2>&1; then
  fail "apt-get update of the repository of the built packages"
  show_log "$TMP/update.log"
  finish
fi

# --- install ----------------------------------------------------------------
exec 9>"$LOCK"
if ! flock -w 600 9; then
  fail "another package test holds $LOCK"
  finish
fi
ours=()
for p in "${PACKAGES[@]}"; do
  is_installed "$p" && ours+=("$p")
done
if ((${#ours[@]})); then
  if [[ -f $MARK ]]; then
    echo "note: removing what an interrupted run left installed: $(cat "$MARK")"
    INSTALLED=$(cat "$MARK")
    uninstall
  else
    fail "${ours[*]} installed, not by this test; remove them first"
    finish
  fi
fi
# Files of the packages that exist already belong to someone else (a manual
# install into /usr, say); installing over them and removing them would lose them.
clash=0
for p in "${PACKAGES[@]}"; do
  while read -r f; do
    if [[ -e $f || -L $f ]]; then
      fail "$f of $p exists before the package is installed"
      clash=1
    fi
  done < <(dpkg-deb --fsys-tarfile "${DEB[$p]}" | tar -t | sed -n 's|^\./|/|; /[^/]$/p' |
    grep -v "^/usr/share/doc/$p/")
done
[[ $clash -eq 0 ]] || finish

apt_install() {  # package...: installs with apt-get, records what is new
  local before rc
  before=$(installed_packages)
  "${APT[@]}" install "$@" >"$TMP/install.log" 2>&1
  rc=$?
  NEW=$(comm -13 <(echo "$before") <(installed_packages) | paste -sd ' ')
  INSTALLED=$(echo "$INSTALLED $NEW" | xargs)
  [[ -z $INSTALLED ]] || echo "$INSTALLED" | $SUDO tee "$MARK" >/dev/null
  return $rc
}
if ! apt_install dialcred libdialcred-dev dialcred-devservers; then
  fail "install dialcred, libdialcred-dev and dialcred-devservers with apt-get"
  show_log "$TMP/install.log"
  finish
fi
pass "install dialcred, libdialcred-dev and dialcred-devservers with apt-get (newly installed: $NEW)"
check "apt-get installed all five packages" \
  test "$(tr ' ' '\n' <<<"$NEW" | sort | paste -sd ' ')" = "$(printf '%s\n' "${PACKAGES[@]}" | sort | paste -sd ' ')"

# --- what is installed --------------------------------------------------------
in_package() {  # package, files...: each file exists and belongs to the package
  local p=$1 f owner
  shift
  for f in "$@"; do
    owner=$(dpkg-query -S "$f" 2>/dev/null | cut -d: -f1)
    [[ -e $f && $owner == "$p" ]] || { echo "    $f: ${owner:-no package}"; return 1; }
  done
}
check "dialcred holds the command and its manual page" in_package dialcred \
  /usr/bin/dialcred /usr/share/man/man1/dialcred.1.gz
check "libomegaclnt1 holds libomegaclnt.so.1" in_package libomegaclnt1 \
  "$LIBDIR/libomegaclnt.so.1" "$LIBDIR/libomegaclnt.so.$VERSION"
check "libalphaclnt1 holds libalphaclnt.so.1" in_package libalphaclnt1 \
  "$LIBDIR/libalphaclnt.so.1" "$LIBDIR/libalphaclnt.so.$VERSION"
check "libdialcred-dev holds headers, .so links, static libraries, pkg-config and CMake files" \
  in_package libdialcred-dev \
  "$LIBDIR"/lib{omega,alpha}clnt.{so,a} "$LIBDIR"/libpinpw2t.a \
  /usr/include/dialcred/{rpccommon.h,common.h,omega.h,o_lib.h,otools.h,alpha.h,a_lib.h,a_families.h,pinpw2t.h} \
  "$LIBDIR"/pkgconfig/{omegaclnt,alphaclnt,pinpw2t}.pc \
  "$LIBDIR"/cmake/dialcred/{dialcredConfig,dialcredConfigVersion,dialcredTargets}.cmake
check "dialcred-devservers holds omegad, alphad and their manual pages" in_package dialcred-devservers \
  /usr/sbin/omegad /usr/sbin/alphad /usr/share/man/man8/{omegad,alphad}.8.gz
for lib in omega alpha; do
  echo "    dpkg -L lib${lib}clnt1:"
  dpkg -L lib${lib}clnt1 | sed 's/^/      /'
done
needed() {  # ELF file -> the sonames it names
  readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}
has_soname() {  # ELF file, soname
  readelf -d "$1" | grep -q "(SONAME).*\[$2\]"
}
check "libomegaclnt has the soname libomegaclnt.so.1" \
  has_soname "$LIBDIR/libomegaclnt.so.1" libomegaclnt.so.1
check "libalphaclnt has the soname libalphaclnt.so.1" \
  has_soname "$LIBDIR/libalphaclnt.so.1" libalphaclnt.so.1
check "libalphaclnt needs libomegaclnt.so.1" \
  grep -qx libomegaclnt.so.1 <(needed "$LIBDIR/libalphaclnt.so.1")
check "the installed libraries export no C++ symbol" \
  sh tests/package/exports.sh nm "$LIBDIR"/lib{omega,alpha}clnt.so.1

# Every shared library that a packaged binary names belongs to a package that
# the package depends on, or to the package itself.
owner_of() {  # path -> package, also across the /lib and /usr/lib aliases
  local p alt
  p=$(readlink -f "$1")
  for alt in "$1" "$p" "/usr$p" "${p#/usr}"; do
    dpkg-query -S "$alt" 2>/dev/null | grep -v '^diversion' | head -n1 | cut -d: -f1 | grep . && return
  done
}
declares_libraries() {  # package
  local p=$1 deps bin soname lib owner undeclared=()
  deps=$(field "$p" Depends | names)
  for bin in $(dpkg -L "$p" | grep -E '^/usr/(s?bin/|lib/.*\.so\.)'); do
    [[ -f $bin && ! -L $bin ]] || continue
    for soname in $(needed "$bin"); do
      lib=$(ldd "$bin" | awk -v n="$soname" '$1 == n && $2 == "=>" { print $3 }')
      owner=$([[ -n $lib ]] && owner_of "$lib")
      [[ $owner == "$p" ]] && continue
      grep -Fxq -- "${owner:-?}" <<<"$deps" || undeclared+=("${owner:-?}($soname)")
    done
  done
  [[ ${#undeclared[@]} -eq 0 ]] || { echo "    undeclared: ${undeclared[*]}"; return 1; }
}
for p in dialcred libomegaclnt1 libalphaclnt1 dialcred-devservers; do
  check "$p depends on the packages of every library its binaries load" declares_libraries "$p"
done

# --- the installed command and servers ----------------------------------------
printf 'Sie m\374ssen alle drei Felder ausf\374llen.\n' >"$TMP/usage.expected"
usage_ok() {  # arguments...
  env -i PATH=/usr/bin:/bin /usr/bin/dialcred "$@" >"$TMP/usage.out" 2>"$TMP/usage.err" &&
    cmp -s "$TMP/usage.expected" "$TMP/usage.out" && [[ ! -s $TMP/usage.err ]]
}
check "dialcred without arguments prints the usage message byte for byte and exits 0" usage_ok
check "dialcred with two arguments prints the usage message and exits 0" usage_ok 4711 1234
check "dialcred with four arguments prints the usage message and exits 0" usage_ok 1 2 3 4
check "dialcred is the one on the PATH" test "$(command -v dialcred)" = /usr/bin/dialcred
help_ok() {  # server
  "/usr/sbin/$1" --help >"$TMP/help.out" && head -n1 "$TMP/help.out" | grep -q "^usage: $1 "
}
for s in omegad alphad; do
  check "$s --help names the installed $s and exits 0" help_ok $s
done
man_renders() {  # file, a word it must show
  man --warnings -l "$1" >"$TMP/man.out" 2>"$TMP/man.err" &&
    grep -q "$2" "$TMP/man.out" && [[ ! -s $TMP/man.err ]]
}
if command -v man >/dev/null; then
  for page in 1/dialcred 8/omegad 8/alphad; do
    name=${page#*/}
    file=/usr/share/man/man${page%/*}/$name.${page%/*}.gz
    check "man -w finds $name(${page%/*})" test "$(man -w "${page%/*}" "$name" 2>/dev/null)" = "$file"
    check "man renders $name(${page%/*}) without warnings" man_renders "$file" "$name"
  done
else
  echo "SKIP: man is not installed; the manual pages were not rendered"
fi

# --- consumers ------------------------------------------------------------------
# The programs of tests/package, built by another project's means.
CONSUMERS=$ROOT/tests/package

# Runs a consumer where no server can be reached and no name is looked up.
run_consumer() {  # program, expected first word
  timeout 60 env -u QUIRVERPCOFFSET -u RPCTRANSPORT \
    LOCALHOST=bad..host OMEGAHOST=bad..host ALPHAHOST=bad..host "$1" >"$TMP/run.out" 2>&1 &&
    grep -qx "$2 consumer: ok" "$TMP/run.out"
}
links_shared() {  # program, library: loads the installed shared library
  local p
  p=$(ldd "$1" | awk -v n="lib$2.so.1" '$1 == n && $2 == "=>" { print $3 }')
  [[ -n $p && $(readlink -f "$p") == "$(readlink -f "$LIBDIR/lib$2.so.1")" ]]
}
links_static() {  # program: none of the project's shared libraries loaded
  ! ldd "$1" | grep -Eq 'lib(omega|alpha)clnt\.so'
}
runs_shared() {  # program, omega|alpha
  run_consumer "$1" "$2" && links_shared "$1" "$2clnt"
}
runs_static() {  # program, omega|alpha
  run_consumer "$1" "$2" && links_static "$1"
}
try_build() {  # description, output, command...: compiles, logs on failure
  local what=$1 out=$2
  shift 2
  if "$@" -o "$out" >"$TMP/cc.log" 2>&1; then
    return 0
  fi
  fail "$what"
  show_log "$TMP/cc.log"
  return 1
}

PC=$TMP/pkgconfig
mkdir -p "$PC"
check "pkg-config knows omegaclnt, alphaclnt and pinpw2t $VERSION" \
  test "$(pkg-config --modversion omegaclnt alphaclnt pinpw2t | sort -u)" = "$VERSION"
check "pkg-config Cflags name the installed header folder" \
  grep -qw -- -I/usr/include/dialcred <(pkg-config --cflags-only-I alphaclnt)
CFLAGS=(-std=c11 -Wall -Wextra -Werror)
for lib in omega alpha; do
  flags=$(pkg-config --cflags "${lib}clnt")
  libs=$(pkg-config --libs "${lib}clnt")
  # shellcheck disable=SC2086
  if try_build "pkg-config: build the $lib consumer (C, shared)" "$PC/$lib" \
    cc "${CFLAGS[@]}" "$CONSUMERS/$lib.c" $flags $libs; then
    check "pkg-config: the $lib consumer runs against lib${lib}clnt.so.1" runs_shared "$PC/$lib" $lib
  fi
  # shellcheck disable=SC2086
  if try_build "pkg-config: build the $lib consumer as C++" "$PC/$lib-cxx" \
    c++ -x c++ -Wall -Wextra -Werror "$CONSUMERS/$lib.c" -x none $flags $libs; then
    check "pkg-config: the $lib consumer built as C++ runs" run_consumer "$PC/$lib-cxx" $lib
  fi
  # A static link: the archives by name, the private flags of --static.
  static_libs=$(pkg-config --static --libs "${lib}clnt" | sed -E 's/-l(omega|alpha)clnt\b/-l:lib\1clnt.a/g')
  # shellcheck disable=SC2086
  if try_build "pkg-config --static: build the $lib consumer (C, static)" "$PC/$lib-static" \
    cc "${CFLAGS[@]}" "$CONSUMERS/$lib.c" $flags $static_libs; then
    check "pkg-config --static: the $lib consumer runs without the shared libraries" \
      runs_static "$PC/$lib-static" $lib
  fi
done
# shellcheck disable=SC2046
if try_build "pkg-config: build the keypad consumer" "$PC/keypad" \
  cc "${CFLAGS[@]}" "$CONSUMERS/keypad.c" $(pkg-config --cflags --libs pinpw2t); then
  check "pkg-config: the keypad consumer runs" run_consumer "$PC/keypad" keypad
fi

# The same programs through find_package, in a project that enables only C.
CM=$TMP/cmake
if cmake -S "$CONSUMERS" -B "$CM" -DCMAKE_BUILD_TYPE=Release -DDIALCRED_VERSION="$VERSION" \
  >"$TMP/cm.log" 2>&1 && cmake --build "$CM" >>"$TMP/cm.log" 2>&1; then
  pass "find_package(dialcred $VERSION): configure and build the consumers"
  for lib in omega alpha; do
    check "find_package: dialcred::${lib}clnt consumer runs against lib${lib}clnt.so.1" \
      runs_shared "$CM/${lib}_shared" $lib
    check "find_package: dialcred::${lib}clnt_static consumer runs without the shared libraries" \
      runs_static "$CM/${lib}_static" $lib
  done
  check "find_package: dialcred::pinpw2t consumer runs" run_consumer "$CM/keypad" keypad
else
  fail "find_package(dialcred $VERSION): configure and build the consumers"
  show_log "$TMP/cm.log"
fi

# --- removal ------------------------------------------------------------------------
gone() {
  local p
  for p in "${PACKAGES[@]}"; do
    ! is_installed "$p" || return 1
  done
  [[ ! -e /usr/bin/dialcred && ! -e $LIBDIR/libomegaclnt.so.1 && ! -e $LIBDIR/libalphaclnt.so.1 &&
    ! -e /usr/include/dialcred && ! -e $LIBDIR/cmake/dialcred && ! -e /usr/sbin/omegad ]]
}
# Removes what this test installed and checks that nothing of it is left.
remove_installed() {
  local removed=$INSTALLED
  if uninstall; then
    pass "remove the packages this test installed ($removed)"
  else
    fail "remove the packages this test installed ($removed)"
    show_log "$TMP/remove.log"
  fi
  check "nothing of the packages is left" gone
}
remove_installed

# --- a runtime without development files ----------------------------------------------
# Every symbol that libalphaclnt.so.1 uses is found in what is installed.
resolves() {
  ldd -r "$LIBDIR/libalphaclnt.so.1" >"$TMP/ldd.log" 2>&1 && ! grep -q 'undefined symbol' "$TMP/ldd.log"
}
if apt_install libalphaclnt1; then
  pass "install libalphaclnt1 alone with apt-get (newly installed: $NEW)"
  check "apt-get installed libalphaclnt1 and libomegaclnt1, nothing else" \
    test "$(tr ' ' '\n' <<<"$NEW" | sort | paste -sd ' ')" = "libalphaclnt1 libomegaclnt1"
  check "no -dev package installed with it" test -z "$(tr ' ' '\n' <<<"$NEW" | grep -- '-dev$')"
  check "no header installed with it: /usr/include/dialcred is absent" test ! -e /usr/include/dialcred
  check "libalphaclnt1 and libomegaclnt1 hold no header and no development link" \
    test -z "$(dpkg -L libalphaclnt1 libomegaclnt1 | grep -E '^/usr/include|\.so$|\.a$|\.pc$')"
  check "libalphaclnt.so.1 loads with every symbol resolved (ldd -r)" resolves
else
  fail "install libalphaclnt1 alone with apt-get"
  show_log "$TMP/install.log"
fi
remove_installed

# --- lintian ---------------------------------------------------------------------------
# The default profile; the output is shown whatever it holds.
lintian "$CHANGES" >"$TMP/lintian.log" 2>&1
lintian_rc=$?
echo "    lintian $(basename "$CHANGES"):"
sed 's/^/      /' "$TMP/lintian.log"
check "lintian shows no error and no warning (exit status $lintian_rc)" \
  test $lintian_rc -eq 0 -a -z "$(grep -E '^[EW]: ' "$TMP/lintian.log")"
finish
