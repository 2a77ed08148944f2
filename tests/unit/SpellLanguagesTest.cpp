#include <gtest/gtest.h>
#include "SpellLanguages.h"

namespace {

using List = std::vector<std::string>;

TEST(SpellLanguages, LocaleLanguagesThenRussianAndEnglishEachByAnInstalledDictionary) {
    const List debian{"en_US", "ru_RU"};
    struct Row { const char* what; List locales; List dictionaries; List expected; };
    const Row rows[] = {
        {"C locale: only the two fixed ones", {"C.UTF-8", "C"}, debian, {"ru_RU", "en_US"}},
        {"Russian locale: no repeat", {"ru_RU.UTF-8", "ru_RU", "ru.UTF-8", "ru", "C"}, debian, {"ru_RU", "en_US"}},
        {"German first when installed", {"de_DE.UTF-8", "de_DE", "de", "C"}, {"de_DE", "en_US", "ru_RU"},
         {"de_DE", "ru_RU", "en_US"}},
        {"German without a dictionary is left out", {"de_AT.UTF-8", "de_AT", "de", "C"}, debian, {"ru_RU", "en_US"}},
        {"a bare language takes its home region", {"pt", "C"}, {"pt_BR", "pt_PT", "en_US"}, {"pt_PT", "en_US"}},
        {"else the first region installed", {"pt"}, {"pt_BR", "en_US"}, {"pt_BR", "en_US"}},
        {"a regional locale does not borrow another region", {"en_GB.UTF-8", "en_GB", "en"}, debian,
         {"en_US", "ru_RU"}},
        {"an exact bare dictionary wins", {"ru"}, {"ru", "ru_RU", "en_US"}, {"ru", "en_US"}},
        {"modifier and encoding stripped", {"sr_RS@latin"}, {"sr_RS", "en_US"}, {"sr_RS", "en_US"}},
        {"no dictionaries at all", {"ru_RU.UTF-8", "ru"}, {}, {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(spellLanguages(row.locales, row.dictionaries), row.expected) << row.what;
}

} // namespace
