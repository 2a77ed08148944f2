// The relay scripts in JavaScriptCore, each in a context of its own as in the engine's worlds,
// with just enough of a DOM for what they touch.
#include <gtest/gtest.h>

#include <string>

#include "js/JsWorld.h"
#include "main/Resources.h"
#include "platform/gtk/WebKitScriptRelay.h"

namespace {

using platform::gtk::WebKitScriptRelay;

WebKitScriptRelay::Scripts scripts()
{
    std::optional<WebKitScriptRelay::Scripts> s = WebKitScriptRelay::scriptsFor(Resources::relay_js(), "kelMac");
    EXPECT_TRUE(s.has_value());
    return s.value_or(WebKitScriptRelay::Scripts{});
}

using World = JsWorld;

// The page's world: dispatched events are recorded.
constexpr const char* pageWorld = R"(
var window = globalThis;
var dispatched = [];
function EventTarget() {}
EventTarget.prototype.dispatchEvent = function (e) { dispatched.push(e); return true; };
function CustomEvent(type, init) { this.type = type; this.detail = init.detail; }
)";

// Our isolated world: the native handler records what it receives; listeners are kept by type.
constexpr const char* isolatedWorld = R"(
var window = globalThis;
var posted = [];
var listeners = {};
window.addEventListener = function (type, fn, capture) { listeners[type] = { fn: fn, capture: capture }; };
window.webkit = { messageHandlers: { kelMac: { postMessage: function (m) { posted.push(JSON.stringify(m)); } } } };
var location = { origin: 'https://127.0.0.2:8443', href: 'https://nolar.example/messenger/#top' };
function HTMLAnchorElement(attrs, href) {
  this.attrs = attrs;
  this.href = href;
  this.protocol = href.slice(0, href.indexOf(':') + 1);
  this.origin = (/^[a-z]+:\/\/[^\/]*/.exec(href) || ['null'])[0];
}
HTMLAnchorElement.prototype.hasAttribute = function (n) { return n in this.attrs; };
HTMLAnchorElement.prototype.getAttribute = function (n) { return n in this.attrs ? this.attrs[n] : null; };
function HTMLAreaElement(attrs, href) { HTMLAnchorElement.call(this, attrs, href); }
HTMLAreaElement.prototype.hasAttribute = HTMLAnchorElement.prototype.hasAttribute;
HTMLAreaElement.prototype.getAttribute = HTMLAnchorElement.prototype.getAttribute;
function SVGAElement(attrs, href) {
  this.attrs = attrs;
  this.url = href;
  this.href = { baseVal: 'href' in attrs ? href : '' };
  this.target = { baseVal: attrs.target || '' };
}
SVGAElement.prototype.hasAttribute = HTMLAnchorElement.prototype.hasAttribute;
SVGAElement.prototype.hasAttributeNS = function (ns, n) { return ('xlink:' + n) in this.attrs; };
SVGAElement.prototype.getAttributeNS = function (ns, n) { return ('xlink:' + n) in this.attrs ? this.url : null; };
function URL(href, base) {
  if (!/^[a-z]+:/.test(href)) throw new TypeError('relative');
  this.href = href;
  this.protocol = href.slice(0, href.indexOf(':') + 1);
  this.origin = (/^[a-z]+:\/\/[^\/]*/.exec(href) || ['null'])[0];
}
var baseTarget = null;
var document = { querySelector: function (s) { return baseTarget === null ? null : { getAttribute: function () { return baseTarget; } }; } };
function click(anchor, init) {
  init = init || {};
  var e = { button: init.button || 0, ctrlKey: !!init.ctrlKey, shiftKey: !!init.shiftKey, altKey: !!init.altKey,
            metaKey: !!init.metaKey, defaultPrevented: !!init.defaultPrevented, prevented: false,
            isTrusted: init.isTrusted !== false,
            composedPath: function () { return [{}, anchor, {}]; },
            preventDefault: function () { this.prevented = true; } };
  listeners.click.fn(e);
  return e.prevented;
}
)";

TEST(WebKitScriptRelay, ScriptsForRefusesOddHandlerNames)
{
    for (const char* bad : {"", "kel'Mac", "a b", "x\ny", "9lives", "kel.mac"})
        EXPECT_FALSE(WebKitScriptRelay::scriptsFor(Resources::relay_js(), bad)) << bad;
    EXPECT_FALSE(WebKitScriptRelay::scriptsFor("//@@ page\nx\n//@@ relay\ny\n", "kelMac")) << "no click part";
}

