// End-to-end test harness: a scratch directory per test with the real
// test-build daemon copied into bin/, fake children beside it, and helpers to
// start the daemon, read what it wrote and poll for conditions.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
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
inline void write_file(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}
inline bool file_exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}
// Number of times needle occurs in haystack.
int count_of(const std::string &haystack, const std::string &needle);
// The event lines of a run file: every line after the directory line, with
// the time stamp and ": " of the exit records cut off.
strings run_events(const std::string &run_file);

// One start of a fake child, as it recorded it.
struct child_start {
    int pid;
    std::string given;    // e.g. "0,1,2 0 2": descriptors, signals ignored (fake_child.cpp)
    std::string command;  // argv, space separated
};

// Removed when the test ends; the fakes still waiting then end on their own.
struct scratch_dir {
    scratch_dir() { mkdir(bin.c_str(), 0755); }
    ~scratch_dir() { std::filesystem::remove_all(root, ignored); }

    std::string root = mkdtemp(&std::string("/tmp/watchd-e2e-XXXXXX")[0]);
    std::string bin = root + "/bin";    // the daemon's directory
    std::string data = root + "/data";  // ../data/ as the daemon sees it
    std::string uci = bin + "/uci";     // ./uci/ as the daemon sees it (test build)
    std::error_code ignored;            // a failed removal's

    // Copies the fake child to dir/name (dir defaults to bin).
    void install_fake(const std::string &name, const std::string &dir = "");
    // Writes NAME.plan: one line per start, the last repeats.
    void plan(const std::string &name, const strings &lines);
    // The starts NAME recorded so far, in order, and their command lines.
    std::vector<child_start> starts(const std::string &name) const;
    strings commands(const std::string &name) const;
    // Writes bin/config listing these programs; watched ones get "excheck".
    void config(const strings &names, const strings &watched = {});
    // What uci/D.run holds, for the daemon named D.
    auto run_file(std::string d = "watchd") const { return read_file(uci + "/" + d + ".run"); }
    // Wrappers of killall and tar, and the step that puts them first on a
    // daemon's PATH (see daemon_process): each appends to root/helpers "ran
    // NAME", or "NAME had the run file" when it was given the run file's
    // descriptor, then runs the next NAME on the PATH.
    std::function<void()> spy_on_helpers() const;
};

// The files a process holds open.
strings descriptors(pid_t pid);

// A wrapper that runs the daemon under strace with one fault injected, in
// strace's words ("write:error=ENOSPC:when=3"), on the calls that name path
// when one is given. The daemon stays the harness's own child (strace -D);
// the leak checker, which cannot work under a tracer, is off. None (no
// wrapper) under an emulator, whose system calls are not the daemon's.
strings strace_injecting(const std::string &injection, const std::string &path = "");

// Starts bin/NAME (the test-build daemon, copied there if missing) by its
// absolute path from the scratch root, with its output going to
// root/NAME.out, under wrapper's command when one is given; prepare runs in
// the child just before the exec. Killed when destroyed.
struct daemon_process {
    daemon_process(
        scratch_dir &dir, const strings &args = {}, const std::string &name = "watchd",
        const std::function<void()> &prepare = [] {}, const strings &wrapper = {});
    ~daemon_process() { reap(true); }

    std::string output() const { return read_file(out_path); }  // stdout and stderr so far
    bool running() { return reap(false); }
    bool ended_with_0()
    {
        return eventually([&] { return !running(); }) && status == 0;
    }
    bool reap(bool kill_first);  // SIGKILL first if asked; false once reaped

    pid_t pid = -1;
    int status = -1;  // raw wait status
    std::string out_path;
};
