// The boot-check record: location, validity rule and removal.
#include "plugin_data/bootchk.h"

#include <errno.h>
#include <stdio.h>
#include <unistd.h>

#include "constants.h"
#include "util/json_file.h"

// "%s/%s" of a directory that already ends in a slash gives ../data//.bootchk;
// that exact path is the record's.
void bootchk_path(char *buf, int size)
{
    snprintf(buf, (size_t)size, "%s/%s", DATA_DIR, ".bootchk");
}

cJSON *bootchk_read()
{
    char path[LONG_PATH_BUF];
    bootchk_path(path, sizeof path);
    return read_json_file(path);
}

int bootchk_valid()
{
    json_tree record(bootchk_read());
    if (!record || !json_get_string(record.get(), "version"))
        return 0;
    return json_get_int(record.get(), "plugindata") == 1 ? 1 : 0;
}

int bootchk_remove()
{
    char path[LONG_PATH_BUF];
    bootchk_path(path, sizeof path);
    if (access(path, R_OK) != 0)
        return 0;
    // Only a record that is really gone lets the next cycle run without it;
    // one that cannot be deleted would make every failed cycle start another.
    if (unlink(path) == 0 || errno == ENOENT)
        return 1;
    return 0;
}
