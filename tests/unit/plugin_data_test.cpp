// The boot-check record and the upgrade installer against real files and
// real archives, in a scratch layout <root>/bin (the working directory, with
// the work directory uci/ in it) and <root>/data.
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "plugin_data/bootchk.h"
#include "plugin_data/installer.h"
#include "supervisor/check_alive.h"
#include "supervisor/watch_table.h"

const char *const RECORD = "../data/.bootchk";
const char *const PACKAGE = "uci/ttupgrade.tgz";
const char *const INSTALLER_RECORD = R"({"version":"20.16.06.36","plugindata":1})";

// The file's bytes, or "(none)" when it is missing.
static std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(none)";
}

static int sh(const std::string &command)
{
    return system(command.c_str());
}

class DataArea : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_STREQ(UCI_DIR, "./uci/");  // never the product's work directory
        ASSERT_NE(mkdtemp(&root[0]), nullptr);
        ASSERT_EQ(sh("cd " + root + " && mkdir -p bin/uci data stage"), 0);
        ASSERT_TRUE(getcwd(saved_cwd, sizeof saved_cwd) && chdir((root + "/bin").c_str()) == 0);
    }
    void TearDown() override
    {
        sh("chattr -i " + root + "/data 2>/dev/null; rm -rf " + root);
        EXPECT_EQ(chdir(saved_cwd), 0);
    }
    void install(int code)
    {
        testing::internal::CaptureStderr();  // tar's complaints
        install_upgrade(nullptr, code);
        testing::internal::GetCapturedStderr();
    }
    std::string root = "/tmp/watchd-data-XXXXXX";
    char saved_cwd[PATH_MAX] = ".";
};

TEST_F(DataArea, ValidityAndRemovalOfRealRecords)
{
    const std::pair<const char *, int> cases[] = {
        // record (null: none), bootchk_valid
        {nullptr, 0},
        {"not json", 0},
        {R"([{"version":"v","plugindata":1}])", 0},
        {R"({"version":7,"plugindata":1})", 0},
        {R"({"plugindata":1})", 0},
        {R"({"version":"v","plugindata":true})", 1},
        {R"({"version":"v","plugindata":1.5})", 1},
        {R"({"VERSION":"v","PluginData":1})", 1},
        {R"({"version":"v","plugindata":0,"plugindata":1})", 0},
        {INSTALLER_RECORD, 1},
    };
    for (const auto &c : cases) {
        if (c.first)
            std::ofstream(RECORD) << c.first;
        EXPECT_EQ(bootchk_valid(), c.second) << (c.first ? c.first : "(none)");
        EXPECT_EQ(bootchk_remove(), c.first ? 1 : 0);  // any record there is goes
        EXPECT_EQ(slurp(RECORD), "(none)");
    }
    std::ofstream(RECORD) << INSTALLER_RECORD;  // a readable record that cannot be deleted
    if (sh("chattr +i ../data 2>/dev/null") != 0)
        GTEST_SKIP() << "this filesystem cannot make the data directory immutable";
    EXPECT_EQ(bootchk_remove(), 0);
    EXPECT_EQ(slurp(RECORD), INSTALLER_RECORD);
}

