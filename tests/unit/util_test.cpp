// The file and JSON utilities against real files in a scratch directory.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <tuple>
#include <utility>

#include "scratch.h"
#include "util/files.h"
#include "util/json_file.h"

TEST_F(Scratch, JsonFilesAndTheirMembers)
{
    std::ofstream("bad.json") << "not json";
    EXPECT_TRUE(!json_tree(read_json_file("none.json")) && !json_tree(read_json_file("bad.json")));
    // Text after the document is no error.
    std::ofstream("doc.json") << R"({"e":"","n":3.9,"m":-3.9,"t":true,"f":false,"st":"true",
        "one":1,"Version":"V1","version":"v2"} trailing text)";
    json_tree tree(read_json_file("doc.json"));
    ASSERT_TRUE(tree);
    const std::tuple<const char *, const char *, int, int> members[] = {
        // name, json_get_string (null: none), json_get_int, json_is_true
        {"e", "", 0, 0},        {"n", nullptr, 3, 0},    {"m", nullptr, -3, 0},
        {"t", nullptr, 1, 1},   {"f", nullptr, 0, 0},    {"st", "true", 0, 0},
        {"ONE", nullptr, 1, 0}, {"VERSION", "V1", 0, 0}, {"missing", nullptr, 0, 0},
    };
    for (const auto &[name, text, value, is_true] : members) {
        EXPECT_STREQ(json_get_string(tree.get(), name), text) << name;
        EXPECT_EQ(json_get_int(tree.get(), name), value) << name;
        EXPECT_EQ(json_is_true(tree.get(), name), is_true) << name;
    }
}

TEST(CloseFrom, ClosesFromItsStartAndFromThreeForZeroOrBelow)
{
    for (int first : {0, -5, 5}) {
        auto close_and_list = [first] {
            int null = open("/dev/null", O_RDWR), open_now = 0;
            for (int fd = 0; fd < 8; ++fd)
                dup2(null, fd);
            close_from(first);
            for (int fd = 0; fd < 8; ++fd)
                open_now |= (fcntl(fd, F_GETFD) >= 0) << fd;
            _exit(open_now);  // bit n: descriptor n is still open
        };
        EXPECT_EXIT(close_and_list(), testing::ExitedWithCode(first == 5 ? 0x1f : 0x07), "");
    }
}

// Created files and directories get fixed permissions, and the lock file's
// descriptor is close-on-exec. A directory that is there, or a file in its
// place, is no failure; one that cannot be created is, with the system's reason. Writing and copying report
// every failure, and a failed open names both descriptors and closes the one
// that opened (or the second failure would not get the same descriptor).
TEST_F(Scratch, DirectoriesWritesAndCopiesReportFailures)
{
    std::ofstream("plain") << "x";
    for (const char *path : {".", "plain", "new"})
        EXPECT_EQ(ensure_dir(path), 0) << path;
    EXPECT_EQ(write_whole_file("f", "new\0x", 5), 0);
    const mode_t mask = umask(0);
    EXPECT_TRUE(ensure_dir("open") == 0 && copy_file("f", "copy") == 0);
    const int lock = lock_file_open("lock");
    umask(mask);
    EXPECT_TRUE(fcntl(lock, F_GETFD) & FD_CLOEXEC);
    close(lock);
    for (const auto &[path, mode] : {std::pair{"open", 0755}, {"copy", 0700}, {"lock", 0644}}) {
        struct stat st {};
        EXPECT_EQ(stat(path, &st) == 0 ? st.st_mode & 07777 : 0u, (unsigned)mode) << path;
    }
    EXPECT_EQ(write_whole_file("/dev/full", "x", 1), -1);  // fails at flush
    EXPECT_EQ(copy_file("f", "/dev/full"), -1);            // write fails
    EXPECT_EQ(copy_file(".", "g"), -1);                    // read of a directory fails
    testing::internal::CaptureStdout();
    EXPECT_EQ(ensure_dir("no/such"), -1);
    const int next = open("/dev/null", O_RDONLY);  // the descriptor the next open gets
    close(next);
    EXPECT_EQ(copy_file("none", "g"), -1);
    EXPECT_EQ(copy_file("f", "no/g"), -1);
    const std::string n = std::to_string(next), failed = "Failed to read or write, in, ";
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "mkdir (no/such) error: " + std::string(strerror(ENOENT)) + failed + "-1, out, " + n +
                  "\n" + failed + n + ", out, -1\n");
    EXPECT_EQ(fcntl(next, F_GETFD), -1);
}
