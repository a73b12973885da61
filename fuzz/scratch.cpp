// The scratch area of a fuzz target; see scratch.h.
#include "scratch.h"

#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

static char root[4096];

static int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

static void remove_scratch()
{
    nftw(root, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

static void must(bool ok, const char *what)
{
    if (!ok) {
        perror(what);
        exit(2);
    }
}

void enter_scratch()
{
    const char *tmp = getenv("TMPDIR");
    snprintf(root, sizeof root, "%s/watchd-fuzz.XXXXXX", tmp && tmp[0] ? tmp : "/tmp");
    must(mkdtemp(root) != nullptr, "mkdtemp");
    atexit(remove_scratch);
    must(chdir(root) == 0, "chdir");
    must(mkdir("bin", 0700) == 0 && mkdir("bin/uci", 0700) == 0 && mkdir("data", 0700) == 0,
         "mkdir");
    must(chdir("bin") == 0, "chdir");
    must(freopen("/dev/null", "w", stdout) != nullptr, "freopen");
}

void put_file(const char *path, const void *data, size_t size)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    must(fd >= 0, path);
    must(size == 0 || write(fd, data, size) == (ssize_t)size, path);
    close(fd);
}

std::string get_file(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