// The archive's own record is replaced by the installer's; what else is in
// the data directory stays.
TEST_F(DataArea, InstallerRecordsWhatItDid)
{
    // a.tgz: a program and a record of its own; binary: no archive, which
    // code 131 copies byte for byte over the longer old data file.
    ASSERT_EQ(
        sh("cd ../stage && echo '#!/bin/sh' >prog && echo '{\"version\":\"x\"}' >.bootchk "
           "&& tar -czf a.tgz prog .bootchk && head -c 6000 /bin/sh >binary && seq 9000 >old"),
        0);
    const std::tuple<const char *, int, std::string, const char *> cases[] = {
        // record before (null: none), exit code, package (none: ""), record after
        {nullptr, 130, "a.tgz", INSTALLER_RECORD},  // 40 bytes exactly
        {INSTALLER_RECORD, 130, "a.tgz",
         R"({"version":"20.16.06.36","plugindata":1,"plugindata":1})"},
        {nullptr, 130, "binary", R"({"version":"20.16.06.36"})"},
        {R"({"version":7})", 130, "a.tgz",
         R"({"version":7,"version":"20.16.06.36","plugindata":1})"},
        {R"({"Version":"a","plugindata":0})", 130, "a.tgz",
         R"({"Version":"a","plugindata":0,"plugindata":1})"},
        {"not json", 131, "binary", R"({"version":"20.16.06.36","luadata":1})"},
        {"{\n  \"version\": \"1.2\",\n  \"plugindata\": 1,\n  \"x\": [1, 2.5, \"s\"]\n}\n", 132,
         "binary", R"({"version":"1.2","plugindata":1,"x":[1,2.5,"s"]})"},
        {R"({"plugindata":1})", 131, "", R"({"plugindata":1})"},
    };
    for (const auto &[before, code, package, after] : cases) {
        SCOPED_TRACE(std::string(before ? before : "(none)") + " " + std::to_string(code));
        ASSERT_EQ(sh("rm -rf ../data && mkdir ../data && cp ../stage/old ../data/bjfe"), 0);
        if (before)
            std::ofstream(RECORD) << before;
        ASSERT_TRUE(package.empty() || sh("cp ../stage/" + package + " " + PACKAGE) == 0);
        install(code);
        EXPECT_EQ(slurp(PACKAGE), "(none)");
        EXPECT_EQ(slurp(RECORD), after);
        EXPECT_EQ(slurp("../data/prog"), package == "a.tgz" ? "#!/bin/sh\n" : "(none)");
        EXPECT_EQ(slurp("../data/bjfe"),
                  slurp(package == "binary" && code == 131 ? "../stage/binary" : "../stage/old"));
    }
}

// A gzipped ustar archive written here, so that no tar's own options shape
// it. Members are {name, type flag, link target, content}, each with mode 4755
// and the device numbers of /dev/null, which only a character device uses.
static std::string tgz(const std::vector<std::array<std::string, 4>> &members)
{
    std::string archive;
    for (const auto &[name, type, link, data] : members) {
        char h[512] = {};
        name.copy(h, 100);
        snprintf(h + 100, 48, "%07o %07o %07o %011zo %011o", 04755, 0, 0, data.size(), 0);
        h[156] = type[0];
        link.copy(h + 157, 100);
        memcpy(h + 257, "ustar\00000", 8);  // magic and version
        snprintf(h + 329, 16, "%07o %07o", 1, 3);
        // The checksum counts its own field as spaces; every byte is ASCII.
        snprintf(h + 148, 8, "%06o", std::accumulate(h, h + 512, 8 * ' '));
        h[155] = ' ';
        archive += std::string(h, 512) + data + std::string((512 - data.size() % 512) % 512, '\0');
    }
    std::ofstream("../stage/p.tar", std::ios::binary) << archive + std::string(1024, '\0');
    return sh("gzip -c ../stage/p.tar >../stage/p.tgz") == 0 ? slurp("../stage/p.tgz") : "";
}

