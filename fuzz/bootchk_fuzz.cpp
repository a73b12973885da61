// bootchk_valid on arbitrary bytes in the record ../data//.bootchk, against
// the rule written out here: the text parses to an object whose first member
// named "version" (in any case) is a string and whose first member named
// "plugindata" is true or a number in [1, 2). The check changes nothing.
#include <string>

#include "fuzz/scratch.h"
#include "plugin_data/bootchk.h"
#include "util/json_file.h"

static const char *const RECORD = "../data//.bootchk";

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    enter_scratch();
    return 0;
}

static int expected_validity(const uint8_t *data, size_t size)
{
    json_tree root(cJSON_Parse(std::string((const char *)data, size).c_str()));
    if (!cJSON_IsObject(root.get()))
        return 0;
    if (!cJSON_IsString(cJSON_GetObjectItem(root.get(), "version")))
        return 0;
    const cJSON *plugin = cJSON_GetObjectItem(root.get(), "plugindata");
    if (cJSON_IsTrue(plugin))
        return 1;
    return cJSON_IsNumber(plugin) && plugin->valuedouble >= 1.0 && plugin->valuedouble < 2.0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    put_file(RECORD, data, size);
    if (bootchk_valid() != expected_validity(data, size))
        __builtin_trap();
    if (get_file(RECORD) != std::string((const char *)data, size))
        __builtin_trap();
    return 0;
}
