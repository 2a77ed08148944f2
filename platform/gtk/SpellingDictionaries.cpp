#include "SpellingDictionaries.h"

#include <enchant.h>

#include <algorithm>

namespace platform::gtk {

namespace {
void addTag(const char* tag, const char*, const char*, const char*, void* out) {
    static_cast<std::vector<std::string>*>(out)->push_back(tag);
}
} // namespace

std::vector<std::string> installedSpellingDictionaries() {
    std::vector<std::string> out;
    EnchantBroker* broker = enchant_broker_init();
    if (!broker) return out;
    enchant_broker_list_dicts(broker, addTag, &out);
    enchant_broker_free(broker);
    // Several providers may offer the same tag; the order is the library's, so sort for a stable choice.
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

} // namespace platform::gtk
