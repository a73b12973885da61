// A stand-in for a supervised program. Copied into a test's scratch directory
// under a name unique to the test, it appends one line per start to
// NAME.args in its working directory (the daemon's directory):
//   pid <TAB> open descriptors <TAB> argv[0] <TAB> argv[1] ...
// and then follows line k of NAME.plan for its k-th start (the last line
// repeats; no plan means waiting forever). A plan line is a list of steps:
//   wait MS        sleep MS milliseconds
//   exit N         exit with status N
//   signal N       die by signal N
//   alive MS       recreate the -A file every MS milliseconds, forever
//   alive_n MS K   recreate it K times, MS apart, then stop refreshing
//   touch FILE     create FILE
//   await FILE     wait until FILE exists (the test's go-ahead)
//   forever        wait until killed
// Running out of steps also waits until killed.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

std::string base_name(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

std::string open_descriptors()
{
    std::string list;
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return "?";
    int own = dirfd(dir);
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.' || atoi(entry->d_name) == own)
            continue;
        if (!list.empty())
            list += ',';
        list += entry->d_name;
    }
    closedir(dir);
    return list;
}

int count_lines(const std::string &path)
{
    std::ifstream in(path);
    int lines = 0;
    std::string line;
    while (std::getline(in, line))
        ++lines;
    return lines;
}

std::string plan_line(const std::string &path, int index)
{
    std::ifstream in(path);
    std::string line;
    std::string last;
    for (int i = 0; std::getline(in, line); ++i) {
        last = line;
        if (i == index)
            return line;
    }
    return last;
}

void sleep_ms(long ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

void touch(const std::string &path)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        close(fd);
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

[[noreturn]] void forever()
{
    for (;;)
        pause();
}

}  // namespace

int main(int argc, char **argv)
{
    std::string name = base_name(argv[0]);
    std::string alive;
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "-A") == 0)
            alive = argv[i + 1];
    }

    std::string args_path = name + ".args";
    int start = count_lines(args_path);
    std::string record = std::to_string(getpid()) + "\t" + open_descriptors();
    for (int i = 0; i < argc; ++i)
        record += std::string("\t") + argv[i];
    record += "\n";
    int fd = open(args_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t ignored = write(fd, record.data(), record.size());
        (void)ignored;
        close(fd);
    }

    std::istringstream steps(plan_line(name + ".plan", start));
    std::string step;
    while (steps >> step) {
        long a = 0;
        long b = 0;
        std::string word;
        if (step == "wait" && steps >> a) {
            sleep_ms(a);
        } else if (step == "exit" && steps >> a) {
            _exit((int)a);
        } else if (step == "signal" && steps >> a) {
            die_by_signal((int)a);
        } else if (step == "alive" && steps >> a) {
            for (;;) {
                touch(alive);
                sleep_ms(a);
            }
        } else if (step == "alive_n" && steps >> a >> b) {
            for (long i = 0; i < b; ++i) {
                touch(alive);
                sleep_ms(a);
            }
        } else if (step == "touch" && steps >> word) {
            touch(word);
        } else if (step == "await" && steps >> word) {
            while (access(word.c_str(), F_OK) != 0)
                sleep_ms(2);
        } else {
            forever();
        }
    }
    forever();
}
