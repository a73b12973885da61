// The upgrade installer: unpacks, copies or discards the package that a
// supervised program asked for with its exit code, then records the outcome
// in the boot-check record. The package goes only once the record is
// written, so that a full or read-only data partition loses no upgrade.
#include "plugin_data/installer.h"

#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "constants.h"
#include "plugin_data/bootchk.h"
#include "util/files.h"
#include "util/json_file.h"
#include "util/spawn.h"

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

// Runs command with /bin/sh, as system() would, but the shell and what it
// starts get the default dispositions of the signals the daemon ignores.
// The command holds only constants of the build: no name reaches the shell.
// Returns the shell's exit status, or -1 when it did not exit normally.
static int run_shell(const char *command)
{
    char *argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"),
                    const_cast<char *>(command), nullptr};
    int pid = spawn_program("/bin/sh", argv, false);
    int status = pid < 0 ? -1 : wait_program(pid);
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

    // A package that does not unpack is of no use later either; any other
    // stays until the record that tells of it is written.
    bool unpack_failed = false;
    if (code == EXIT_INSTALL_PLUGIN) {
        char command[2048];
        snprintf(command, sizeof command, "tar -zxf %s -C %s", package, DATA_DIR);
        unpack_failed = run_shell(command) != 0;
        if (!unpack_failed)
            append_number(root, "plugindata", 1);
    } else if (code == EXIT_INSTALL_LUA) {
        char data_file[LONG_PATH_BUF];
        snprintf(data_file, sizeof data_file, "%s/%s", DATA_DIR, DATA_FILE_NAME);
        if (copy_file(package, data_file) == 0)
            append_number(root, "luadata", 1);
    }

    char *text = cJSON_PrintUnformatted(root);
    bool recorded = text && write_whole_file(record_path, text, (int)strlen(text)) == 0;
    if (!recorded)
        printf("failed to write %s (%m)%s\n", record_path,
               unpack_failed ? "" : ", the upgrade package is kept for the next request");
    if (recorded || unpack_failed)
        unlink(package);
    cJSON_free(text);
}
