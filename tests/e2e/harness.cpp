// End-to-end test harness.
#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

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

int count_of(const std::string &haystack, const std::string &needle)
{
    int count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; ++count)
        at = haystack.find(needle, at + needle.size());
    return count;
}

strings run_events(const std::string &run_file)
{
    // Exit records begin with a stamp like "Sun Dec  6 20:19:03 2026: ".
    std::regex stamp("^\\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}: ");
    std::istringstream in(run_file);
    strings lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(std::regex_replace(line, stamp, ""));
    if (!lines.empty())
        lines.erase(lines.begin());  // the directory line
    return lines;
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
    // Lines of "pid <TAB> what the child was given <TAB> command".
    std::vector<child_start> result;
    std::istringstream in(read_file(bin + "/" + name + ".args"));
    for (std::string line; std::getline(in, line);) {
        size_t given = line.find('\t') + 1, command = line.find('\t', given) + 1;
        result.push_back(
            {atoi(line.c_str()), line.substr(given, command - given - 1), line.substr(command)});
    }
    return result;
}

strings scratch_dir::commands(const std::string &name) const
{
    strings result;
    for (const child_start &start : starts(name))
        result.push_back(start.command);
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

std::function<void()> scratch_dir::spy_on_helpers() const
{
    fs::create_directories(root + "/spy");
    for (const std::string name : {"killall", "tar"}) {
        write_file(root + "/spy/" + name,
                   "#!/bin/sh\n{ ls -l /proc/$$/fd | grep -q '\\.run$' && echo " + name +
                       " had the run file || echo ran " + name + "; } >>" + root +
                       "/helpers\nPATH=${PATH#*:} exec " + name + " \"$@\"\n");
        fs::permissions(root + "/spy/" + name, fs::perms::owner_all);
    }
    return [path = root + "/spy:" + getenv("PATH")] { setenv("PATH", path.c_str(), 1); };
}

strings descriptors(pid_t pid)
{
    strings files;  // in the order of their numbers
    std::error_code gone;
    for (const auto &fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", gone))
        files.push_back(fs::read_symlink(fd, gone));
    return files;
}

strings strace_injecting(const std::string &injection, const std::string &path)
{
    if (const char *emulator = getenv("WATCHD_E2E_EMULATOR"); emulator && *emulator)
        return {};
    strings wrapper{"strace", "-D", "-f", "-qq", "-o", "/dev/null", "-e", "inject=" + injection};
    wrapper.insert(wrapper.end() - 2, {"-E", "ASAN_OPTIONS=detect_leaks=0"});
    if (!path.empty())
        wrapper.insert(wrapper.end(), {"-P", path});
    return wrapper;
}

daemon_process::daemon_process(scratch_dir &dir, const strings &args, const std::string &name,
                               const std::function<void()> &prepare, const strings &wrapper)
    : out_path(dir.root + "/" + name + ".out")
{
    // Another build's daemon (e.g. one linked against musl) when the
    // environment names one, else the one built with these tests.
    std::string path = dir.bin + "/" + name;
    const char *daemon = getenv("WATCHD_E2E_DAEMON");
    if (!file_exists(path))
        fs::copy_file(daemon && *daemon ? daemon : WATCHD_E2E_DAEMON, path);
    // A cross build runs the daemon through the emulator.
    const char *emulator = getenv("WATCHD_E2E_EMULATOR");
    std::vector<const char *> argv;
    for (const std::string &word : wrapper)
        argv.push_back(word.c_str());
    if (emulator && *emulator)
        argv.push_back(emulator);
    argv.push_back(path.c_str());
    for (const std::string &arg : args)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    if ((pid = fork()) == 0) {
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (chdir(dir.root.c_str()) != 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0)
            _exit(126);
        prepare();
        execvp(argv[0], (char **)argv.data());
        _exit(127);
    }
}

bool daemon_process::reap(bool kill_first)
{
    if (pid > 0 && (!kill_first || kill(pid, SIGKILL) == 0) &&
        waitpid(pid, &status, kill_first ? 0 : WNOHANG) == pid)
        pid = -1;
    return pid > 0;
}