TEST(WebKitScriptRelay, PageShimHandsOnJsonTextOnly)
{
    World page;
    page.run(pageWorld);
    page.run(scripts().page);
    // A page that replaces JSON or the dispatcher afterwards does not change what is sent.
    page.run("JSON.stringify = function () { return 'forged'; };"
             "EventTarget.prototype.dispatchEvent = function () {};");
    EXPECT_EQ(page.run("window.webkit.messageHandlers.kelMac.postMessage({type: 'retry'});"
                       "dispatched.length + ' ' + dispatched[0].type + ' ' + dispatched[0].detail"),
              "1 nolar-relay-post {\"type\":\"retry\"}");
    EXPECT_EQ(page.run("window.webkit.messageHandlers.kelMac.postMessage(undefined)"),
              "throws: TypeError: The message cannot be serialised");
    EXPECT_EQ(page.run("window.webkit.messageHandlers.kelMac = null; window.webkit = null;"
                       "typeof window.webkit.messageHandlers.kelMac.postMessage"),
              "function");
}

TEST(WebKitScriptRelay, PageShimExtendsAnExistingWebkitObject)
{
    World page;
    page.run(pageWorld);
    page.run("var other = { postMessage: function () {} };"
             "window.webkit = { messageHandlers: { other: other } };");
    page.run(scripts().page);
    EXPECT_EQ(page.run("window.webkit.messageHandlers.other === other && "
                       "typeof window.webkit.messageHandlers.kelMac.postMessage"),
              "function");

    World frozen;
    frozen.run(pageWorld);
    frozen.run("window.webkit = Object.freeze({ messageHandlers: Object.freeze({}) });");
    EXPECT_EQ(frozen.run(scripts().page), "undefined") << "installing never throws into the page";
}

TEST(WebKitScriptRelay, RelayTagsTheFramesOwnOrigin)
{
    World iso;
    iso.run(isolatedWorld);
    iso.run(scripts().relay);
    EXPECT_EQ(iso.run("listeners['nolar-relay-post'].capture"), "true");
    iso.run("function send(target, detail) { var stopped = false;"
            "  listeners['nolar-relay-post'].fn({ target: target, detail: detail,"
            "    stopImmediatePropagation: function () { stopped = true; } }); return stopped; }");
    EXPECT_EQ(iso.run("send(window, '{\"type\":\"notify\",\"origin\":\"https://nolar.example\"}')"), "true");
    EXPECT_EQ(iso.run("send(window, { kind: 'click', url: 'https://x' }); send({}, '{}'); posted.join('\\n')"),
              "{\"kind\":\"message\",\"origin\":\"https://127.0.0.2:8443\","
              "\"body\":\"{\\\"type\\\":\\\"notify\\\",\\\"origin\\\":\\\"https://nolar.example\\\"}\"}");
}

