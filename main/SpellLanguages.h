#pragma once
#include <string>
#include <vector>

// The spell checking languages: those of the user's locale (as the C library names them, most
// preferred first: "ru_RU.UTF-8", "ru_RU", "ru", "C"), then Russian and American English, each
// as the tag of an installed dictionary. A language without a dictionary of its own takes an
// installed one of the same language ("ru" takes "ru_RU"); one without any is left out.
std::vector<std::string> spellLanguages(const std::vector<std::string>& localeNames,
                                        const std::vector<std::string>& dictionaries);
