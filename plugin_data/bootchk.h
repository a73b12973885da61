// The boot-check record ../data//.bootchk: whether the programs installed in
// the data directory may be used.
#pragma once

#include <cjson/cJSON.h>

// Composes the record path into buf (at least LONG_PATH_BUF bytes).
void bootchk_path(char *buf, int size);

// The parsed record, owned by the caller, or null.
cJSON *bootchk_read();

// 1 when the record holds a string "version" and "plugindata" with the
// integer value 1, otherwise 0.
int bootchk_valid();

// Deletes a readable record. 1 when there was one and it is gone, else 0.
int bootchk_remove();