// Damaged and hostile packages, run as root, with either platform tar (GNU or
// BusyBox): the record is marked only when the package unpacked whole, the
// package goes in every case, and nothing outside the data directory is
// written. An entry with ".." or a hard link to an outside file: GNU tar
// refuses it and fails; BusyBox strips "../" from the entry, or makes the
// link, and succeeds. For those the record is not asserted.
TEST_F(DataArea, DamagedAndHostilePackages)
{
    const std::string outside = root + "/outside";
    ASSERT_EQ(sh("mkdir " + outside + " && echo v >" + outside + "/victim"), 0);
    // A leading "/" is stripped; modes and device nodes are restored as packed.
    const std::string good = tgz({{"prog", "0", "", "#!/bin/sh\n"},
                                  {"nulldev", "3", "", ""},
                                  {outside + "/abs", "0", "", "a"}});
    std::string corrupt = good;
    corrupt[good.size() / 2] ^= 0x55;
    const std::tuple<std::string, int, std::string> cases[] = {
        // package, record marked (-1: as the tar decides), a test of the data directory
        {good, 1, "[ -u ../data/prog -a -c ../data/nulldev -a -f ../data" + outside + "/abs ]"},
        // Without the gzip trailer (checksum, length) all unpacks, yet tar fails.
        {good.substr(0, good.size() - 8), 0, "[ -u ../data/prog ]"},
        {good.substr(0, good.size() / 2), 0, "true"},  // cut in half
        {corrupt, 0, "true"},                          // a byte changed
        {tgz({{"../outside/dd", "0", "", "x"}}), -1, "true"},
        // A file through a symbolic link of the same archive: both fail.
        {tgz({{"lnk", "2", outside, ""}, {"lnk/th", "0", "", "x"}}), 0, "true"},
        {tgz({{"hl", "1", "../outside/victim", ""}}), -1, "true"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto &[package, marked, left] = cases[i];
        SCOPED_TRACE(i);
        ASSERT_EQ(sh("rm -rf ../data && mkdir ../data"), 0);
        std::ofstream(PACKAGE, std::ios::binary) << package;
        install(EXIT_INSTALL_PLUGIN);
        EXPECT_EQ(slurp(PACKAGE), "(none)");
        if (marked >= 0)
            EXPECT_EQ(bootchk_valid(), marked);
        EXPECT_EQ(sh(left + " && [ \"$(ls -A ../outside)\" = victim ] && " +
                     "[ \"$(cat ../outside/victim)\" = v ]"),
                  0);
    }
}

// The installer's shell and tar get the default dispositions of the signals
// the daemon ignores: a fake tar succeeds only if neither SIGPIPE (13) nor
// SIGXFSZ (25; numbered as on the build machine, where it runs) is ignored.
TEST_F(DataArea, InstallerChildrenGetDefaultSignalDispositions)
{
    std::ofstream("../stage/tar") << "#!/bin/sh\nm=$(grep SigIgn /proc/$$/status | cut -f2)\n"
                                     "[ $((0x$m & 0x1001000)) = 0 ]\n";
    ASSERT_EQ(sh(std::string("chmod +x ../stage/tar && echo x >") + PACKAGE), 0);
    const std::string path = getenv("PATH");
    setenv("PATH", (root + "/stage:" + path).c_str(), 1);
    auto pipe_was = signal(SIGPIPE, SIG_IGN), xfsz_was = signal(SIGXFSZ, SIG_IGN);
    install(EXIT_INSTALL_PLUGIN);
    signal(SIGPIPE, pipe_was);
    signal(SIGXFSZ, xfsz_was);
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(bootchk_valid(), 1);
}

// Links planted in the work directory are removed, never written through:
// the installer reads the package it points at (hence a trusted package and a
// work directory of the daemon's own) and the watchdog deletes the alive file.
TEST_F(DataArea, LinksPlantedInTheWorkDirectoryAreRemovedNotWrittenThrough)
{
    ASSERT_EQ(sh("echo secret >../stage/victim && ln -s ../../stage/victim uci/ttupgrade.tgz && "
                 "ln -s ../../stage/victim uci/prog.alive"),
              0);
    install(EXIT_INSTALL_LUA);
    std::unique_ptr<watch_table> table{new watch_table()};
    watch_table_clear(table.get());
    table->proc_count = 1;
    table->slots[0].pid = getpid();
    table->slots[0].miss_count = 2;
    snprintf(table->slots[0].alive_path, PATH_BUF, "./uci//prog.alive");
    check_alive_pass(table.get());
    EXPECT_EQ(table->slots[0].miss_count, 0u);  // found, so alive
    EXPECT_EQ(sh("[ ! -L uci/ttupgrade.tgz ] && [ ! -L uci/prog.alive ]"), 0);
    EXPECT_EQ(slurp("../stage/victim"), "secret\n");
    EXPECT_EQ(slurp("../data/bjfe"), "secret\n");
}
