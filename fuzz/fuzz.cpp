// The libFuzzer harness. The first input byte, modulo 4, chooses what the
// rest is given to; each part traps when an invariant of its own breaks:
//   0: load_config, on the rest as the file "config";
//   1: bootchk_valid, on the rest as the record ../data//.bootchk;
//   2: install_upgrade with exit codes 131 and 132 (130 runs tar through the
//      shell, so it is never fuzzed);
//   3: build_child_argv.
// The harness runs in bin/ of a scratch directory under $TMPDIR (bin/uci/ is
// this build's work directory, data/ is beside bin/), so the daemon's relative
// paths stay inside it; the directory is removed at a normal exit.
#include <ctype.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin_data/bootchk.h"
#include "plugin_data/installer.h"
#include "supervisor/config.h"
#include "supervisor/launcher.h"
#include "supervisor/watch_table.h"
#include "util/json_file.h"

static const char *const RECORD = "../data//.bootchk";
static const char *const PACKAGE = "./uci//ttupgrade.tgz";
static char scratch[4096];
static watch_table table;

static void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

static void put_file(const char *path, const std::string &text)
{
    if (!(std::ofstream(path, std::ios::binary) << text << std::flush))
        abort();
}

static std::string get_file(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *tmp = getenv("TMPDIR");
    snprintf(scratch, sizeof scratch, "%s/watchd-fuzz.XXXXXX", tmp && tmp[0] ? tmp : "/tmp");
    if (!mkdtemp(scratch) || chdir(scratch) != 0 || mkdir("bin", 0700) != 0 ||
        mkdir("bin/uci", 0700) != 0 || mkdir("data", 0700) != 0 || chdir("bin") != 0 ||
        !freopen("/dev/null", "w", stdout)) {  // the daemon's messages
        perror(scratch);
        exit(2);
    }
    atexit([] {
        nftw(
            scratch, [](const char *path, const struct stat *, int, FTW *) { return remove(path); },
            16, FTW_DEPTH | FTW_PHYS);
    });
    return 0;
}

// A name the daemon can run and kill by: not empty, no leading "-", and no
// "/" or control character.
static bool usable_base(const char *base)
{
    return base && base[0] && base[0] != '-' &&
           std::none_of(base, base + strlen(base),
                        [](unsigned char c) { return c == '/' || iscntrl(c); });
}

// Refused exactly when the text does not parse or one of the first MAX_PROCS
// entries has no usable base. Accepted, the table holds those entries' names
// (cut to the slot), watched exactly when "excheck" is true, or the default
// program when the file lists none.
static void fuzz_config(const std::string &text)
{
    put_file("config", text);
    watch_table_clear(&table);
    int result = load_config("config", &table);
    // The loader sees the text up to the first zero byte, as parsed here.
    json_tree root(cJSON_Parse(text.c_str()));
    const cJSON *list =
        cJSON_GetObjectItem(cJSON_GetObjectItem(root.get(), "__watch"), "processes");
    int listed = std::min(cJSON_GetArraySize(list), MAX_PROCS);
    bool usable = root.get() != nullptr;
    for (int i = 0; i < listed; ++i)
        usable = usable && usable_base(json_get_string(cJSON_GetArrayItem(list, i), "base"));
    check(result == (usable ? 0 : -1));
    if (result != 0)
        return;
    if (listed <= 0) {
        check(table.proc_count == 1 && strcmp(table.slots[0].base, DEFAULT_PROC_NAME) == 0 &&
              table.slots[0].alive_path[0] == '\0');
        return;
    }
    check(table.proc_count == listed);
    for (int i = 0; i < listed; ++i) {
        const proc_slot &slot = table.slots[i];
        const cJSON *entry = cJSON_GetArrayItem(list, i);
        std::string base = json_get_string(entry, "base");
        check(base.substr(0, PATH_BUF - 1) == slot.base);
        bool watched = slot.alive_path[0] != '\0';
        check(watched == (json_is_true(entry, "excheck") == 1));
        check(!watched || strncmp(slot.alive_path, UCI_DIR, strlen(UCI_DIR)) == 0);
    }
}

