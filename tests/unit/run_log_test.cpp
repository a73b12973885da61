// The run file's size cap under two writing threads: compaction keeps the
// directory line first, whole event lines, and the newest of them.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <thread>

#include "scratch.h"
#include "supervisor/run_log.h"

static std::string event(int thread, int n)
{
    return "event " + std::to_string(thread) + " number " + std::to_string(n) + " of the test\n";
}

TEST(RunLog, TwoWritersKeepTheDirectoryAndTheNewestWholeLinesUnderTheCap)
{
    FILE *file = tmpfile();  // only its descriptor is used
    int fd = fileno(file);
    ASSERT_EQ(write(fd, "/dir\n", 5), 5);
    EXPECT_EQ(log_append(0, "x\n", 2, 1024), -1);  // descriptor 0 is never the run file
    auto writer = [fd](int thread) {
        struct stat st;
        for (int n = 0; n < 2000; ++n) {
            std::string line = event(thread, n);
            ASSERT_EQ(log_append(fd, line.data(), (int)line.size(), 1024), 0);
            // Never over the cap, and no cut keeps less than half of it in
            // events (this writer alone has written more than that by now).
            ASSERT_TRUE(fstat(fd, &st) == 0 && st.st_size <= 1024 && (n < 20 || st.st_size >= 517));
        }
    };
    std::thread a(writer, 1), b(writer, 2);
    a.join();
    b.join();
    std::string text = Scratch::slurp("/proc/self/fd/" + std::to_string(fd)), line;
    fclose(file);
    EXPECT_EQ(text.back(), '\n');
    std::istringstream lines(text);
    ASSERT_TRUE(std::getline(lines, line) && line == "/dir") << line;
    int next[3] = {0, -1, -1};  // the event each writer must show next
    for (int thread = 0, n = 0; std::getline(lines, line);) {
        ASSERT_TRUE(sscanf(line.c_str(), "event %d number %d", &thread, &n) == 2 &&
                    (thread == 1 || thread == 2) && line + "\n" == event(thread, n))
            << line;
        EXPECT_TRUE(next[thread] < 0 || n == next[thread]) << line;
        next[thread] = n + 1;
    }
    // What is left of each writer's events ends with its last one.
    EXPECT_EQ(std::max(next[1], next[2]), 2000);
    EXPECT_TRUE(std::min(next[1], next[2]) == -1 || next[1] == next[2]) << next[1] << next[2];
}
