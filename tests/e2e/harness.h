// End-to-end test harness: a scratch directory per test with the real
// test-build daemon copied into bin/, fake children beside it, and helpers to
// start the daemon, read what it wrote and poll for conditions.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using strings = std::vector<std::string>;

// A name unique to this test process and call, at most 15 characters (the
// kernel's limit for a process name, which killall matches).
std::string unique_name(const std::string &tag);

// Polls cond every few milliseconds until it holds or timeout_ms passes.
bool eventually(const std::function<bool()> &cond, int timeout_ms = 30000);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
bool file_exists(const std::string &path);
// Number of times needle occurs in haystack.
int count_of(const std::string &haystack, const std::string &needle);
// Whether every part occurs in text, each after the end of the one before.
bool in_order(const std::string &text, const strings &parts);
// The event lines of a run file: every line after the directory line, with
// the time stamp and ": " of the exit records cut off and no newline.
strings run_events(const std::string &run_file);

// One start of a fake child, as it recorded it.
struct child_start {
    int pid = 0;
    std::string fds;  // open descriptors, comma separated
    strings argv;     // argv[0] first
};

// Removed when the test ends; the fakes still waiting then end on their own.
struct scratch_dir {
    scratch_dir() { mkdir(bin.c_str(), 0755); }
    ~scratch_dir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    std::string root = mkdtemp(&std::string("/tmp/watchd-e2e-XXXXXX")[0]);
    std::string bin = root + "/bin";    // the daemon's directory
    std::string data = root + "/data";  // ../data/ as the daemon sees it
    std::string uci = bin + "/uci";     // ./uci/ as the daemon sees it (test build)

    // Copies the test-build daemon to bin/name; returns its path.
    std::string install_daemon(const std::string &name = "watchd");
    // Copies the fake child to dir/name (dir defaults to bin).
    void install_fake(const std::string &name, const std::string &dir = "");
    // Writes NAME.plan: one line per start, the last repeats.
    void plan(const std::string &name, const strings &lines);
    // The starts NAME recorded so far, in order.
    std::vector<child_start> starts(const std::string &name) const;
    // Writes bin/config listing these programs; watched ones get "excheck".
    void config(const strings &names, const strings &watched = {});
    // What uci/D.run holds, for the daemon named D.
    auto run_file(std::string d = "watchd") const { return read_file(uci + "/" + d + ".run"); }
};

// Starts bin/NAME by its absolute path from the scratch root, or when name is
// "./NAME" as such from bin/, with its output going to root/NAME.out, or with
// descriptors 0-2 closed. Killed when destroyed.
struct daemon_process {
    daemon_process(scratch_dir &dir, const strings &args = {}, const std::string &name = "watchd",
                   bool close_std = false);
    ~daemon_process() { kill_now(); }

    pid_t pid() const { return pid_; }
    std::string output() const { return read_file(out_path_); }  // stdout and stderr so far
    bool running() { return reap(false); }  // false once it has exited (and was reaped)
    bool wait_exit(int ms = 30000)
    {
        return eventually([this] { return !running(); }, ms);
    }
    int exit_status() const { return status_; }  // raw wait status
    void kill_now() { reap(true); }              // SIGKILL and reap
    bool reap(bool kill_first);

    pid_t pid_ = -1;
    int status_ = -1;
    std::string out_path_;
};
