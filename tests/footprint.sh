#!/bin/sh
# Fails when the stripped daemon is larger than the limit; prints the sizes.
# Usage: footprint.sh DAEMON STRIP MAX_BYTES
set -eu
daemon=$1 strip=$2 max=$3
stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$strip" -o "$stripped" "$daemon"
size=$(wc -c <"$stripped")
echo "watchd: $(wc -c <"$daemon") bytes, stripped $size bytes, limit $max bytes"
if [ "$size" -gt "$max" ]; then
    echo "FAIL: stripped watchd exceeds $max bytes by $((size - max))"
    exit 1
fi
