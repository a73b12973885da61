// The upgrade installer: consumes the package in the work directory
// according to the exit code that asked for it, and records the outcome in
// the boot-check record.
#pragma once

struct watch_table;

void install_upgrade(watch_table *table, int code);
