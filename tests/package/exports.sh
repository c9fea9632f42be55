#!/bin/sh
# Usage: exports.sh NM LIBRARY...
# Fails when a shared library exports a C++ symbol (_Z...) or nothing at all:
# the libraries' ABI is their C interface, so an internal C++ helper or a
# standard library template instance must never become part of it.
nm=$1
shift
status=0
for lib in "$@"; do
    symbols=$("$nm" -D --defined-only "$lib" | awk 'NF == 3 { print $3 }') || exit 1
    c=$(printf '%s\n' "$symbols" | grep -cv '^_Z')
    cxx=$(printf '%s\n' "$symbols" | grep '^_Z')
    echo "$(basename "$lib"): $c C symbols, $(printf '%s' "$cxx" | grep -c .) C++ symbols"
    if [ -n "$cxx" ]; then
        echo "exported C++ symbols:"
        printf '%s\n' "$cxx" | sed 's/^/    /'
        status=1
    fi
    [ "$c" -gt 0 ] || { echo "no C symbol exported"; status=1; }
done
exit $status
