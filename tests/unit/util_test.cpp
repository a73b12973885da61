// The file and JSON utilities against real files in a scratch directory.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "util/files.h"
#include "util/json_file.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace
{

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class Util : public testing::Test
{
  protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/watchd-util-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        char *real = realpath(tmpl, nullptr);
        dir = real;
        free(real);
    }
    void TearDown() override { system(("rm -rf '" + dir + "'").c_str()); }
    std::string at(const char *name) const { return dir + "/" + name; }
    std::string dir;
};

TEST_F(Util, ReadJsonFileYieldsATreeOnlyForParsableText)
{
    struct {
        const char *content;  // null: no file
        int type;             // cJSON type of the tree, 0 for none
    } cases[] = {
        {nullptr, 0},
        {"", 0},
        {" \n", 0},
        {"not json", 0},
        {"{\"a\":1", 0},
        {"{\"a\":1} trailing text", cJSON_Object},
        {"[1,2]", cJSON_Array},
        {"\"text\"", cJSON_String},
    };
    for (const auto &c : cases) {
        std::string path = at("doc.json");
        unlink(path.c_str());
        if (c.content)
            put(path, c.content);
        json_tree tree(read_json_file(path.c_str()));
        ASSERT_EQ(tree ? tree.get()->type & 0xff : 0, c.type) << (c.content ? c.content : "-");
        // Members exist in the object only; an array has none.
        EXPECT_EQ(tree ? json_get_int(tree.get(), "a") : 0, c.type == cJSON_Object ? 1 : 0);
    }
}

TEST_F(Util, MemberAccessorsIgnoreCaseAndTakeTheFirstMatch)
{
    put(at("doc.json"), R"({"s":"txt","e":"","n":3.9,"m":-3.9,"t":true,"f":false,"z":null,
        "d":"5","st":"true","one":1,"o":{},"a":[1],"Version":"V1","version":"v2"})");
    json_tree tree(read_json_file(at("doc.json").c_str()));
    ASSERT_TRUE(tree);
    struct {
        const char *name;
        const char *text;  // json_get_string, null for none
        int value;         // json_get_int
        int is_true;       // json_is_true
    } cases[] = {
        {"s", "txt", 0, 0},         {"e", "", 0, 0},         {"n", nullptr, 3, 0},
        {"m", nullptr, -3, 0},      {"t", nullptr, 1, 1},    {"f", nullptr, 0, 0},
        {"z", nullptr, 0, 0},       {"d", "5", 0, 0},        {"st", "true", 0, 0},
        {"ONE", nullptr, 1, 0},     {"o", nullptr, 0, 0},    {"a", nullptr, 0, 0},
        {"missing", nullptr, 0, 0}, {"version", "V1", 0, 0}, {"VERSION", "V1", 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(json_get_string(tree.get(), c.name), c.text) << c.name;
        EXPECT_EQ(json_get_int(tree.get(), c.name), c.value) << c.name;
        EXPECT_EQ(json_is_true(tree.get(), c.name), c.is_true) << c.name;
    }
}

TEST_F(Util, LockFileIsExclusiveCloseOnExecAndRewrittenOnlyUnderTheLock)
{
    std::string path = at("prog.run");
    CaptureStdout();
    EXPECT_EQ(lock_file_open(nullptr, "x", 1), -1);
    EXPECT_EQ(GetCapturedStdout(), "NULL file name\n");

    int fd = lock_file_open(path.c_str(), "/work/dir\n", 10);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    ASSERT_EQ(write(fd, "event\n", 6), 6);  // positioned after the data
    EXPECT_EQ(slurp(path), "/work/dir\nevent\n");

    CaptureStdout();
    EXPECT_EQ(lock_file_open(path.c_str(), "other", 5), -1);  // same process, second open
    EXPECT_EQ(GetCapturedStdout(), "already in use for " + path + "\n");
    EXPECT_EQ(slurp(path), "/work/dir\nevent\n");

    close(fd);
    fd = lock_file_open(path.c_str(), "", 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(slurp(path), "");
    int other = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
    close(fd);
}

TEST_F(Util, LockFileRefusesAMissingDirectoryAndASymbolicLink)
{
    put(at("target"), "keep me");
    ASSERT_EQ(symlink(at("target").c_str(), at("link.run").c_str()), 0);
    for (const std::string &path : {at("link.run"), at("missing/prog.run")}) {
        CaptureStdout();
        EXPECT_EQ(lock_file_open(path.c_str(), "data", 4), -1);
        EXPECT_EQ(GetCapturedStdout(), "failed to open " + path + "\n");
    }
    EXPECT_EQ(slurp(at("target")), "keep me");
}

TEST_F(Util, CloseFromClosesFromItsStartUpward)
{
    const int probes[] = {0, 1, 2, 4, 10};
    struct {
        int first;
        unsigned open_after;  // bit i: probes[i] still open
    } cases[] = {{0, 0x07}, {-5, 0x07}, {3, 0x07}, {5, 0x0f}, {11, 0x1f}, {1, 0x01}};
    for (const auto &c : cases) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int null = open("/dev/null", O_RDWR);
            for (int fd : {0, 1, 2, 4, 10})
                if (fcntl(fd, F_GETFD) < 0 || fd > 2)
                    dup2(null, fd);
            close_from(c.first);
            unsigned open_now = 0;
            for (int i = 0; i < 5; ++i)
                if (fcntl(probes[i], F_GETFD) >= 0)
                    open_now |= 1u << i;
            _exit((int)open_now);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ((unsigned)WEXITSTATUS(status), c.open_after) << "first " << c.first;
    }
}

