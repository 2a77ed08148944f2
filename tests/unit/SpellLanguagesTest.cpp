#include <gtest/gtest.h>
#include "SpellLanguages.h"

TEST(SpellLanguages, LocaleLanguagesThenRussianAndEnglishEachByAnInstalledDictionary) {
    using List = std::vector<std::string>;
    const List debian{"en_US", "ru_RU"}, fixed{"ru_RU", "en_US"};
    struct Row { const char* what; List locales, dictionaries, expected; } rows[] = {
        {"C locale: only the two fixed ones", {"C.UTF-8", "C"}, debian, fixed},
        {"Russian locale: no repeat", {"ru_RU.UTF-8", "ru_RU", "ru.UTF-8", "ru", "C"}, debian, fixed},
        {"German first when installed", {"de_DE.UTF-8", "de_DE", "de", "C"}, {"de_DE", "en_US", "ru_RU"},
         {"de_DE", "ru_RU", "en_US"}},
        {"German without a dictionary is left out", {"de_AT.UTF-8", "de_AT", "de", "C"}, debian, fixed},
        {"a bare language: its home region", {"pt", "C"}, {"pt_BR", "pt_PT", "en_US"}, {"pt_PT", "en_US"}},
        {"else the first region installed", {"pt"}, {"pt_BR", "en_US"}, {"pt_BR", "en_US"}},
        {"a regional locale does not borrow another region", {"en_GB.UTF-8", "en_GB", "en"}, debian,
         {"en_US", "ru_RU"}},
        {"an exact bare dictionary wins", {"ru"}, {"ru", "ru_RU", "en_US"}, {"ru", "en_US"}},
        {"modifier and encoding stripped", {"sr_RS@latin"}, {"sr_RS", "en_US"}, {"sr_RS", "en_US"}},
        {"no dictionaries at all", {"ru_RU.UTF-8", "ru"}, {}, {}},
    };
    for (const auto& r : rows) EXPECT_EQ(spellLanguages(r.locales, r.dictionaries), r.expected) << r.what;
}
