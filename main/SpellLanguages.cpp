#include "SpellLanguages.h"

#include <algorithm>

namespace {

// "ru_RU.UTF-8@euro" -> "ru_RU"; "C" and "POSIX" name no language.
std::string languageTag(const std::string& localeName) {
    std::string tag = localeName.substr(0, localeName.find_first_of(".@"));
    if (tag.empty() || tag == "C" || tag == "POSIX") return "";
    return tag;
}

std::string languageOf(const std::string& tag) { return tag.substr(0, tag.find_first_of("_-")); }

std::string dictionaryFor(const std::string& tag, const std::vector<std::string>& dictionaries) {
    if (std::find(dictionaries.begin(), dictionaries.end(), tag) != dictionaries.end()) return tag;
    // Only a bare language borrows a regional dictionary: "en_GB" is not spelt like "en_US".
    if (tag != languageOf(tag)) return "";
    // Prefer the language's home region ("ru_RU", "de_DE"), then the first installed one.
    std::string prefix = tag + "_";
    std::string home = prefix;
    for (char c : tag) home += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (std::find(dictionaries.begin(), dictionaries.end(), home) != dictionaries.end()) return home;
    for (const auto& d : dictionaries)
        if (d.rfind(prefix, 0) == 0) return d;
    return "";
}

} // namespace

std::vector<std::string> spellLanguages(const std::vector<std::string>& localeNames,
                                        const std::vector<std::string>& dictionaries) {
    std::vector<std::string> wanted;
    for (const auto& name : localeNames) wanted.push_back(languageTag(name));
    wanted.push_back("ru");
    wanted.push_back("en_US");
    std::vector<std::string> out;
    for (const auto& tag : wanted) {
        if (tag.empty()) continue;
        std::string dictionary = dictionaryFor(tag, dictionaries);
        if (!dictionary.empty() && std::find(out.begin(), out.end(), dictionary) == out.end())
            out.push_back(dictionary);
    }
    return out;
}
