#pragma once
// A JavaScriptCore context of its own, as one of the engine's script worlds, for the tests of our scripts.
#include <jsc/jsc.h>

#include <string>

class JsWorld {
public:
    JsWorld() : ctx_(jsc_context_new()) {}
    ~JsWorld() { g_object_unref(ctx_); }
    JsWorld(const JsWorld&) = delete;
    JsWorld& operator=(const JsWorld&) = delete;

    // Evaluates code; returns its value as text, or "throws: <name>: <message>".
    std::string run(const std::string& code)
    {
        JSCValue* v = jsc_context_evaluate(ctx_, code.c_str(), static_cast<gssize>(code.size()));
        std::string out;
        if (JSCException* e = jsc_context_get_exception(ctx_)) {
            out = std::string("throws: ") + jsc_exception_get_name(e) + ": " + jsc_exception_get_message(e);
            jsc_context_clear_exception(ctx_);
        } else {
            char* s = jsc_value_to_string(v);
            out = s ? s : "";
            g_free(s);
        }
        g_object_unref(v);
        return out;
    }

private:
    JSCContext* ctx_;
};
