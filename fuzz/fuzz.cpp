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
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "plugin_data/bootchk.h"
#include "plugin_data/installer.h"
#include "supervisor/config.h"
#include "supervisor/launcher.h"
#include "supervisor/watch_table.h"
#include "util/json_file.h"

static const char *const RECORD = "../data//.bootchk";
static const char *const PACKAGE = "./uci//ttupgrade.tgz";
static std::string scratch = std::filesystem::temp_directory_path() / "watchd-fuzz.XXXXXX";
static watch_table table;

static void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

static void put_file(const char *path, const std::string &text)
{
    check(bool(std::ofstream(path, std::ios::binary) << text << std::flush));
}

static std::string get_file(const char *path)
{
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A trap here is a scratch directory that could not be made, or no /dev/null
    // to send the daemon's messages to.
    check(mkdtemp(scratch.data()) && chdir(scratch.c_str()) == 0 && mkdir("bin", 0700) == 0 &&
          mkdir("bin/uci", 0700) == 0 && mkdir("data", 0700) == 0 && chdir("bin") == 0 &&
          freopen("/dev/null", "w", stdout));
    atexit([] { std::filesystem::remove_all(scratch); });
    return 0;
}

// Refused exactly when the text does not parse or one of the first MAX_PROCS
// entries has no usable base: one that is not empty, does not begin with "-"
// and holds no "/" or control character. Accepted, the table holds those
// entries' names and alive paths (an alive path only when "excheck" is true),
// each cut to its slot, or the default program, unwatched, when none is listed.
static void fuzz_config(const std::string &text)
{
    put_file("config", text);
    watch_table_clear(&table);
    int result = load_config("config", &table);
    // The loader sees the text up to the first zero byte, as parsed here.
    json_tree root(cJSON_Parse(text.c_str()));
    auto *list = cJSON_GetObjectItem(cJSON_GetObjectItem(root.get(), "__watch"), "processes");
    bool usable = root.get() != nullptr;
    auto banned = [](unsigned char c) { return c == '/' || iscntrl(c); };
    std::vector<std::pair<std::string, std::string>> want;  // each slot's base and alive path
    for (int i = 0; usable && i < std::min(cJSON_GetArraySize(list), MAX_PROCS); ++i) {
        const cJSON *entry = cJSON_GetArrayItem(list, i);
        const char *found = json_get_string(entry, "base");
        std::string base = found ? found : "", alive = UCI_DIR + ("/" + base) + ".alive";
        usable = !base.empty() && base[0] != '-' && std::none_of(base.begin(), base.end(), banned);
        want.emplace_back(base, json_is_true(entry, "excheck") ? alive : "");
    }
    if (want.empty())
        want.emplace_back(DEFAULT_PROC_NAME, "");
    check(result == (usable ? 0 : -1) && (!usable || table.proc_count == (int)want.size()));
    for (size_t i = 0; usable && i < want.size(); ++i)
        check(want[i].first.substr(0, PATH_BUF - 1) == table.slots[i].base &&
              want[i].second.substr(0, PATH_BUF - 1) == table.slots[i].alive_path);
}

// Valid exactly when the text parses to an object whose first member named
// "version" (in any case) is a string and whose first member named
// "plugindata" is true or a number in [1, 2). The check changes nothing.
static void fuzz_bootchk(const std::string &text)
{
    put_file(RECORD, text);
    json_tree root(cJSON_Parse(text.c_str()));  // lookups in a non-object find nothing
    const cJSON *item = cJSON_GetObjectItem(root.get(), "plugindata");
    double plugin = cJSON_IsTrue(item) ? 1 : cJSON_IsNumber(item) ? item->valuedouble : 0;
    bool valid =
        cJSON_IsString(cJSON_GetObjectItem(root.get(), "version")) && plugin >= 1 && plugin < 2;
    check(bootchk_valid() == valid && get_file(RECORD) == text);
}

// Input: a flags byte (bit 0: code 131, else 132; bit 1: no package), the
// package's length, the package, then the record (an empty file when empty).
// Without a package nothing changes. With one, the package is gone and the
// record written back is an object that keeps the old members and version,
// gains a string "version" (in any case, not necessarily first) when it had
// none and "luadata" for 131, which also copies the package to ../data//bjfe.
static void fuzz_installer(const std::string &in)
{
    if (in.size() < 2)
        return;
    bool lua = in[0] & 1, with_package = !(in[0] & 2);
    std::string package = in.substr(2, (uint8_t)in[1]), record = in.substr(2 + package.size());
    put_file(RECORD, record);
    if (with_package)
        put_file(PACKAGE, package);
    install_upgrade(&table, lua ? EXIT_INSTALL_LUA : EXIT_INSTALL_REFRESH);
    if (!with_package)
        return check(get_file(RECORD) == record);
    json_tree before(cJSON_Parse(record.c_str())), after(read_json_file(RECORD));
    const cJSON *old = cJSON_IsObject(before.get()) ? before.get() : nullptr;
    const char *old_version = json_get_string(old, "version");
    // The first string member named "version" in any case; none unless an object.
    const cJSON *version = cJSON_IsObject(after.get()) ? after.get()->child : nullptr;
    while (version && !(cJSON_IsString(version) && strcasecmp(version->string, "version") == 0))
        version = version->next;
    check(access(PACKAGE, F_OK) != 0 && version &&
          (!old_version || strcmp(version->valuestring, old_version) == 0));
    check(cJSON_GetArraySize(after.get()) == cJSON_GetArraySize(old) + !old_version + lua);
    check(!lua || get_file("../data//bjfe") == package);
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
    int reason, debug = (signed char)in[4], plugin = (signed char)in[5];
    memcpy(&reason, in.data(), sizeof reason);
    // The alive path follows the path's zero byte; without one it is the empty
    // string at the end.
    const char *path = in.c_str() + 6, *alive = path + std::min(strlen(path) + 1, in.size() - 6);

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
        check(out.argv[i] == (i < want.size() ? out.args[i] : nullptr) &&
              (i >= want.size() || want[i].substr(0, CHILD_ARG_LEN - 1) == out.argv[i]));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    void (*const parts[])(const std::string &) = {fuzz_config, fuzz_bootchk, fuzz_installer,
                                                  fuzz_argv};
    if (size > 0)
        parts[data[0] % 4](std::string((const char *)data + 1, size - 1));
    return 0;
}
