// load_config on arbitrary bytes in the file "config". On success the table
// must hold what the file lists: the first MAX_PROCS entries' names (cut to
// the slot), watched exactly when "excheck" is true, or the default program
// when the file lists none.
#include <string.h>

#include <string>

#include "fuzz/scratch.h"
#include "supervisor/config.h"
#include "supervisor/watch_table.h"
#include "util/json_file.h"

static watch_table table;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    enter_scratch();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    put_file("config", data, size);
    watch_table_clear(&table);
    int result = load_config("config", &table);
    // The loader sees the text up to the first zero byte, as parsed here.
    json_tree root(cJSON_Parse(std::string((const char *)data, size).c_str()));
    if (!root && result != -1)
        __builtin_trap();
    if (result != 0)
        return 0;

    const cJSON *watch = cJSON_GetObjectItem(root.get(), "__watch");
    const cJSON *list = cJSON_GetObjectItem(watch, "processes");
    int listed = cJSON_GetArraySize(list);
    if (listed <= 0) {
        if (table.proc_count != 1 || strcmp(table.slots[0].base, DEFAULT_PROC_NAME) != 0 ||
            table.slots[0].alive_path[0] != '\0')
            __builtin_trap();
        return 0;
    }
    if (table.proc_count != (listed < MAX_PROCS ? listed : MAX_PROCS))
        __builtin_trap();
    for (int i = 0; i < table.proc_count; ++i) {
        const proc_slot &slot = table.slots[i];
        const cJSON *entry = cJSON_GetArrayItem(list, i);
        std::string base = std::string(json_get_string(entry, "base")).substr(0, PATH_BUF - 1);
        if (base.empty() || base[0] == '-' || base != slot.base)
            __builtin_trap();
        bool watched = slot.alive_path[0] != '\0';
        if (watched != (json_is_true(entry, "excheck") == 1))
            __builtin_trap();
        if (watched && strncmp(slot.alive_path, UCI_DIR, strlen(UCI_DIR)) != 0)
            __builtin_trap();
    }
    return 0;
}
