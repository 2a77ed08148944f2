#pragma once
#include <string>
#include <vector>

namespace platform::gtk {

// The tags of the spelling dictionaries that Enchant, the web engine's spell checker, finds ("ru_RU").
std::vector<std::string> installedSpellingDictionaries();

} // namespace platform::gtk