// Valid exactly when the text parses to an object whose first member named
// "version" (in any case) is a string and whose first member named
// "plugindata" is true or a number in [1, 2). The check changes nothing.
static void fuzz_bootchk(const std::string &text)
{
    put_file(RECORD, text);
    json_tree root(cJSON_Parse(text.c_str()));
    const cJSON *plugin = cJSON_GetObjectItem(root.get(), "plugindata");
    bool valid =
        cJSON_IsObject(root.get()) && cJSON_IsString(cJSON_GetObjectItem(root.get(), "version")) &&
        (cJSON_IsTrue(plugin) ||
         (cJSON_IsNumber(plugin) && plugin->valuedouble >= 1.0 && plugin->valuedouble < 2.0));
    check(bootchk_valid() == valid && get_file(RECORD) == text);
}

// Input: a flags byte (bit 0: code 131, else 132; bit 1: no package), the
// package's length, the package, then the record (none when empty). Without
// a package nothing changes. With one, the package is gone and the record
// written back is an object that keeps the old members and version, gains a
// string "version" (in any case, not necessarily first) when it had none and
// "luadata" for 131, which also copies the package to ../data//bjfe.
static void fuzz_installer(const std::string &in)
{
    if (in.size() < 2)
        return;
    int code = (in[0] & 1) ? EXIT_INSTALL_LUA : EXIT_INSTALL_REFRESH;
    bool with_package = !(in[0] & 2);
    std::string package = in.substr(2, (unsigned char)in[1]);
    std::string record = in.substr(2 + package.size());
    unlink(RECORD);
    if (!record.empty())
        put_file(RECORD, record);
    if (with_package)
        put_file(PACKAGE, package);

    install_upgrade(&table, code);
    if (!with_package) {
        check(get_file(RECORD) == record);
        return;
    }
    check(access(PACKAGE, F_OK) != 0);
    json_tree before(cJSON_Parse(record.c_str()));
    const cJSON *old = cJSON_IsObject(before.get()) ? before.get() : nullptr;
    const char *old_version = json_get_string(old, "version");
    json_tree after(read_json_file(RECORD));
    const cJSON *now = after.get();
    check(cJSON_IsObject(now));
    const cJSON *item = now->child;
    while (item && !(strcasecmp(item->string, "version") == 0 && cJSON_IsString(item)))
        item = item->next;
    check(item != nullptr);
    const char *version = json_get_string(now, "version");
    check(!old_version || (version && strcmp(old_version, version) == 0));
    int added = (old_version ? 0 : 1) + (code == EXIT_INSTALL_LUA ? 1 : 0);
    check(cJSON_GetArraySize(now) == cJSON_GetArraySize(old) + added);
    check(code != EXIT_INSTALL_LUA || get_file("../data//bjfe") == package);
}

// Input: reason (4 bytes), debug and plugin (a signed byte each), then the
// path and the alive path separated by a zero byte. The vector is path, "-r"
// reason (not 0), "-d" (debug 1), "-A" alive path (not empty), then "-T" "-D"
// "-O" with their values (plugin 1); each argument cut to CHILD_ARG_LEN - 1
// characters, and a null after the last.
static void fuzz_argv(const std::string &in)
{
    if (in.size() < 6)
        return;
    int reason;
    memcpy(&reason, in.data(), sizeof reason);
    int debug = (signed char)in[4];
    int plugin = (signed char)in[5];
    const char *path = in.c_str() + 6;
    const char *alive = 6 + strlen(path) < in.size() ? path + strlen(path) + 1 : "";

    child_argv out;
    memset(&out, 0x5a, sizeof out);  // no slot may be taken for granted as cleared
    build_child_argv(&out, path, alive, reason, debug, plugin);

    std::vector<std::string> want{path};
    if (reason != 0)
        want.insert(want.end(), {"-r", std::to_string(reason)});
    if (debug == 1)
        want.push_back("-d");
    if (alive[0])
        want.insert(want.end(), {"-A", alive});
    if (plugin == 1)
        want.insert(want.end(), {"-T", UCI_DIR, "-D", DATA_DIR, "-O", PLATFORM_TAG});
    for (size_t i = 0; i < CHILD_ARGS; ++i)
        check(i >= want.size() ? out.argv[i] == nullptr
                               : out.argv[i] == out.args[i] &&
                                     strnlen(out.args[i], CHILD_ARG_LEN) < CHILD_ARG_LEN &&
                                     want[i].substr(0, CHILD_ARG_LEN - 1) == out.argv[i]);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::string rest((const char *)data + 1, size - 1);
    void (*const parts[])(const std::string &) = {fuzz_config, fuzz_bootchk, fuzz_installer,
                                                  fuzz_argv};
    parts[data[0] % 4](rest);
    return 0;
}