TEST(WebKitScriptRelay, ClickRelayHoldsBackTopFrameLinkClicksOnly)
{
    struct Row {
        const char* name;
        const char* attrs;   // JavaScript object literal of the link's attributes
        const char* href;
        const char* init;    // the click's modifiers
        const char* base;    // the document's base target, or null
        bool relayed;
        const char* element = "HTMLAnchorElement";
    };
    const Row rows[] = {
        {"plain link", "{href: ''}", "https://nolar.example/login", "{}", "null", true},
        {"plain http link", "{href: ''}", "http://foreign.example/", "{}", "null", true},
        {"_self", "{href: '', target: '_self'}", "https://foreign.example/", "{}", "null", true},
        {"_TOP in capitals", "{href: '', target: '_TOP'}", "https://foreign.example/", "{}", "null", true},
        {"_parent", "{href: '', target: '_parent'}", "https://foreign.example/", "{}", "null", true},
        {"empty target", "{href: '', target: ''}", "https://foreign.example/", "{}", "null", true},
        {"_blank", "{href: '', target: '_blank'}", "https://foreign.example/", "{}", "null", false},
        {"named frame", "{href: '', target: 'side'}", "https://foreign.example/", "{}", "null", false},
        {"base target _blank", "{href: ''}", "https://foreign.example/", "{}", "'_blank'", false},
        {"own target beats base", "{href: '', target: '_self'}", "https://foreign.example/", "{}", "'_blank'", true},
        {"download attribute, own origin", "{href: '', download: ''}", "https://127.0.0.2:8443/f.pdf", "{}", "null",
         false},
        {"download attribute, foreign origin", "{href: '', download: ''}", "https://foreign.example/f.pdf", "{}", "null",
         true},
        {"foreign download in a new window", "{href: '', download: '', target: '_blank'}",
         "https://foreign.example/f.pdf", "{}", "null", true},
        {"mailto", "{href: ''}", "mailto:a@b.example", "{}", "null", false},
        {"javascript", "{href: ''}", "javascript:void 0", "{}", "null", false},
        {"fragment of this document", "{href: ''}", "https://nolar.example/messenger/#chat", "{}", "null", false},
        {"fragment of another page", "{href: ''}", "https://nolar.example/other#chat", "{}", "null", true},
        {"prevented by the page", "{href: ''}", "https://foreign.example/", "{defaultPrevented: true}", "null", false},
        {"ctrl", "{href: ''}", "https://foreign.example/", "{ctrlKey: true}", "null", false},
        {"shift", "{href: ''}", "https://foreign.example/", "{shiftKey: true}", "null", false},
        {"alt", "{href: ''}", "https://foreign.example/", "{altKey: true}", "null", false},
        {"meta", "{href: ''}", "https://foreign.example/", "{metaKey: true}", "null", false},
        {"middle button", "{href: ''}", "https://foreign.example/", "{button: 1}", "null", false},
        {"anchor without href", "{}", "https://foreign.example/", "{}", "null", false},
        {"the page's script clicked", "{href: ''}", "https://foreign.example/", "{isTrusted: false}", "null", true},
        {"image map area", "{href: ''}", "https://foreign.example/", "{}", "null", true, "HTMLAreaElement"},
        {"area in a new window", "{href: '', target: '_blank'}", "https://foreign.example/", "{}", "null", false,
         "HTMLAreaElement"},
        {"SVG link", "{href: ''}", "https://foreign.example/", "{}", "null", true, "SVGAElement"},
        {"SVG link with xlink:href", "{'xlink:href': ''}", "https://foreign.example/", "{}", "null", true,
         "SVGAElement"},
        {"SVG link in a new window", "{href: '', target: '_blank'}", "https://foreign.example/", "{}", "null", false,
         "SVGAElement"},
        {"SVG link without href", "{}", "https://foreign.example/", "{}", "null", false, "SVGAElement"},
    };
    for (const Row& row : rows) {
        World iso;
        iso.run(isolatedWorld);
        iso.run(scripts().click);
        std::string code = std::string("baseTarget = ") + row.base + "; click(new " + row.element + "(" + row.attrs +
                           ", '" + row.href + "'), " + row.init + ") + ' ' + posted.length";
        EXPECT_EQ(iso.run(code), row.relayed ? "true 1" : "false 0") << row.name;
        if (row.relayed) {
            EXPECT_EQ(iso.run("JSON.parse(posted[0]).kind + ' ' + JSON.parse(posted[0]).url"),
                      std::string("click ") + row.href) << row.name;
            EXPECT_EQ(iso.run("JSON.parse(posted[0]).trusted"),
                      std::string(row.init).find("isTrusted") == std::string::npos ? "true" : "false") << row.name;
            EXPECT_EQ(iso.run("JSON.parse(posted[0]).download"),
                      std::string(row.attrs).find("download") != std::string::npos ? "true" : "false") << row.name;
            EXPECT_EQ(iso.run("JSON.parse(posted[0]).token === window.nolarClickToken && "
                              "/^[0-9a-z]+$/.test(window.nolarClickToken)"),
                      "true") << row.name;
        }
    }
}

TEST(WebKitScriptRelay, ClickRelayFindsTheLinkAroundTheClickedElement)
{
    World iso;
    iso.run(isolatedWorld);
    iso.run(scripts().click);
    iso.run("function clickPath(path) { var e = { button: 0, defaultPrevented: false, prevented: false,"
            "  composedPath: function () { return path; }, preventDefault: function () { this.prevented = true; } };"
            "  listeners.click.fn(e); return e.prevented; }"
            "var inner = new HTMLAnchorElement({href: ''}, 'https://nolar.example/inner');"
            "var outer = new HTMLAnchorElement({href: ''}, 'https://nolar.example/outer');"
            "var notALink = { href: 'https://foreign.example/', hasAttribute: function () { return true; } };");
    EXPECT_EQ(iso.run("clickPath([{}, {}, document, window])"), "false") << "no link on the path";
    EXPECT_EQ(iso.run("clickPath([notALink, {}, window])"), "false") << "only link elements are relayed";
    EXPECT_EQ(iso.run("clickPath([{}, inner, outer, window]) + ' ' + JSON.parse(posted[0]).url"),
              "true https://nolar.example/inner")
        << "the nearest link decides";
}

TEST(WebKitScriptRelay, ClickTokensDiffer)
{
    World iso;
    iso.run(isolatedWorld);
    iso.run(scripts().click);
    iso.run("var a = new HTMLAnchorElement({href: ''}, 'https://nolar.example/x'); click(a); click(a);");
    EXPECT_EQ(iso.run("JSON.parse(posted[0]).token !== JSON.parse(posted[1]).token"), "true");
}

} // namespace
