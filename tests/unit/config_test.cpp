// Loading the process table from real config files.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "supervisor/config.h"
#include "supervisor/watch_table.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace
{

class Config : public testing::Test
{
  protected:
    void SetUp() override { watch_table_clear(table.get()); }
    void TearDown() override { unlink(path.c_str()); }

    // Writes text as the config file and loads it; what it printed goes to out.
    int load(const std::string &text)
    {
        std::ofstream(path, std::ios::trunc) << text;
        CaptureStdout();
        int result = load_config(path.c_str(), table.get());
        out = GetCapturedStdout();
        return result;
    }
    // Bases and alive paths of the used slots, as "base|alive".
    std::vector<std::string> slots() const
    {
        std::vector<std::string> list;
        for (int i = 0; i < table->proc_count; ++i)
            list.push_back(std::string(table->slots[i].base) + "|" + table->slots[i].alive_path);
        return list;
    }

    std::string path = testing::TempDir() + "watchd-config-" + std::to_string(getpid());
    std::unique_ptr<watch_table> table{new watch_table()};
    std::string out;
};

TEST_F(Config, UsableFilesFillTheTable)
{
    const std::vector<std::string> fallback = {"tessal-dpi-inner|"};
    struct {
        const char *text;
        std::vector<std::string> slots;
    } cases[] = {
        {"{}", fallback},
        {R"({"other":1})", fallback},
        {R"({"__watch":{}})", fallback},
        {R"({"__watch":{"processes":[]}})", fallback},
        {R"({"__watch":{"processes":"engine"}})", fallback},
        {R"({"__watch":[{"processes":[{"base":"engine"}]}]})", fallback},
        {R"({"__watch":{"processes":[{"base":"engine","excheck":true},{"base":"ui"}]}})",
         {"engine|./uci//engine.alive", "ui|"}},
        {R"({"__WATCH":{"Processes":[{"BASE":"engine","ExCheck":true}]}})",
         {"engine|./uci//engine.alive"}},
        {R"({"__watch":{"processes":{"x":{"base":"a"},"y":{"base":"b"}}}})", {"a|", "b|"}},
        {R"({"__watch":{"processes":[{"base":"a","excheck":1},{"base":"b","excheck":"true"},
            {"base":"c","excheck":false},{"base":"d","excheck":null}]}})",
         {"a|", "b|", "c|", "d|"}},
    };
    for (const auto &c : cases) {
        watch_table_clear(table.get());
        table->slots[0].pid = 77;
        EXPECT_EQ(load(c.text), 0) << c.text;
        EXPECT_EQ(slots(), c.slots) << c.text;
        EXPECT_EQ(table->slots[0].pid, 0) << c.text;
        EXPECT_EQ(out, "") << c.text;
    }
}

TEST_F(Config, UnusableFilesFail)
{
    const char *cases[] = {
        "",
        "not json",
        R"({"__watch":{"processes":[{"name":"engine"}]}})",
        R"({"__watch":{"processes":[{"base":"a"},{"base":5}]}})",
        R"({"__watch":{"processes":[{"base":null}]}})",
        R"({"__watch":{"processes":["engine"]}})",
    };
    for (const char *text : cases) {
        EXPECT_EQ(load(text), -1) << text;
        EXPECT_EQ(out, "") << text;
    }
    unlink(path.c_str());
    EXPECT_EQ(load_config(path.c_str(), table.get()), -1);
}

TEST_F(Config, UnusableBaseFailsWithOneLineNamingTheEntry)
{
    for (const char *base : {"", "-9"}) {
        std::string text =
            std::string(R"({"__watch":{"processes":[{"base":"ok"},{"base":")") + base + "\"}]}}";
        EXPECT_EQ(load(text), -1) << base;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_EQ(out.back(), '\n');
        EXPECT_NE(out.find("process 2 "), std::string::npos) << out;
        EXPECT_NE(out.find(std::string("\"") + base + "\""), std::string::npos) << out;
    }
}

TEST_F(Config, OnlyTheFirstFourEntriesAreUsed)
{
    EXPECT_EQ(load(R"({"__watch":{"processes":[{"base":"a"},{"base":"b","excheck":true},
        {"base":"c"},{"base":"d"},{"base":"e","excheck":true},{"nobase":1}]}})"),
              0);
    EXPECT_EQ(slots(), (std::vector<std::string>{"a|", "b|./uci//b.alive", "c|", "d|"}));
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(out.find("ignored"), std::string::npos) << out;
}

}  // namespace
