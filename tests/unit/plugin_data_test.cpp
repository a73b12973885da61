// The boot-check record and the upgrade installer against real files and
// real archives, in a scratch layout <root>/bin (the working directory, with
// the work directory uci/ in it) and <root>/data.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "plugin_data/bootchk.h"
#include "plugin_data/installer.h"
#include "supervisor/watch_table.h"

namespace
{

const char *const RECORD = "../data/.bootchk";
const char *const PACKAGE = "uci/ttupgrade.tgz";
const char *const INSTALLER_RECORD = R"({"version":"20.16.06.36","plugindata":1})";
enum package_kind { none, archive, text };

bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes the file, or removes it when bytes is null.
void put(const std::string &path, const char *bytes, size_t size = std::string::npos)
{
    unlink(path.c_str());
    if (bytes)
        std::ofstream(path, std::ios::binary)
            << std::string(bytes, size == std::string::npos ? strlen(bytes) : size);
}

class DataArea : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_STREQ(UCI_DIR, "./uci/");  // never the product's work directory
        char tmpl[] = "/tmp/watchd-data-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        for (const char *sub : {"/bin", "/bin/uci", "/data", "/stage"})
            ASSERT_EQ(mkdir((root + sub).c_str(), 0755), 0);
        saved_cwd = getcwd(nullptr, 0);
        ASSERT_EQ(chdir((root + "/bin").c_str()), 0);
    }
    void TearDown() override
    {
        EXPECT_TRUE(!immutable || system("chattr -i ../data") == 0);
        EXPECT_TRUE(!saved_cwd || chdir(saved_cwd) == 0);
        free(saved_cwd);
        system(("rm -rf '" + root + "'").c_str());
    }

    // Makes the package a gzip-compressed tar archive of these files.
    void make_archive(const std::vector<std::pair<std::string, std::string>> &files)
    {
        std::string command = "tar -czf " + std::string(PACKAGE) + " -C ../stage";
        for (const auto &f : files) {
            std::string path = "../stage/" + f.first;
            system(("mkdir -p \"$(dirname '" + path + "')\"").c_str());
            put(path, f.second.c_str());
            command += " '" + f.first + "'";
        }
        ASSERT_EQ(system(command.c_str()), 0);
    }
    void install(int code)
    {
        testing::internal::CaptureStderr();  // tar's complaints
        install_upgrade(nullptr, code);
        testing::internal::GetCapturedStderr();
    }

    std::string root;
    char *saved_cwd = nullptr;
    bool immutable = false;
};

TEST_F(DataArea, ValidityOverRealRecords)
{
    struct {
        const char *record;  // null: no record
        int valid;
    } cases[] = {
        {nullptr, 0},
        {"", 0},
        {"not json", 0},
        {R"([{"version":"v","plugindata":1}])", 0},
        {R"("version")", 0},
        {R"({"version":"","plugindata":1})", 1},
        {R"({"version":7,"plugindata":1})", 0},
        {R"({"plugindata":1})", 0},
        {R"({"version":"v","plugindata":true})", 1},
        {R"({"version":"v","plugindata":1.5})", 1},
        {R"({"version":"v","plugindata":0})", 0},
        {R"({"version":"v","plugindata":2})", 0},
        {R"({"version":"v","plugindata":"1"})", 0},
        {R"({"VERSION":"v","PluginData":1})", 1},
        {R"({"version":"v","plugindata":0,"plugindata":1})", 0},
        {R"({"version":"v","plugindata":1,"plugindata":0})", 1},
        {R"({"version":5,"Version":"v","plugindata":1})", 0},
        {INSTALLER_RECORD, 1},
    };
    ASSERT_EQ(strlen(INSTALLER_RECORD), 40u);
    for (const auto &c : cases) {
        put(RECORD, c.record);
        EXPECT_EQ(bootchk_valid(), c.valid) << (c.record ? c.record : "(none)");
        EXPECT_EQ(exists(RECORD), c.record != nullptr);
        if (c.record) {
            EXPECT_EQ(slurp(RECORD), c.record);
        }
    }
}

