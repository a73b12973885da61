// End-to-end test harness.
#include "harness.h"

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace
{

std::string env_or(const char *name, const char *fallback)
{
    const char *value = getenv(name);
    return value && *value ? value : fallback;
}

std::string daemon_binary()
{
    return env_or("WATCHD_E2E_DAEMON", WATCHD_E2E_DAEMON);
}
std::string fake_binary()
{
    return env_or("WATCHD_E2E_FAKE", WATCHD_E2E_FAKE);
}

void copy_executable(const std::string &from, const std::string &to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    chmod(to.c_str(), 0755);
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

void sleep_ms(int ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

void kill_by_name(const std::string &name)
{
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execlp("killall", "killall", "-9", name.c_str(), (char *)nullptr);
        _exit(127);
    }
    if (pid > 0)
        waitpid(pid, nullptr, 0);
}

}  // namespace

std::string unique_name(const std::string &tag)
{
    static int counter = 0;
    std::string name =
        tag.substr(0, 6) + std::to_string(getpid() % 10000000) + "_" + char('a' + counter++ % 26);
    return name.substr(0, 15);
}

bool eventually(const std::function<bool()> &cond, int timeout_ms)
{
    for (int waited = 0;; waited += 5) {
        if (cond())
            return true;
        if (waited >= timeout_ms)
            return false;
        sleep_ms(5);
    }
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

int count_of(const std::string &haystack, const std::string &needle)
{
    int count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size()))
        ++count;
    return count;
}

bool in_order(const std::string &text, const std::vector<std::string> &parts)
{
    size_t at = 0;
    for (const std::string &part : parts) {
        at = text.find(part, at);
        if (at == std::string::npos)
            return false;
        at += part.size();
    }
    return true;
}

std::vector<std::string> run_events(const std::string &run_file)
{
    // An exit record begins with asctime's 24 characters, e.g.
    // "Sun Dec  6 20:19:03 2026", then ": ".
    const size_t stamp = 24;
    std::vector<std::string> events;
    std::istringstream in(run_file);
    std::string line;
    std::getline(in, line);  // the daemon's directory
    while (std::getline(in, line)) {
        if (line.size() > stamp + 2 && line.compare(stamp, 2, ": ") == 0 &&
            line.compare(stamp - 5, 1, " ") == 0 && line.compare(stamp - 14, 1, " ") == 0)
            line.erase(0, stamp + 2);
        events.push_back(line);
    }
    return events;
}

scratch_dir::scratch_dir()
{
    char templ[] = "/tmp/watchd-e2e-XXXXXX";
    root = mkdtemp(templ);
    bin = root + "/bin";
    data = root + "/data";
    uci = bin + "/uci";
    mkdir(bin.c_str(), 0755);
}

scratch_dir::~scratch_dir()
{
    for (const std::string &name : fakes_)
        kill_by_name(name);
    nftw(root.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string scratch_dir::install_daemon(const std::string &name)
{
    std::string path = bin + "/" + name;
    copy_executable(daemon_binary(), path);
    return path;
}

void scratch_dir::install_fake(const std::string &name, const std::string &dir)
{
    std::string where = dir.empty() ? bin : dir;
    mkdir(where.c_str(), 0755);
    copy_executable(fake_binary(), where + "/" + name);
    fakes_.push_back(name);
}

void scratch_dir::plan(const std::string &name, const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line + "\n";
    write_file(bin + "/" + name + ".plan", text);
}

std::vector<child_start> scratch_dir::starts(const std::string &name) const
{
    std::vector<child_start> result;
    std::istringstream in(read_file(bin + "/" + name + ".args"));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::string field;
        std::istringstream parts(line);
        while (std::getline(parts, field, '\t'))
            fields.push_back(field);
        if (fields.size() < 3)
            continue;
        child_start start;
        start.pid = atoi(fields[0].c_str());
        start.fds = fields[1];
        start.argv.assign(fields.begin() + 2, fields.end());
        result.push_back(start);
    }
    return result;
}

void scratch_dir::config(const std::vector<std::string> &names,
                         const std::vector<std::string> &watched)
{
    std::string text = "{\"__watch\": {\"processes\": [";
    for (size_t i = 0; i < names.size(); ++i) {
        bool watch = false;
        for (const std::string &w : watched)
            watch = watch || w == names[i];
        text += (i ? ", " : "") + std::string("{\"base\": \"") + names[i] + "\"" +
                (watch ? ", \"excheck\": true" : "") + "}";
    }
    text += "]}}\n";
    write_file(bin + "/config", text);
}

std::string scratch_dir::run_file(const std::string &daemon) const
{
    return read_file(uci + "/" + daemon + ".run");
}

daemon_process::daemon_process(scratch_dir &dir, const daemon_options &options,
                               const std::string &name)
{
    std::string path = dir.bin + "/" + name;
    if (!file_exists(path))
        dir.install_daemon(name);
    out_path_ = dir.root + "/" + name + ".out";
    std::string program = options.program.empty() ? path : options.program;
    std::string cwd = options.cwd.empty() ? dir.root : options.cwd;

    std::vector<std::string> words;
    std::string emulator = env_or("WATCHD_E2E_EMULATOR", "");
    if (!emulator.empty()) {
        words = {emulator, "-0", program, path};
    } else {
        words = {program};
    }
    words.insert(words.end(), options.args.begin(), options.args.end());
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    std::string exe = emulator.empty() ? path : emulator;

    pid_ = fork();
    if (pid_ == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out, 1);
        dup2(out, 2);
        if (options.close_std) {
            close(0);
            close(1);
            close(2);
        }
        if (emulator.empty())
            execv(exe.c_str(), argv.data());
        else
            execvp(exe.c_str(), argv.data());
        _exit(127);
    }
}

daemon_process::~daemon_process()
{
    kill_now();
}

std::string daemon_process::output() const
{
    return read_file(out_path_);
}

bool daemon_process::running()
{
    if (pid_ <= 0)
        return false;
    int status;
    pid_t got = waitpid(pid_, &status, WNOHANG);
    if (got == pid_) {
        status_ = status;
        pid_ = -1;
        return false;
    }
    return true;
}

bool daemon_process::wait_exit(int timeout_ms)
{
    return eventually([this] { return !running(); }, timeout_ms);
}

void daemon_process::kill_now()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    pid_ = -1;
}
