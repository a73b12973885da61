// build_child_argv against the documented order: path, "-r" reason (not 0),
// "-d" (debug 1), "-A" alive path (not empty), then "-T" "-D" "-O" with their
// values (plugin 1); each argument cut to CHILD_ARG_LEN - 1 characters, and a
// null after the last. Input: reason (4 bytes), debug and plugin (a signed
// byte each), then the path and the alive path separated by a zero byte.
#include <string.h>

#include <string>
#include <vector>

#include "supervisor/launcher.h"
#include "supervisor/watch_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    int reason;
    memcpy(&reason, data, sizeof reason);
    int debug = (int8_t)data[4];
    int plugin = (int8_t)data[5];
    std::string rest((const char *)data + 6, size - 6);
    std::string path = rest.substr(0, rest.find('\0'));
    std::string alive = path.size() < rest.size() ? rest.substr(path.size() + 1) : "";

    child_argv out;
    memset(&out, 0x5a, sizeof out);  // no slot may be taken for granted as cleared
    build_child_argv(&out, path.c_str(), alive.c_str(), reason, debug, plugin);

    std::vector<std::string> want{path};
    if (reason != 0)
        want.insert(want.end(), {"-r", std::to_string(reason)});
    if (debug == 1)
        want.push_back("-d");
    if (alive.c_str()[0] != '\0')
        want.insert(want.end(), {"-A", alive.c_str()});
    if (plugin == 1)
        want.insert(want.end(), {"-T", UCI_DIR, "-D", DATA_DIR, "-O", PLATFORM_TAG});
    for (size_t i = 0; i < CHILD_ARGS; ++i) {
        if (i >= want.size()) {
            if (out.argv[i] != nullptr)
                __builtin_trap();
            continue;
        }
        if (out.argv[i] != out.args[i] || strnlen(out.args[i], CHILD_ARG_LEN) == CHILD_ARG_LEN ||
            want[i].substr(0, CHILD_ARG_LEN - 1) != out.argv[i])
            __builtin_trap();
    }
    return 0;
}
