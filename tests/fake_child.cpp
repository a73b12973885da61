// A stand-in for a supervised program. Copied into a test's scratch directory
// under a name unique to the test, it appends one line per start to
// NAME.args in its working directory (the daemon's directory):
//   pid <TAB> what it was given <TAB> argv, space separated
// where what it was given is its open descriptors, comma separated, then how
// many of SIGPIPE and SIGXFSZ it ignores and how many its parent (the
// daemon) ignores, e.g. "0,1,2 0 2". It reads the signal masks itself: it is
// a program of the machine whose kernel numbers them, also when the daemon
// and the tests run under an emulator.
// and then follows line k of NAME.plan for its k-th start (the last line
// repeats; no plan means waiting forever). A plan line is a list of steps:
//   await FILE     wait until FILE exists (the test's go-ahead)
//   exit N         exit with status N
//   signal N       die by signal N
//   forever        wait until killed
// Running out of steps also waits until killed. Waiting of any kind ends
// with exit status 0 once NAME.args is gone (the test's directory removed).
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace
{

std::string open_descriptors()
{
    std::string list;
    for (int fd = 0; fd < 1024; ++fd)
        list += fcntl(fd, F_GETFD) < 0 ? "" : (list.empty() ? "" : ",") + std::to_string(fd);
    return list;
}

std::string ignored_signals(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string field; status >> field && field != "SigIgn:";) {
    }
    unsigned long long mask = 0;
    status >> std::hex >> mask;
    return std::to_string((mask >> (SIGPIPE - 1) & 1) + (mask >> (SIGXFSZ - 1) & 1));
}

[[noreturn]] void die_by_signal(int sig)
{
    rlimit no_core{0, 0};  // no core files from the deaths a plan asks for
    setrlimit(RLIMIT_CORE, &no_core);
    signal(sig, SIG_DFL);
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_UNBLOCK, &all, nullptr);
    raise(sig);
    _exit(200);
}

}  // namespace

int main(int argc, char **argv)
{
    std::string name = basename(argv[0]);
    rlimit files{RLIM_INFINITY, RLIM_INFINITY};  // a limit set for the daemon is not the records'
    setrlimit(RLIMIT_FSIZE, &files);
    std::string args = name + ".args";
    // Counted before the descriptors are listed, the file closed again.
    long start = std::count(std::istreambuf_iterator(std::ifstream(args).rdbuf()), {}, '\n');
    std::string record = std::to_string(getpid()) + "\t" + open_descriptors() + " " +
                         ignored_signals(getpid()) + " " + ignored_signals(getppid()) + "\t" +
                         argv[0];
    for (int i = 1; i < argc; ++i)
        record += std::string(" ") + argv[i];
    std::ofstream(args, std::ios::app) << record + "\n";  // one write
    // Waiting ends when the test removes its directory with the records.
    // stat, not access: tests inject faults into the daemon's access calls,
    // and strace then traces this program too.
    struct stat st;
    auto exists = [&st](const std::string &path) { return stat(path.c_str(), &st) == 0; };

    std::ifstream plan(name + ".plan");
    std::string line, step;
    for (long i = 0; i <= start && std::getline(plan, step); ++i)
        line = step;
    std::istringstream steps(line);
    std::string file;
    int n = 0;
    while (steps >> step) {
        if (step == "exit" && steps >> n) {
            _exit(n);
        } else if (step == "signal" && steps >> n) {
            die_by_signal(n);
        } else if (step == "await" && steps >> file) {
            while (!exists(file) && exists(args))
                usleep(2000);
        } else {
            break;
        }
    }
    while (exists(args))
        usleep(20000);
}
