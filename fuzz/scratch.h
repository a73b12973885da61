// The scratch area of a fuzz target: a directory of its own under $TMPDIR
// (or /tmp) holding bin/ with bin/uci/ and data/ beside it. The target runs
// in bin/, so the daemon's relative paths (./uci//ttupgrade.tgz,
// ../data//.bootchk) land inside the scratch area.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

// Creates the area, changes into its bin/ and sends standard output (the
// daemon's messages) to /dev/null. Ends the process when a step fails. The
// area is removed at a normal exit.
void enter_scratch();

// Writes size bytes to path, replacing what was there.
void put_file(const char *path, const void *data, size_t size);

// The whole content of path; empty when it cannot be read.
std::string get_file(const char *path);
