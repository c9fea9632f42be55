#!/usr/bin/env bash
# Packaging test: builds the Debian package from a release build (build-pkg),
# installs it, checks what it put on the machine, builds small programs of
# its own against the installed libraries (through pkg-config and through
# find_package, shared and static) and runs them, then removes the package
# again. The programs use the libraries offline: the only host name they give
# is "bad..host", which is refused before any name lookup. Stops nothing it
# did not start; removes what it installed, also after a failure.
# The checks call most functions through check(), which shellcheck cannot see.
# shellcheck disable=SC2317
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
ROOT=$PWD
BUILD=$ROOT/build-pkg
# Lists the packages that this script installed, while they are installed:
# a run that was killed before its clean-up is recognised by the next one.
MARK=/var/tmp/dialcred-package-test.installed
LOCK=/var/tmp/dialcred-package-test.lock

SUDO=""
APT=(env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300)
if [[ $(id -u) -ne 0 ]]; then
  SUDO="sudo"
  APT=(sudo "${APT[@]}")
fi

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
INSTALLED=""   # packages this run installed and has not removed yet

uninstall() {
  [[ -n $INSTALLED ]] || return 0
  # shellcheck disable=SC2086
  "${APT[@]}" purge $INSTALLED >"$TMP/remove.log" 2>&1 ||
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
# What building needs, and what CPack needs to read the binaries' library
# dependencies (dpkg-shlibdeps, file): tools, kept like those of setup.sh.
bash scripts/setup.sh || exit 1
tools=()
for p in dpkg-dev file; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || tools+=("$p")
done
if ((${#tools[@]})); then
  echo "package-test: installing ${tools[*]}"
  "${APT[@]}" update && "${APT[@]}" install --no-install-recommends "${tools[@]}" >/dev/null || exit 1
fi

echo "== package build (release, $BUILD)"
if ! cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DDIALCRED_TESTS=OFF >"$TMP/configure.log" 2>&1; then
  fail "configure the release build"
  show_log "$TMP/configure.log"
  finish
fi
if ! cmake --build "$BUILD" -j"$(nproc)" >"$TMP/build.log" 2>&1; then
  fail "build the release build"
  show_log "$TMP/build.log"
  finish
fi
rm -f "$BUILD"/dialcred_*.deb
if ! (cd "$BUILD" && cpack -G DEB) >"$TMP/cpack.log" 2>&1; then
  fail "cpack -G DEB"
  show_log "$TMP/cpack.log"
  finish
fi
DEBS=("$BUILD"/dialcred_*.deb)
DEB=${DEBS[0]}
check "cpack made one package: $(basename "$DEB")" test "${#DEBS[@]}" -eq 1 -a -f "$DEB"
[[ -f $DEB ]] || finish

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
ARCH=$(dpkg --print-architecture)
MULTIARCH=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
LIBDIR=/usr/lib/$MULTIARCH
check "package name dialcred" test "$(dpkg-deb -f "$DEB" Package)" = dialcred
check "package version $VERSION-1" test "$(dpkg-deb -f "$DEB" Version)" = "$VERSION-1"
check "package architecture $ARCH" test "$(dpkg-deb -f "$DEB" Architecture)" = "$ARCH"
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
echo "    Depends: $DEPENDS"

# --- install ----------------------------------------------------------------
exec 9>"$LOCK"
if ! flock -w 600 9; then
  fail "another package test holds $LOCK"
  finish
fi
if is_installed dialcred; then
  if [[ -f $MARK ]]; then
    echo "note: removing the dialcred package that an interrupted run left installed"
    INSTALLED=$(cat "$MARK")
    uninstall
  else
    fail "a dialcred package is installed that this test did not install; remove it first"
    finish
  fi
fi
# Files of the package that exist already belong to someone else (a manual
# install into /usr, say); installing over them and removing them would lose them.
clash=0
while read -r f; do
  if [[ -e $f || -L $f ]]; then
    fail "$f exists before the package is installed"
    clash=1
  fi
done < <(dpkg-deb --fsys-tarfile "$DEB" | tar -t | sed -n 's|^\./|/|; /[^/]$/p')
[[ $clash -eq 0 ]] || finish

before=$(installed_packages)
if ! "${APT[@]}" install --no-install-recommends "$DEB" >"$TMP/install.log" 2>&1; then
  # Dependencies missing and the package lists out of date: once more with fresh ones.
  "${APT[@]}" update >>"$TMP/install.log" 2>&1
  "${APT[@]}" install --no-install-recommends "$DEB" >>"$TMP/install.log" 2>&1
fi
INSTALLED=$(comm -13 <(echo "$before") <(installed_packages) | paste -sd ' ')
echo "$INSTALLED" | $SUDO tee "$MARK" >/dev/null
if ! is_installed dialcred; then
  fail "install $(basename "$DEB") with apt-get"
  show_log "$TMP/install.log"
  finish
fi
pass "install $(basename "$DEB") with apt-get (newly installed: $INSTALLED)"

# --- what is installed --------------------------------------------------------
missing=()
for f in /usr/bin/dialcred /usr/sbin/omegad /usr/sbin/alphad \
  "$LIBDIR"/libomegaclnt.so.1 "$LIBDIR"/libomegaclnt.so "$LIBDIR"/libomegaclnt.a \
  "$LIBDIR"/libalphaclnt.so.1 "$LIBDIR"/libalphaclnt.so "$LIBDIR"/libalphaclnt.a \
  "$LIBDIR"/libpinpw2t.a \
  /usr/include/dialcred/{rpccommon.h,common.h,omega.h,o_lib.h,otools.h,alpha.h,a_lib.h,pinpw2t.h} \
  "$LIBDIR"/pkgconfig/{omegaclnt,alphaclnt,pinpw2t}.pc \
  "$LIBDIR"/cmake/dialcred/{dialcredConfig,dialcredConfigVersion,dialcredTargets}.cmake \
  /usr/share/man/man1/dialcred.1.gz /usr/share/man/man8/{omegad,alphad}.8.gz; do
  [[ -e $f ]] || missing+=("$f")
done
check "installed files in place${missing[*]:+ (missing: ${missing[*]})}" test ${#missing[@]} -eq 0
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

# Every shared library that an installed binary names belongs to a package
# that the package depends on, or to the package itself.
owner_of() {  # path -> package, also across the /lib and /usr/lib aliases
  local p alt
  p=$(readlink -f "$1")
  for alt in "$1" "$p" "/usr$p" "${p#/usr}"; do
    dpkg-query -S "$alt" 2>/dev/null | grep -v '^diversion' | head -n1 | cut -d: -f1 | grep . && return
  done
}
depends_names=$(sed 's/([^)]*)//g; s/|/,/g' <<<"$DEPENDS" | tr ',' '\n' | awk '{ print $1 }')
undeclared=()
for bin in /usr/bin/dialcred /usr/sbin/omegad /usr/sbin/alphad \
  "$LIBDIR"/libomegaclnt.so.1 "$LIBDIR"/libalphaclnt.so.1; do
  for soname in $(needed "$bin"); do
    lib=$(ldd "$bin" | awk -v n="$soname" '$1 == n && $2 == "=>" { print $3 }')
    pkg=$([[ -n $lib ]] && owner_of "$lib")
    [[ $pkg == dialcred ]] && continue
    grep -Fxq -- "${pkg:-?}" <<<"$depends_names" || undeclared+=("${pkg:-?}($soname)")
  done
done
check "Depends names the packages of every library the binaries load${undeclared[*]:+ (undeclared: ${undeclared[*]})}" \
  test ${#undeclared[@]} -eq 0

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
SRC=$TMP/src
mkdir -p "$SRC"
cat >"$SRC/omega.c" <<'EOF'
/* Uses the installed omega library offline: the bounded copy, the wire form
 * of a configuration record, a client for a host that cannot exist, and a
 * wrapper whose default handle cannot be made. */
#include <stdio.h>
#include <string.h>

#include <o_lib.h>

int main(void)
{
    char buf[8];
    char value[81];
    o_config rec;
    char wire[512];
    XDR x;
    CLIENT *c = NULL;
    int ok = 1;

    memset(buf, 'x', sizeof buf);
    my_strncpy(buf, "PINLENMIN", 5);
    ok = ok && strcmp(buf, "PINLE") == 0;

    memset(&rec, 0, sizeof rec);
    my_strncpy(rec.key, "PINLENMIN", 10);
    my_strncpy(rec.value, "4", 80);
    rec.flag = TRUE;
    xdrmem_create(&x, wire, sizeof wire, XDR_ENCODE);
    /* One 4-byte unit per character of str10 and str80, then the bool. */
    ok = ok && xdr_o_config(&x, &rec) && xdr_getpos(&x) == (11 + 81 + 1) * 4;
    ok = ok && wire[3] == 'P' && wire[11 * 4 + 3] == '4' && wire[(11 + 81) * 4 + 3] == 1;
    xdr_destroy(&x);

    ok = ok && o_open_client_lib(&c, "bad..host") == 1 && c == NULL;
    ok = ok && o_get_config_lib(NULL, "PINLENMIN", value) == 1; /* OMEGAHOST=bad..host */
    ok = ok && rpc_prog_nr(OMEGA_PROGRAM_BASE) == 16011931L;
    printf("omega consumer: %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
EOF
cat >"$SRC/alpha.c" <<'EOF'
/* Uses the installed alpha library offline: the wire form of a usrconf
 * record, the rules of the handles, and a wrapper whose default handle
 * cannot be made. */
#include <stdio.h>
#include <string.h>

#include <a_lib.h>

int main(void)
{
    a_put_usrconf_i rec;
    char value[81];
    char wire[512];
    XDR x;
    CLIENT *c = NULL;
    int ok = 1;

    memset(&rec, 0, sizeof rec);
    my_strncpy(rec.userid, "mueller", 10);
    my_strncpy(rec.key, "t4711", 10);
    my_strncpy(rec.value, "12 5879157914616720", 80);
    xdrmem_create(&x, wire, sizeof wire, XDR_ENCODE);
    ok = ok && xdr_a_put_usrconf_i(&x, &rec) && xdr_getpos(&x) == (11 + 11 + 81) * 4;
    ok = ok && wire[3] == 'm' && wire[11 * 4 + 3] == 't' && wire[22 * 4 + 3] == '1';
    xdr_destroy(&x);

    /* An explicit host needs a handle variable of the caller's. */
    ok = ok && a_open_client_lib(NULL, "bad..host") == 24;
    ok = ok && a_open_client_lib(&c, "bad..host") == 2 && c == NULL;
    ok = ok && a_get_usrconf_lib(NULL, "mueller", "t4711", value) == 2; /* ALPHAHOST=bad..host */
    ok = ok && rpc_prog_nr(ALPHA_PROGRAM_BASE) == 16011967L;
    printf("alpha consumer: %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
EOF
cat >"$SRC/keypad.c" <<'EOF'
/* Uses the installed keypad code: a code made from PIN and password reads
 * back to the password with the PIN, and a malformed code is refused. */
#include <stdio.h>
#include <string.h>

#include <pinpw2t.h>

int main(void)
{
    char code[100];
    char pw[100];
    int ok;

    snprintf(code, sizeof code, "%s", pinpw2t("1234", "Geheim42"));
    /* 8 plain characters are 16 digits; the header is 16 - 4. */
    ok = strncmp(code, "12 ", 3) == 0 && strlen(code) == 3 + 16 &&
         strspn(code + 3, "0123456789") == 16;
    ok = ok && t2pw("1234", code, pw, sizeof pw) == T2PW_OK && strcmp(pw, "Geheim42") == 0;
    ok = ok && t2pw("1234", "x", pw, sizeof pw) == T2PW_EFORM && pw[0] == '\0';
    printf("keypad consumer: %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
EOF

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
    cc "${CFLAGS[@]}" "$SRC/$lib.c" $flags $libs; then
    check "pkg-config: the $lib consumer runs against lib${lib}clnt.so.1" runs_shared "$PC/$lib" $lib
  fi
  # shellcheck disable=SC2086
  if try_build "pkg-config: build the $lib consumer as C++" "$PC/$lib-cxx" \
    c++ -x c++ -Wall -Wextra -Werror "$SRC/$lib.c" -x none $flags $libs; then
    check "pkg-config: the $lib consumer built as C++ runs" run_consumer "$PC/$lib-cxx" $lib
  fi
  # A static link: the archives by name, the private flags of --static.
  static_libs=$(pkg-config --static --libs "${lib}clnt" | sed -E 's/-l(omega|alpha)clnt\b/-l:lib\1clnt.a/g')
  # shellcheck disable=SC2086
  if try_build "pkg-config --static: build the $lib consumer (C, static)" "$PC/$lib-static" \
    cc "${CFLAGS[@]}" "$SRC/$lib.c" $flags $static_libs; then
    check "pkg-config --static: the $lib consumer runs without the shared libraries" \
      runs_static "$PC/$lib-static" $lib
  fi
done
# shellcheck disable=SC2046
if try_build "pkg-config: build the keypad consumer" "$PC/keypad" \
  cc "${CFLAGS[@]}" "$SRC/keypad.c" $(pkg-config --cflags --libs pinpw2t); then
  check "pkg-config: the keypad consumer runs" run_consumer "$PC/keypad" keypad
fi

# The same programs through find_package, in a project that enables only C.
CM=$TMP/cmake
mkdir -p "$CM"
cp "$SRC"/*.c "$CM"/
cat >"$CM/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.18)
project(dialcred_consumer LANGUAGES C)
find_package(dialcred $VERSION REQUIRED)
set(CMAKE_C_STANDARD 11)
add_compile_options(-Wall -Wextra -Werror)
foreach(lib omega alpha)
  add_executable(\${lib}_shared \${lib}.c)
  target_link_libraries(\${lib}_shared PRIVATE dialcred::\${lib}clnt)
  add_executable(\${lib}_static \${lib}.c)
  target_link_libraries(\${lib}_static PRIVATE dialcred::\${lib}clnt_static)
endforeach()
add_executable(keypad keypad.c)
target_link_libraries(keypad PRIVATE dialcred::pinpw2t)
EOF
if cmake -S "$CM" -B "$CM/build" -DCMAKE_BUILD_TYPE=Release >"$TMP/cm.log" 2>&1 &&
  cmake --build "$CM/build" >>"$TMP/cm.log" 2>&1; then
  pass "find_package(dialcred $VERSION): configure and build the consumers"
  for lib in omega alpha; do
    check "find_package: dialcred::${lib}clnt consumer runs against lib${lib}clnt.so.1" \
      runs_shared "$CM/build/${lib}_shared" $lib
    check "find_package: dialcred::${lib}clnt_static consumer runs without the shared libraries" \
      runs_static "$CM/build/${lib}_static" $lib
  done
  check "find_package: dialcred::pinpw2t consumer runs" run_consumer "$CM/build/keypad" keypad
else
  fail "find_package(dialcred $VERSION): configure and build the consumers"
  show_log "$TMP/cm.log"
fi

# --- removal ------------------------------------------------------------------------
removed=$INSTALLED
if uninstall; then
  pass "remove the packages this test installed ($removed)"
else
  fail "remove the packages this test installed ($removed)"
  show_log "$TMP/remove.log"
fi
gone() {
  ! is_installed dialcred && [[ ! -e /usr/bin/dialcred && ! -e $LIBDIR/libomegaclnt.so.1 &&
    ! -e /usr/include/dialcred && ! -e $LIBDIR/cmake/dialcred ]]
}
check "nothing of the package is left" gone
finish
