// jsString's literal, evaluated by JavaScriptCore, gives back exactly the text (and "" for text
// that is not UTF-8): no input can end the literal early or run as code.
#include <jsc/jsc.h>
#include <algorithm>
#include "JsString.h"
#include "fuzz/Check.h"

namespace {
// GLib's check, except that it refuses NUL, which is valid UTF-8 and a valid JavaScript character.
bool validUtf8(std::string s) {
    std::replace(s.begin(), s.end(), '\0', ' ');
    return g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    static JSCContext* context = jsc_context_new();
    std::string text = fuzzText(data, size);
    std::string literal = jsString(text);
    JSCValue* value = jsc_context_evaluate(context, ("(" + literal + ")").c_str(), -1);
    JSCException* exception = jsc_context_get_exception(context);
    FUZZ_CHECK(!exception, "the literal does not evaluate");
    FUZZ_CHECK(jsc_value_is_string(value), "the literal is not a string");
    GBytes* bytes = jsc_value_to_string_as_bytes(value);
    gsize n = 0;
    auto* back = static_cast<const char*>(g_bytes_get_data(bytes, &n));
    std::string result(back ? back : "", n);
    FUZZ_CHECK(result == (validUtf8(text) ? text : ""), "round trip changed the text");
    FUZZ_CHECK(literal.find("</") == std::string::npos, "the literal could close a script element");
    g_bytes_unref(bytes);
    g_object_unref(value);
    return 0;
}