TEST_F(Util, EnterProgramDirChangesIntoTheProgramsDirectory)
{
    ASSERT_EQ(mkdir(at("bin").c_str(), 0755), 0);
    char *saved = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    struct {
        std::string program;
        bool null;
        std::string cwd_after;
    } cases[] = {{at("bin/watchd"), false, at("bin")},
                 {"watchd", false, dir},
                 {"/watchd", false, "/"},
                 {"", true, dir},
                 {at("missing/watchd"), false, dir}};
    for (const auto &c : cases) {
        ASSERT_EQ(chdir(dir.c_str()), 0);
        enter_program_dir(c.null ? nullptr : c.program.c_str());
        char *now = getcwd(nullptr, 0);
        EXPECT_EQ(std::string(now), c.cwd_after) << c.program;
        free(now);
    }
    ASSERT_EQ(chdir(saved), 0);
    free(saved);
}

TEST_F(Util, EnsureDirCreatesOnlyTheLastComponent)
{
    put(at("plain"), "x");
    ASSERT_EQ(mkdir(at("old").c_str(), 0700), 0);
    std::string missing = at("no/such");
    struct {
        std::string path;
        int result;
        std::string message;
    } cases[] = {
        {at("old"), 0, ""},
        {at("plain"), 0, ""},
        {at("new"), 0, ""},
        {missing, -1, "mkdir (" + missing + ") error: " + strerror(ENOENT)},
    };
    for (const auto &c : cases) {
        CaptureStdout();
        EXPECT_EQ(ensure_dir(c.path.c_str()), c.result) << c.path;
        EXPECT_EQ(GetCapturedStdout(), c.message);
    }
    struct stat st;
    ASSERT_EQ(stat(at("new").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(Util, WriteWholeFileReportsFailedOpensAndWrites)
{
    put(at("f"), "old content");
    EXPECT_EQ(write_whole_file(at("f").c_str(), "", 0), 0);
    EXPECT_EQ(slurp(at("f")), "");
    EXPECT_EQ(write_whole_file(at("f").c_str(), "new\0x", 5), 0);
    EXPECT_EQ(slurp(at("f")), std::string("new\0x", 5));
    EXPECT_EQ(write_whole_file(at("no/f").c_str(), "x", 1), -1);
    EXPECT_EQ(write_whole_file("/dev/full", "x", 1), -1);  // fails at flush
}

TEST_F(Util, CopyFileCopiesByteForByte)
{
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += (char)((i * 7919 + i / 13) & 0xff);
    put(at("src"), bytes);
    put(at("dst"), std::string(9000, 'x'));
    EXPECT_EQ(copy_file(at("src").c_str(), at("dst").c_str()), 0);
    EXPECT_EQ(slurp(at("dst")), bytes);

    put(at("empty"), "");
    EXPECT_EQ(copy_file(at("empty").c_str(), at("fresh").c_str()), 0);
    EXPECT_EQ(slurp(at("fresh")), "");
    struct stat st;
    ASSERT_EQ(stat(at("fresh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(Util, CopyFileFailuresReturnMinusOneAndCloseWhatOpened)
{
    put(at("src"), "data");
    put(at("dst"), "previous");
    struct {
        std::string from, to;
        bool source_opens;
    } cases[] = {{at("missing"), at("dst"), false}, {at("src"), at("no/dst"), true}};
    for (const auto &c : cases) {
        CaptureStdout();
        EXPECT_EQ(copy_file(c.from.c_str(), c.to.c_str()), -1);
        std::string out = GetCapturedStdout();
        int in = 0, to = 0;
        ASSERT_EQ(sscanf(out.c_str(), "Failed to read or write, in, %d, out, %d", &in, &to), 2);
        EXPECT_EQ(out.back(), '\n');
        EXPECT_EQ(c.source_opens ? to : in, -1) << out;
        int opened = c.source_opens ? in : to;
        EXPECT_GE(opened, 3) << out;
        EXPECT_EQ(fcntl(opened, F_GETFD), -1);  // closed again
    }
    EXPECT_EQ(slurp(at("dst")), "");                           // emptied all the same
    EXPECT_EQ(copy_file(at("src").c_str(), "/dev/full"), -1);  // write fails
    EXPECT_EQ(copy_file(dir.c_str(), at("dst").c_str()), -1);  // read fails
}

}  // namespace
