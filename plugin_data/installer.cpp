// The upgrade installer: unpacks, copies or discards the package that a
// supervised program asked for with its exit code, then records the outcome
// in the boot-check record.
#include "plugin_data/installer.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "plugin_data/bootchk.h"
#include "supervisor/watch_table.h"
#include "util/files.h"
#include "util/json_file.h"

static const char *const PACKAGE_NAME = "ttupgrade.tgz";
static const char *const DATA_FILE_NAME = "bjfe";
static const char *const DEFAULT_VERSION = "20.16.06.36";

static void append_number(cJSON *record, const char *name, double value)
{
    cJSON_AddItemToObject(record, name, cJSON_CreateNumber(value));
}

// The record as read, or a fresh object when there is none or when what is
// there cannot be a record (not JSON, or not an object at its top level).
static cJSON *load_record(const char *path)
{
    cJSON *record = read_json_file(path);
    if (record && !cJSON_IsObject(record)) {
        cJSON_Delete(record);
        record = nullptr;
    }
    return record ? record : cJSON_CreateObject();
}

void install_upgrade(watch_table *, int code)
{
    char package[510];
    snprintf(package, sizeof package, "%s/%s", UCI_DIR, PACKAGE_NAME);
    if (access(package, R_OK) != 0)
        return;

    char record_path[LONG_PATH_BUF];
    bootchk_path(record_path, sizeof record_path);
    json_tree record(load_record(record_path));
    if (!record)
        return;  // out of memory: leave the package for the next request
    cJSON *root = record.get();

    if (!json_get_string(root, "version"))
        cJSON_AddItemToObject(root, "version", cJSON_CreateString(DEFAULT_VERSION));

    if (code == EXIT_INSTALL_PLUGIN) {
        char command[2048];
        snprintf(command, sizeof command, "tar -zxf %s -C %s", package, DATA_DIR);
        // The command holds only constants of the build, and only the main
        // thread runs it: neither a shell reading a name nor a race on the
        // signal dispositions that system() changes can come of it.
        if (system(command) == 0)  // NOLINT(cert-env33-c,concurrency-mt-unsafe)
            append_number(root, "plugindata", 1);
    } else if (code == EXIT_INSTALL_LUA) {
        char data_file[LONG_PATH_BUF];
        snprintf(data_file, sizeof data_file, "%s/%s", DATA_DIR, DATA_FILE_NAME);
        copy_file(package, data_file);
        append_number(root, "luadata", 1);
    }

    unlink(package);

    char *text = cJSON_PrintUnformatted(root);
    if (text) {
        write_whole_file(record_path, text, (int)strlen(text));
        cJSON_free(text);
    }
}
