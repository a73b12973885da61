// End-to-end test harness: a scratch directory per test with the real
// test-build daemon copied into bin/, fake children beside it, and helpers to
// start the daemon, read what it wrote and poll for conditions.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

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
bool in_order(const std::string &text, const std::vector<std::string> &parts);
// The event lines of a run file: every line after the directory line, with
// the time stamp and ": " of the exit records cut off and no newline.
std::vector<std::string> run_events(const std::string &run_file);

// One start of a fake child, as it recorded it.
struct child_start {
    int pid = 0;
    std::string fds;                // open descriptors, comma separated
    std::vector<std::string> argv;  // argv[0] first
};

class scratch_dir
{
  public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir &) = delete;
    scratch_dir &operator=(const scratch_dir &) = delete;

    std::string root;  // /tmp/watchd-e2e-XXXXXX
    std::string bin;   // the daemon's directory
    std::string data;  // ../data/ as the daemon sees it
    std::string uci;   // ./uci/ as the daemon sees it (test build)

    // Copies the test-build daemon to bin/name; returns its path.
    std::string install_daemon(const std::string &name = "watchd");
    // Copies the fake child to dir/name (dir defaults to bin).
    void install_fake(const std::string &name, const std::string &dir = "");
    // Writes NAME.plan: one line per start, the last repeats.
    void plan(const std::string &name, const std::vector<std::string> &lines);
    // The starts NAME recorded so far, in order.
    std::vector<child_start> starts(const std::string &name) const;
    // Writes bin/config listing these programs; watched ones get "excheck".
    void config(const std::vector<std::string> &names,
                const std::vector<std::string> &watched = {});

    std::string run_file(const std::string &daemon = "watchd") const;

  private:
    std::vector<std::string> fakes_;
};

struct daemon_options {
    std::vector<std::string> args;  // after the program path
    std::string program;            // argv[0]; defaults to the absolute path
    std::string cwd;                // defaults to the scratch root
    bool close_std = false;         // start with descriptors 0-2 closed
};

class daemon_process
{
  public:
    daemon_process(scratch_dir &dir, const daemon_options &options = {},
                   const std::string &name = "watchd");
    ~daemon_process();
    daemon_process(const daemon_process &) = delete;
    daemon_process &operator=(const daemon_process &) = delete;

    pid_t pid() const { return pid_; }
    std::string output() const;  // standard output and error so far
    bool running();              // false once it has exited (and was reaped)
    bool wait_exit(int timeout_ms = 30000);
    int exit_status() const { return status_; }  // raw wait status
    void kill_now();                             // SIGKILL and reap

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string out_path_;
};
