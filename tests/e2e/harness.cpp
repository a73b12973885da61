// End-to-end test harness.
#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

// At least one part, empty for an empty text.
static strings split(const std::string &text, const char *separator)
{
    std::regex pattern(separator);
    return {std::sregex_token_iterator(text.begin(), text.end(), pattern, -1), {}};
}

std::string unique_name(const std::string &tag)
{
    static int counter = 0;
    return tag.substr(0, 6) + std::to_string(getpid() % 10000000) + char('a' + counter++ % 26);
}

bool eventually(const std::function<bool()> &cond, int timeout_ms)
{
    for (int waited = 0; !cond(); waited += 5, usleep(5000))
        if (waited >= timeout_ms)
            return false;
    return true;
}

std::string read_file(const std::string &path)
{
    // Inserting the buffer swallows errors, e.g. reading a directory.
    return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

void write_file(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

bool file_exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

int count_of(const std::string &haystack, const std::string &needle)
{
    int count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; ++count)
        at = haystack.find(needle, at + needle.size());
    return count;
}

bool in_order(const std::string &text, const strings &parts)
{
    size_t at = 0;
    for (const std::string &part : parts)  // once a part is missing, at stays npos
        at = std::min(text.find(part, at), std::string::npos - part.size()) + part.size();
    return at != std::string::npos;
}

strings run_events(const std::string &run_file)
{
    // Exit records begin with a stamp like "Sun Dec  6 20:19:03 2026: ".
    std::regex stamp("(^|\n)\\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}: ");
    strings lines = split(std::regex_replace(run_file, stamp, "$1"), "\n");
    return {lines.begin() + 1, lines.end()};  // after the directory line
}

std::string scratch_dir::install_daemon(const std::string &name)
{
    // Another build's daemon (e.g. one linked against musl) when the
    // environment names one, else the one built with these tests.
    const char *daemon = getenv("WATCHD_E2E_DAEMON");
    fs::copy_file(daemon && *daemon ? daemon : WATCHD_E2E_DAEMON, bin + "/" + name,
                  fs::copy_options::overwrite_existing);
    return bin + "/" + name;
}

void scratch_dir::install_fake(const std::string &name, const std::string &dir)
{
    fs::create_directories(dir.empty() ? bin : dir);
    fs::copy_file(WATCHD_E2E_FAKE, (dir.empty() ? bin : dir) + "/" + name,
                  fs::copy_options::overwrite_existing);
}

void scratch_dir::plan(const std::string &name, const strings &lines)
{
    std::ofstream out(bin + "/" + name + ".plan");
    for (const std::string &line : lines)
        out << line << "\n";
}

std::vector<child_start> scratch_dir::starts(const std::string &name) const
{
    std::vector<child_start> result;
    for (const std::string &line : split(read_file(bin + "/" + name + ".args"), "\n")) {
        strings f = split(line, "\t");
        if (f.size() > 2)  // else the rest of a name with a newline
            result.push_back({atoi(f[0].c_str()), f[1], {f.begin() + 2, f.end()}});
    }
    return result;
}

void scratch_dir::config(const strings &names, const strings &watched)
{
    std::string list;
    for (const std::string &name : names) {
        bool watch = std::count(watched.begin(), watched.end(), name) > 0;
        list += ", {\"base\": \"" + name + (watch ? "\", \"excheck\": true}" : "\"}");
    }
    write_file(bin + "/config", "{\"__watch\": {\"processes\": [" + list.erase(0, 2) + "]}}\n");
}

daemon_process::daemon_process(scratch_dir &dir, const strings &args, const std::string &name,
                               bool close_std)
    : out_path_(dir.root + "/" + name + ".out")
{
    std::string path = dir.bin + "/" + name;
    if (!file_exists(path))
        dir.install_daemon(name);
    bool in_bin = name.rfind("./", 0) == 0;
    // A cross build runs the daemon through the emulator, argv[0] kept.
    const char *emulator = getenv("WATCHD_E2E_EMULATOR");
    std::vector<const char *> argv{in_bin ? name.c_str() : path.c_str()};
    if (emulator && *emulator)
        argv = {emulator, "-0", argv[0], path.c_str()};
    for (const std::string &arg : args)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    if ((pid_ = fork()) == 0) {
        int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (chdir((in_bin ? dir.bin : dir.root).c_str()) != 0 || dup2(out, 1) < 0 ||
            dup2(out, 2) < 0)
            _exit(126);
        for (int fd = 0; fd < 3 && close_std; ++fd)
            close(fd);
        execvp(emulator && *emulator ? emulator : path.c_str(), (char **)argv.data());
        _exit(127);
    }
}

bool daemon_process::reap(bool kill_first)
{
    if (pid_ > 0 && (!kill_first || kill(pid_, SIGKILL) == 0) &&
        waitpid(pid_, &status_, kill_first ? 0 : WNOHANG) == pid_)
        pid_ = -1;
    return pid_ > 0;
}
