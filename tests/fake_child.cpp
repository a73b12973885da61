// A stand-in for a supervised program. Copied into a test's scratch directory
// under a name unique to the test, it appends one line per start to
// NAME.args in its working directory (the daemon's directory):
//   pid <TAB> open descriptors <TAB> argv[0] <TAB> argv[1] ...
// and then follows line k of NAME.plan for its k-th start (the last line
// repeats; no plan means waiting forever). A plan line is a list of steps:
//   wait MS        sleep MS milliseconds
//   exit N         exit with status N
//   signal N       die by signal N
//   alive MS       recreate the -A file every MS milliseconds, from then on
//   await FILE     wait until FILE exists (the test's go-ahead)
//   forever        wait until killed
// Running out of steps also waits until killed. Waiting of any kind ends
// with exit status 0 once NAME.args is gone (the test's directory removed).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace
{

std::string open_descriptors()
{
    std::string list;
    DIR *dir = opendir("/proc/self/fd");
    while (dirent *entry = dir ? readdir(dir) : nullptr) {
        if (entry->d_name[0] != '.' && atoi(entry->d_name) != dirfd(dir))
            list += (list.empty() ? "" : ",") + std::string(entry->d_name);
    }
    if (dir)
        closedir(dir);
    return list;
}

std::vector<std::string> lines_of(const std::string &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void sleep_ms(long ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

[[noreturn]] void die_by_signal(int sig)
{
    rlimit no_core{0, 0};  // no core files from the deaths a plan asks for
    setrlimit(RLIMIT_CORE, &no_core);
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(200);
}

}  // namespace

int main(int argc, char **argv)
{
    const char *slash = strrchr(argv[0], '/');
    std::string name = slash ? slash + 1 : argv[0];
    std::string alive;
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "-A") == 0)
            alive = argv[i + 1];
    }

    std::string args = name + ".args";
    size_t start = lines_of(args).size();
    std::string record = std::to_string(getpid()) + "\t" + open_descriptors();
    for (int i = 0; i < argc; ++i)
        record += std::string("\t") + argv[i];
    std::ofstream(args, std::ios::app) << record + "\n";  // one write
    // Waiting ends when the test removes its directory with the records.
    auto present = [&] { return access(args.c_str(), F_OK) == 0; };

    std::vector<std::string> plan = lines_of(name + ".plan");
    std::istringstream steps(plan.empty() ? "" : plan[std::min(start, plan.size() - 1)]);
    std::string step;
    std::string file;
    long ms = 0;
    while (steps >> step) {
        if (step == "wait" && steps >> ms) {
            sleep_ms(ms);
        } else if (step == "exit" && steps >> ms) {
            _exit((int)ms);
        } else if (step == "signal" && steps >> ms) {
            die_by_signal((int)ms);
        } else if (step == "alive" && steps >> ms) {
            for (; present(); sleep_ms(ms))
                close(open(alive.c_str(), O_WRONLY | O_CREAT, 0644));
        } else if (step == "await" && steps >> file) {
            while (access(file.c_str(), F_OK) != 0 && present())
                sleep_ms(2);
        } else {
            break;
        }
    }
    while (present())
        sleep_ms(20);
}
