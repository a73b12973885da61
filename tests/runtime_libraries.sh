#!/bin/sh
# The daemon must run without the C++ runtime: its dynamic section may need
# only libc (and libpthread where that is separate) and libcjson, and none of
# its undefined symbols may come from libstdc++, the C++ ABI, the unwinder or
# libatomic. The weak __cxa_finalize of the C start files is not C++.
# Usage: runtime_libraries.sh DAEMON READELF NM
set -eu
daemon=$1 readelf=$2 nm=$3
status=0

needed=$("$readelf" -d "$daemon" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "needed: $(echo $needed)"
for lib in $needed; do
    case $lib in
    libc.so* | libpthread.so* | libcjson.so*) ;;
    *)
        echo "FAIL: needs $lib"
        status=1
        ;;
    esac
done

cxx=$("$nm" -u "$daemon" |
    awk '{ name = $NF; sub(/@.*/, "", name) }
         $1 == "w" && name == "__cxa_finalize" { next }
         name ~ /^(_Z|__cxa_|__gxx_personality|_Unwind|__atomic_)/ { print $NF }')
if [ -n "$cxx" ]; then
    echo "FAIL: C++ runtime symbols:"
    echo "$cxx"
    status=1
fi
echo "undefined symbols: $("$nm" -u "$daemon" | wc -l), none from the C++ runtime: $([ -z "$cxx" ] && echo yes || echo no)"
exit $status
