// Filling the process table from the JSON file "config":
// {"__watch": {"processes": [{"base": NAME, "excheck": true}, ...]}}
#include "supervisor/config.h"

#include <ctype.h>
#include <stdio.h>

#include "supervisor/watch_table.h"
#include "util/json_file.h"

// A base is a file name in the daemon's directory. An empty one is no file,
// one beginning with "-" would be read as an option by killall, one holding
// "/" is never matched by a killall that compares names (and one that takes
// it as a file kills every process running that file, whatever its name),
// and one holding a control character (a newline, say) cannot be matched by
// killall and would split the run file's lines.
static bool usable_name(const char *base)
{
    if (base[0] == '\0' || base[0] == '-')
        return false;
    for (const char *c = base; *c; ++c) {
        if (*c == '/' || iscntrl((unsigned char)*c))
            return false;
    }
    return true;
}

void load_default_config(watch_table *table)
{
    table->proc_count = 1;
    snprintf(table->slots[0].base, sizeof table->slots[0].base, "%s", DEFAULT_PROC_NAME);
}

int load_config(const char *path, watch_table *table)
{
    json_tree root(read_json_file(path));
    if (!root)
        return -1;
    const cJSON *watch = cJSON_GetObjectItem(root.get(), "__watch");
    const cJSON *processes = watch ? cJSON_GetObjectItem(watch, "processes") : nullptr;
    int count = processes ? cJSON_GetArraySize(processes) : 0;
    if (count <= 0) {
        load_default_config(table);
        return 0;
    }
    if (count > MAX_PROCS) {
        printf("%s lists %d processes; only the first %d are supervised, the rest are ignored\n",
               path, count, MAX_PROCS);
        count = MAX_PROCS;
    }
    for (int i = 0; i < count; ++i) {
        const cJSON *entry = cJSON_GetArrayItem(processes, i);
        const char *base = entry ? json_get_string(entry, "base") : nullptr;
        if (!base)
            return -1;
        if (!usable_name(base)) {
            char shown[PATH_BUF];
            snprintf(shown, sizeof shown, "%s", base);
            for (char *c = shown; *c; ++c)
                *c = iscntrl((unsigned char)*c) ? '?' : *c;
            printf("process %d in %s has an unusable base \"%s\"\n", i + 1, path, shown);
            return -1;
        }
        proc_slot &slot = table->slots[i];
        snprintf(slot.base, sizeof slot.base, "%s", base);
        if (json_is_true(entry, "excheck"))
            snprintf(slot.alive_path, sizeof slot.alive_path, "%s/%s.alive", UCI_DIR, base);
    }
    table->proc_count = count;
    return 0;
}
