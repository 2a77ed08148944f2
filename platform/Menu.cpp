#include "Menu.h"

#include <map>

namespace platform {

namespace {

// GTK names punctuation keys by their keysym name, not by the character.
std::string keyName(const std::string& key) {
    static const std::map<std::string, std::string> names = {
        {"=", "equal"},       {"-", "minus"},        {"+", "plus"},       {",", "comma"},
        {".", "period"},      {"/", "slash"},        {"\\", "backslash"}, {";", "semicolon"},
        {"'", "apostrophe"},  {"`", "grave"},        {"[", "bracketleft"}, {"]", "bracketright"},
        {" ", "space"},
    };
    auto it = names.find(key);
    return it == names.end() ? key : it->second;
}

} // namespace

std::string accelerator(const MenuItem& item) {
    if (item.separator || item.key.empty())
        return "";
    uint32_t mods = item.modifiers;
    std::string key = keyName(item.key);
    // Command+Control+F is the full-screen shortcut of the other desktop; here that key is F11.
    constexpr uint32_t fullScreenPair = Command | Control;
    if (key == "f" && (mods & fullScreenPair) == fullScreenPair) {
        mods &= ~fullScreenPair;
        key = "F11";
    }
    std::string out;
    if (mods & Command)
        out += "<Primary>";
    if (mods & Control)
        out += "<Control>";
    if (mods & Option)
        out += "<Alt>";
    if (mods & Shift)
        out += "<Shift>";
    return out + key;
}

} // namespace platform
