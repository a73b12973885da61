#!/bin/sh
# Includes point down only: util/ uses nothing of ours, plugin_data/ only
# util/, and constants.h, below all three, includes nothing of the project's.
# Usage: layering.sh SOURCE_DIR. Prints every include that goes the wrong way;
# fails as well when a file or folder it checks is missing or empty.
cd "$1" && ls constants.h util/* plugin_data/* >/dev/null || exit 2
wrong=$(grep -Hn '#include "' constants.h
    grep -Hn -E '#include "(supervisor|plugin_data)/' util/*
    grep -Hn '#include "supervisor/' plugin_data/*)
[ -z "$wrong" ] && exit 0
printf 'include against the layering:\n%s\n' "$wrong"
exit 1
