#!/bin/sh
# Usage: exports.sh NM LIBRARY... Fails when a shared library exports a C++ symbol (_Z...) or
# nothing at all: the libraries' ABI is their C interface alone.
nm=$1 status=0
shift
for lib in "$@"; do
    symbols=$("$nm" -D --defined-only "$lib" | awk 'NF == 3 { print $3 }') || exit 1
    cxx=$(printf '%s\n' "$symbols" | grep '^_Z')
    c=$(printf '%s\n' "$symbols" | grep -vc '^_Z\|^$')
    echo "$(basename "$lib"): $c C symbols${cxx:+, exported C++ symbols:}"
    [ -z "$cxx" ] || { printf '%s\n' "$cxx" | sed 's/^/    /'; status=1; }
    [ "$c" -gt 0 ] || { echo "no C symbol exported"; status=1; }
done
exit $status
