// The run file's size cap: compaction keeps the directory line first, whole
// event lines, and the newest of them; two threads never split a line.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "supervisor/run_log.h"

namespace
{

struct temp_log {
    std::string path;
    int fd;
    explicit temp_log(const std::string &header)
    {
        char templ[] = "/tmp/watchd-log-XXXXXX";
        fd = mkstemp(templ);
        path = templ;
        EXPECT_EQ(write(fd, header.data(), header.size()), (ssize_t)header.size());
    }
    ~temp_log()
    {
        close(fd);
        unlink(path.c_str());
    }
    std::vector<std::string> lines() const
    {
        std::ifstream in(path);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }
    long size() const { return lseek(fd, 0, SEEK_END); }
};

std::string event(int thread, int n)
{
    std::ostringstream line;
    line << "event " << thread << " number " << n << " of the test\n";
    return line.str();
}

}  // namespace

TEST(RunLog, RefusesDescriptorZeroAndBelow)
{
    EXPECT_EQ(log_append(0, "x\n", 2, 1024), -1);
    EXPECT_EQ(log_append(-1, "x\n", 2, 1024), -1);
}

TEST(RunLog, StaysUnderTheCapKeepingHeaderAndNewestLines)
{
    const long cap = 1024;
    temp_log log("/some/dir\n");
    for (int n = 0; n < 500; ++n) {
        std::string line = event(0, n);
        ASSERT_EQ(log_append(log.fd, line.data(), (int)line.size(), cap), 0);
        ASSERT_LE(log.size(), cap);
    }
    std::vector<std::string> lines = log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "/some/dir");
    // The events that remain are the newest ones, consecutive, ending with
    // the last, and at least half the cap of them survived the last cut.
    int first = 500 - (int)(lines.size() - 1);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i] + "\n", event(0, first + (int)i - 1));
    EXPECT_GE(log.size() - 10, cap / 2);
}

TEST(RunLog, TwoThreadsNeverSplitALine)
{
    const long cap = 2048;
    temp_log log("/dir\n");
    auto writer = [&](int thread) {
        for (int n = 0; n < 2000; ++n) {
            std::string line = event(thread, n);
            log_append(log.fd, line.data(), (int)line.size(), cap);
        }
    };
    std::thread a(writer, 1);
    std::thread b(writer, 2);
    a.join();
    b.join();
    std::vector<std::string> lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "/dir");
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind("event ", 0), 0u) << lines[i];
    EXPECT_LE(log.size(), cap);
}
