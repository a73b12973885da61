// install_upgrade with codes 131 and 132 (130 runs tar through the shell and
// is left out) on an arbitrary record and package. Input: a flags byte (bit 0:
// code 131, else 132; bit 1: no package), the package length, the package,
// then the record (none when empty). The record written back must parse to an
// object that keeps the old members and has a string "version".
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <string>

#include "fuzz/scratch.h"
#include "plugin_data/installer.h"
#include "supervisor/watch_table.h"
#include "util/json_file.h"

static const char *const PACKAGE = "./uci//ttupgrade.tgz";
static const char *const RECORD = "../data//.bootchk";
static watch_table table;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    enter_scratch();
    return 0;
}

// A string member named "version" in any case, not necessarily the first.
static bool has_string_version(const cJSON *object)
{
    const cJSON *item = object->child;
    while (item && !(strcasecmp(item->string, "version") == 0 && cJSON_IsString(item)))
        item = item->next;
    return item != nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    int code = (data[0] & 1) ? EXIT_INSTALL_LUA : EXIT_INSTALL_REFRESH;
    bool with_package = !(data[0] & 2);
    size_t package_size = data[1] < size - 2 ? data[1] : size - 2;
    std::string package((const char *)data + 2, package_size);
    std::string record((const char *)data + 2 + package_size, size - 2 - package_size);
    unlink(RECORD);
    if (!record.empty())
        put_file(RECORD, record.data(), record.size());
    if (with_package)
        put_file(PACKAGE, package.data(), package.size());

    install_upgrade(&table, code);
    if (!with_package) {  // nothing to install: the record stays as it was
        if (get_file(RECORD) != record)
            __builtin_trap();
        return 0;
    }
    if (access(PACKAGE, F_OK) == 0)
        __builtin_trap();
    json_tree before(cJSON_Parse(record.c_str()));
    const cJSON *old = cJSON_IsObject(before.get()) ? before.get() : nullptr;
    const char *old_version = old ? json_get_string(old, "version") : nullptr;
    json_tree after(read_json_file(RECORD));
    cJSON *now = after.get();
    if (!cJSON_IsObject(now) || !has_string_version(now))
        __builtin_trap();
    const char *version = json_get_string(now, "version");
    if (old_version && (!version || strcmp(old_version, version) != 0))
        __builtin_trap();
    int added = (old_version ? 0 : 1) + (code == EXIT_INSTALL_LUA ? 1 : 0);
    if (cJSON_GetArraySize(now) != (old ? cJSON_GetArraySize(old) : 0) + added)
        __builtin_trap();
    if (code == EXIT_INSTALL_LUA && get_file("../data//bjfe") != package)
        __builtin_trap();
    return 0;
}