TEST_F(DataArea, RemoveGivesOneOnlyWhenTheRecordIsGone)
{
    EXPECT_EQ(bootchk_remove(), 0);
    for (const char *record : {"", "not json", INSTALLER_RECORD}) {
        put(RECORD, record);
        EXPECT_EQ(bootchk_remove(), 1) << record;
        EXPECT_FALSE(exists(RECORD));
    }
    ASSERT_EQ(mkdir(RECORD, 0755), 0);  // readable, but unlink cannot remove it
    EXPECT_EQ(bootchk_remove(), 0);
    EXPECT_TRUE(exists(RECORD));
    EXPECT_EQ(bootchk_valid(), 0);
    rmdir(RECORD);

    put(RECORD, INSTALLER_RECORD);  // a readable record that cannot be deleted
    if (system("chattr +i ../data 2>/dev/null") != 0)
        GTEST_SKIP() << "this filesystem cannot make the data directory immutable";
    immutable = true;
    EXPECT_EQ(bootchk_remove(), 0);
    EXPECT_EQ(slurp(RECORD), INSTALLER_RECORD);
    EXPECT_EQ(bootchk_valid(), 1);
}

TEST_F(DataArea, InstallerRecordsWhatItDid)
{
    struct {
        const char *before;  // null: no record
        int code;
        package_kind package;
        const char *after;  // null: no record
        int valid;
    } cases[] = {
        {nullptr, 130, archive, INSTALLER_RECORD, 1},
        {R"({"Version":"v1","other":[1,2]})", 130, archive,
         R"({"Version":"v1","other":[1,2],"plugindata":1})", 1},
        {nullptr, 130, text, R"({"version":"20.16.06.36"})", 0},
        {R"({"version":7})", 130, archive,
         R"({"version":7,"version":"20.16.06.36","plugindata":1})", 0},
        {R"({"version":"a","plugindata":0})", 130, archive,
         R"({"version":"a","plugindata":0,"plugindata":1})", 0},
        {"not json", 131, text, R"({"version":"20.16.06.36","luadata":1})", 0},
        {"{\n  \"version\": \"1.2\",\n  \"plugindata\": 1,\n  \"x\": [1, 2.5, \"s\"],\n"
         "  \"o\": {\"k\": null}\n}\n",
         132, text, R"({"version":"1.2","plugindata":1,"x":[1,2.5,"s"],"o":{"k":null}})", 1},
        {R"([{"version":"v","plugindata":1}])", 132, text, R"({"version":"20.16.06.36"})", 0},
        {R"({"plugindata":1})", 130, none, R"({"plugindata":1})", 0},
        {R"({"plugindata":1})", 131, none, R"({"plugindata":1})", 0},
        {R"({"plugindata":1})", 132, none, R"({"plugindata":1})", 0},
        {nullptr, 130, none, nullptr, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.before ? c.before : "(none)") + " " + std::to_string(c.code));
        ASSERT_EQ(system("rm -rf ../data && mkdir ../data"), 0);
        put(RECORD, c.before);
        if (c.package == archive)
            make_archive({{"prog", "#!/bin/sh\n"}});
        else
            put(PACKAGE, c.package == text ? "this is not an archive\n" : nullptr);
        install(c.code);
        EXPECT_FALSE(exists(PACKAGE));
        EXPECT_EQ(exists(RECORD), c.after != nullptr);
        if (c.after) {
            EXPECT_EQ(slurp(RECORD), c.after);
        }
        EXPECT_EQ(bootchk_valid(), c.valid);
        EXPECT_EQ(exists("../data/prog"), c.package == archive && c.code == 130);
        EXPECT_EQ(exists("../data/bjfe"), c.package != none && c.code == 131);
    }
}

