// The file and JSON utilities against real files in a scratch directory.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <tuple>
#include <utility>

#include "util/files.h"
#include "util/json_file.h"

class Util : public testing::Test
{
  protected:
    void SetUp() override { ASSERT_NE(mkdtemp(&dir[0]), nullptr); }
    void TearDown() override { system(("rm -rf '" + dir + "'").c_str()); }
    std::string at(const char *name) const { return dir + "/" + name; }
    std::string dir = "/tmp/watchd-util-XXXXXX";
};

TEST_F(Util, JsonFilesAndTheirMembers)
{
    const std::pair<const char *, int> files[] = {
        // content (null: no file), cJSON type of the tree (0: none)
        {nullptr, 0},           {"", 0},
        {"not json", 0},        {"{\"a\":1", 0},
        {"[1,2]", cJSON_Array}, {"{\"a\":1} trailing text", cJSON_Object},
    };
    for (const auto &[content, type] : files) {
        if (content)
            std::ofstream(at("doc.json")) << content;
        json_tree tree(read_json_file(at(content ? "doc.json" : "none.json").c_str()));
        EXPECT_EQ(tree ? tree.get()->type & 0xff : 0, type) << (content ? content : "(none)");
    }
    std::ofstream(at("doc.json")) << R"({"e":"","n":3.9,"m":-3.9,"t":true,"st":"true","one":1,
        "Version":"V1","version":"v2"})";
    json_tree tree(read_json_file(at("doc.json").c_str()));
    ASSERT_TRUE(tree);
    const std::tuple<const char *, const char *, int, int> members[] = {
        // name, json_get_string (null: none), json_get_int, json_is_true
        {"e", "", 0, 0},         {"n", nullptr, 3, 0},       {"m", nullptr, -3, 0},
        {"t", nullptr, 1, 1},    {"st", "true", 0, 0},       {"ONE", nullptr, 1, 0},
        {"VERSION", "V1", 0, 0}, {"missing", nullptr, 0, 0},
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
        pid_t pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_RDWR), open_now = 0;
            for (int fd = 0; fd < 8; ++fd)
                dup2(null, fd);
            close_from(first);
            for (int fd = 0; fd < 8; ++fd)
                open_now |= (fcntl(fd, F_GETFD) >= 0) << fd;
            _exit(open_now);  // bit n: descriptor n is still open
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_EQ(WEXITSTATUS(status), first == 5 ? 0x1f : 0x07) << "first " << first;
    }
}

TEST_F(Util, EnterProgramDirChangesIntoTheProgramsDirectory)
{
    char saved[PATH_MAX], now[PATH_MAX];
    ASSERT_TRUE(getcwd(saved, sizeof saved) && mkdir(at("bin").c_str(), 0755) == 0 &&
                chdir(dir.c_str()) == 0 && getcwd(now, sizeof now));
    const std::string here = now, program = here + "/bin/watchd";  // here: /tmp resolved
    const std::pair<const char *, std::string> cases[] = {
        {program.c_str(), here + "/bin"}, {"watchd", here}, {"/watchd", "/"}, {nullptr, here}};
    for (const auto &c : cases) {
        ASSERT_EQ(chdir(here.c_str()), 0);
        enter_program_dir(c.first);
        EXPECT_STREQ(getcwd(now, sizeof now), c.second.c_str()) << (c.first ? c.first : "(null)");
    }
    ASSERT_EQ(chdir(saved), 0);
}

TEST_F(Util, EnsureDirFailsOnlyWhenItCannotCreate)
{
    std::ofstream(at("plain")) << "x";
    for (const std::string &path : {dir, at("plain"), at("new")})
        EXPECT_EQ(ensure_dir(path.c_str()), 0) << path;
    struct stat st;
    EXPECT_TRUE(stat(at("new").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    testing::internal::CaptureStdout();
    EXPECT_EQ(ensure_dir(at("no/such").c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "mkdir (" + at("no/such") + ") error: " + strerror(ENOENT));
}

TEST_F(Util, WriteWholeFileAndCopyFileReportFailures)
{
    EXPECT_EQ(write_whole_file(at("f").c_str(), "new\0x", 5), 0);
    EXPECT_EQ(write_whole_file("/dev/full", "x", 1), -1);    // fails at flush
    EXPECT_EQ(copy_file(at("f").c_str(), "/dev/full"), -1);  // write fails
    EXPECT_EQ(copy_file(dir.c_str(), at("g").c_str()), -1);  // read of a directory fails
    // An open failure names both descriptors; the one that opened is closed
    // again, or the second failure would not get the same descriptor.
    testing::internal::CaptureStdout();
    const int next = open("/dev/null", O_RDONLY);  // the descriptor the next open gets
    close(next);
    EXPECT_EQ(copy_file(at("none").c_str(), at("g").c_str()), -1);
    EXPECT_EQ(copy_file(at("f").c_str(), at("no/g").c_str()), -1);
    const std::string n = std::to_string(next), failed = "Failed to read or write, in, ";
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              failed + "-1, out, " + n + "\n" + failed + n + ", out, -1\n");
    EXPECT_EQ(fcntl(next, F_GETFD), -1);
}
