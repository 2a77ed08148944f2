#pragma once
// A JavaScriptCore context of its own, as one of the engine's script worlds, for the tests of our scripts.
#include <jsc/jsc.h>
#include <memory>
#include <string>

class JsWorld {
public:
    // Evaluates code; returns its value as text, or "throws: <name>: <message>".
    std::string run(const std::string& code) {
        std::unique_ptr<JSCValue, decltype(&g_object_unref)> v{
            jsc_context_evaluate(ctx_.get(), code.c_str(), static_cast<gssize>(code.size())), g_object_unref};
        if (JSCException* e = jsc_context_get_exception(ctx_.get())) {
            std::string name = jsc_exception_get_name(e), message = jsc_exception_get_message(e);
            jsc_context_clear_exception(ctx_.get());
            return "throws: " + name + ": " + message;
        }
        std::unique_ptr<char, decltype(&g_free)> s{jsc_value_to_string(v.get()), g_free};
        return s ? s.get() : "";
    }

private:
    std::unique_ptr<JSCContext, decltype(&g_object_unref)> ctx_{jsc_context_new(), g_object_unref};
};