TEST_F(DataArea, ArchivesAreLaidOverTheDataDirectoryAndTheirRecordIsReplaced)
{
    put("../data/keep", "kept");
    put("../data/prog", "old");
    make_archive({{"prog", "new"}, {"sub/notes", "notes"}, {".bootchk", R"({"version":"x"})"}});
    install(EXIT_INSTALL_PLUGIN);
    EXPECT_EQ(slurp("../data/keep"), "kept");
    EXPECT_EQ(slurp("../data/prog"), "new");
    EXPECT_EQ(slurp("../data/sub/notes"), "notes");
    EXPECT_EQ(slurp(RECORD), INSTALLER_RECORD);

    make_archive({{"prog", "newer"}});
    install(EXIT_INSTALL_PLUGIN);
    EXPECT_EQ(slurp("../data/prog"), "newer");
    EXPECT_EQ(slurp(RECORD), R"({"version":"20.16.06.36","plugindata":1,"plugindata":1})");
    EXPECT_EQ(bootchk_valid(), 1);
}

TEST_F(DataArea, DataFileIsAByteForByteCopy)
{
    std::string bytes;
    for (int i = 0; i < 6000; ++i)
        bytes += (char)((i * 131 + i / 7) & 0xff);
    put("../data/bjfe", "old data file, longer than nothing");
    put(PACKAGE, bytes.data(), bytes.size());
    install(EXIT_INSTALL_LUA);
    EXPECT_EQ(slurp("../data/bjfe"), bytes);
    EXPECT_FALSE(exists(PACKAGE));
    EXPECT_EQ(slurp(RECORD), R"({"version":"20.16.06.36","luadata":1})");
}

// What the platform's tar does with hostile entries, run as root: the README
// documents these outcomes, and the package must come from a trusted source.
TEST_F(DataArea, HostileArchiveEntries)
{
    const std::string outside = root + "/outside";
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
    put("../stage/f", "x");
    ASSERT_EQ(symlink(outside.c_str(), "../stage/lnk"), 0);
    ASSERT_EQ(mknod("../stage/nulldev", S_IFCHR | 0644, makedev(1, 3)), 0);
    ASSERT_EQ(chmod("../stage/f", 04755), 0);
    const std::string tar = "tar -C ../stage -P ";
    struct {
        std::string make;     // commands that build the package
        bool unpacked;        // tar's status was 0: "plugindata" recorded
        std::string present;  // what the install leaves (relative to bin/)
    } cases[] = {
        // An entry with ".." is refused; tar reports failure.
        {tar + "-czf " + PACKAGE + " --transform 's|^f$|../outside/dd|' f", false, ""},
        // A leading "/" is removed: the entry lands inside the data directory.
        {tar + "-czf " + PACKAGE + " --transform 's|^f$|" + outside + "/abs|' f", true,
         "../data" + outside + "/abs"},
        // A file through a symbolic link of the same archive is refused.
        {tar + "-cf uci/p.tar lnk && " + tar + "-rf uci/p.tar --transform 's|^f$|lnk/th|' f && " +
             "gzip -c uci/p.tar > " + PACKAGE,
         false, "../data/lnk"},
        // Set-user-ID bits and device nodes are restored as they were packed.
        {tar + "-czf " + PACKAGE + " f nulldev", true, "../data/nulldev"},
    };
    for (const auto &c : cases) {
        unlink(RECORD);
        ASSERT_EQ(system(c.make.c_str()), 0) << c.make;
        install(EXIT_INSTALL_PLUGIN);
        EXPECT_EQ(bootchk_valid(), c.unpacked ? 1 : 0) << c.make;
        struct stat st;
        EXPECT_TRUE(c.present.empty() || lstat(c.present.c_str(), &st) == 0) << c.present;
    }
    DIR *dir = opendir(outside.c_str());
    int entries = 0;
    while (dirent *e = readdir(dir))
        entries += e->d_name[0] != '.';
    closedir(dir);
    EXPECT_EQ(entries, 0) << "nothing was written outside the data directory";
    struct stat st;
    ASSERT_EQ(stat("../data/f", &st), 0);
    EXPECT_TRUE(st.st_mode & S_ISUID);
    ASSERT_EQ(lstat("../data/nulldev", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

}  // namespace
