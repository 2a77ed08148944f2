#include <gtest/gtest.h>
#include "CommandLine.h"

TEST(CommandLine, OptionsAndMistakes) {
    using enum CommandLine::Action;
    struct Row { std::vector<std::string> args; CommandLine::Action action; bool background; } rows[] = {
        {{"--version", "--help"}, Help, false}, {{"--background", ""}, Error, true}, {{}, Run, false},
        {{"--help", "-x"}, Error, false}, {{"--version"}, Version, false}, {{"--backgroun"}, Error, false},
        {{"--background"}, Run, true}, {{"file.txt"}, Error, false},
    };
    for (const auto& row : rows) {
        auto parsed = CommandLine::parse(row.args);
        std::string args;
        for (const auto& a : row.args) args += "[" + a + "]";
        EXPECT_EQ(std::tie(parsed.action, parsed.background), std::tie(row.action, row.background)) << args;
        EXPECT_EQ(parsed.error.empty(), row.action != Error) << args;
    }
}
