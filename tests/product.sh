#!/bin/sh
# The product daemon: its stripped size at most MAX_BYTES, and no C++ run
# time. Its dynamic section may need only libc (and libpthread where that is
# separate) and libcjson, and none of its undefined symbols may come from
# libstdc++, the C++ ABI, the unwinder or libatomic (the weak __cxa_finalize
# of the C start files is not C++). Prints what it measured.
# Usage: product.sh DAEMON STRIP READELF NM MAX_BYTES
set -eu
daemon=$1 strip=$2 readelf=$3 nm=$4 max=$5
stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$strip" -o "$stripped" "$daemon"
size=$(wc -c <"$stripped")
needed=$("$readelf" -d "$daemon" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
foreign=$(echo "$needed" | grep -v -E '^(libc|libpthread|libcjson)\.so' || true)
cxx=$("$nm" -u "$daemon" |
    awk '{ name = $NF; sub(/@.*/, "", name) }
         $1 == "w" && name == "__cxa_finalize" { next }
         name ~ /^(_Z|__cxa_|__gxx_personality|_Unwind|__atomic_)/ { print $NF }')
echo "watchd: $(wc -c <"$daemon") bytes, stripped $size bytes, limit $max bytes"
echo "needed: $(echo $needed)"
echo "undefined symbols: $("$nm" -u "$daemon" | wc -l), from the C++ runtime: ${cxx:-none}"
[ "$size" -le "$max" ] && [ -z "$foreign" ] && [ -z "$cxx" ]
