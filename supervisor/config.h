// Filling the process table from the JSON file "config".
#pragma once

struct watch_table;

// Fills a cleared table (as at start-up). 0 when the table holds a usable process list (read, or
// the default when the file names none); -1 when the file cannot be read or parsed, or an entry has
// no usable "base".
int load_config(const char *path, watch_table *table);

// One unwatched slot running the default program.
void load_default_config(watch_table *table);
