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
    auto s = WebKitScriptRelay::scriptsFor(Resources::relay_js(), "kelMac");
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
var handler = { postMessage: function (m) { posted.push(JSON.stringify(m)); } };
window.webkit = { messageHandlers: { kelMac: handler } };
var location = { origin: 'https://127.0.0.2:8443', href: 'https://nolar.example/messenger/#top' };
function originOf(href) { return (/^[a-z]+:\/\/[^\/]*/.exec(href) || ['null'])[0]; }
function HTMLAnchorElement(attrs, href) {
  this.attrs = attrs;
  this.href = href;
  this.protocol = href.slice(0, href.indexOf(':') + 1);
  this.origin = originOf(href);
}
HTMLAnchorElement.prototype.hasAttribute = function (n) { return n in this.attrs; };
HTMLAnchorElement.prototype.getAttribute = function (n) { return n in this.attrs ? this.attrs[n] : null; };
function HTMLAreaElement(attrs, href) { HTMLAnchorElement.call(this, attrs, href); }
function SVGAElement(attrs, href) {
  this.attrs = attrs;
  this.url = href;
  this.href = { baseVal: 'href' in attrs ? href : '' };
  this.target = { baseVal: attrs.target || '' };
}
['hasAttribute', 'getAttribute'].forEach(function (n) {
  HTMLAreaElement.prototype[n] = SVGAElement.prototype[n] = HTMLAnchorElement.prototype[n];
});
SVGAElement.prototype.hasAttributeNS = function (ns, n) { return ('xlink:' + n) in this.attrs; };
SVGAElement.prototype.getAttributeNS = function (ns, n) {
  return this.hasAttributeNS(ns, n) ? this.url : null;
};
function URL(href, base) {
  if (!/^[a-z]+:/.test(href))
    throw new TypeError('relative');
  HTMLAnchorElement.call(this, {}, href);
}
var baseTarget = null;
var document = { querySelector: function (s) {
  return baseTarget === null ? null : { getAttribute: function () { return baseTarget; } };
} };
// Clicks on the path's innermost node, with the modifiers in init; whether the relay held the click back.
function click(path, init) {
  var e = Object.assign({ button: 0, isTrusted: true, composedPath: function () { return path; },
                          preventDefault: function () { this.prevented = true; } }, init);
  listeners.click.fn(e);
  return !!e.prevented;
}
function sent(i) { return JSON.parse(posted[i]); }
// A click on a link made from the row; what came of it, when that is not what the row expects.
function clickRow(row) {
  posted = [];
  baseTarget = row.base || null;
  var href = row.href || 'https://foreign.example/', attrs = row.attrs || {href: ''};
  var held = click([{}, new (row.element || HTMLAnchorElement)(attrs, href), {}], row.init);
  var trusted = !row.init || row.init.isTrusted !== false;
  var expected = row.held === false ? 'false'
                                    : ['true click', href, trusted, 'download' in attrs, true].join(' ');
  var m = posted.length ? sent(0) : null;
  var got = !m ? String(held) : [held, m.kind, m.url, m.trusted, m.download,
                                 m.token === window.nolarClickToken && /^[0-9a-z]+$/.test(m.token)].join(' ');
  return got === expected ? '' : got + ', expected ' + expected;
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
    EXPECT_EQ(iso.run("send(window, { kind: 'click', url: 'https://x' }); send({}, '{}');"
                      "posted.join('\\n')"),
              "{\"kind\":\"message\",\"origin\":\"https://127.0.0.2:8443\","
              "\"body\":\"{\\\"type\\\":\\\"notify\\\",\\\"origin\\\":\\\"https://nolar.example\\\"}\"}");
}

// Each row is a link and a click, as JavaScript; held: false for a click the relay leaves alone.
TEST(WebKitScriptRelay, ClickRelayHoldsBackTopFrameLinkClicksOnly)
{
    const std::pair<const char*, const char*> rows[] = {
        {"plain link", "{href: 'https://nolar.example/login'}"},
        {"plain http link", "{href: 'http://foreign.example/'}"},
        {"_self", "{attrs: {href: '', target: '_self'}}"},
        {"_TOP in capitals", "{attrs: {href: '', target: '_TOP'}}"},
        {"_parent", "{attrs: {href: '', target: '_parent'}}"},
        {"empty target", "{attrs: {href: '', target: ''}}"},
        {"_blank", "{held: false, attrs: {href: '', target: '_blank'}}"},
        {"named frame", "{held: false, attrs: {href: '', target: 'side'}}"},
        {"base target _blank", "{held: false, base: '_blank'}"},
        {"own target beats base", "{attrs: {href: '', target: '_self'}, base: '_blank'}"},
        {"download, own origin",
         "{held: false, attrs: {href: '', download: ''}, href: 'https://127.0.0.2:8443/f.pdf'}"},
        {"download, foreign origin", "{attrs: {href: '', download: ''}}"},
        {"foreign download in a new window", "{attrs: {href: '', download: '', target: '_blank'}}"},
        {"mailto", "{held: false, href: 'mailto:a@b.example'}"},
        {"javascript", "{held: false, href: 'javascript:void 0'}"},
        {"fragment of this document", "{held: false, href: 'https://nolar.example/messenger/#chat'}"},
        {"fragment of another page", "{href: 'https://nolar.example/other#chat'}"},
        {"prevented by the page", "{held: false, init: {defaultPrevented: true}}"},
        {"ctrl", "{held: false, init: {ctrlKey: true}}"},
        {"shift", "{held: false, init: {shiftKey: true}}"},
        {"alt", "{held: false, init: {altKey: true}}"},
        {"meta", "{held: false, init: {metaKey: true}}"},
        {"middle button", "{held: false, init: {button: 1}}"},
        {"anchor without href", "{held: false, attrs: {}}"},
        {"the page's script clicked", "{init: {isTrusted: false}}"},
        {"image map area", "{element: HTMLAreaElement}"},
        {"area in a new window",
         "{held: false, attrs: {href: '', target: '_blank'}, element: HTMLAreaElement}"},
        {"SVG link", "{element: SVGAElement}"},
        {"SVG link with xlink:href", "{attrs: {'xlink:href': ''}, element: SVGAElement}"},
        {"SVG link in a new window",
         "{held: false, attrs: {href: '', target: '_blank'}, element: SVGAElement}"},
        {"SVG link without href", "{held: false, attrs: {}, element: SVGAElement}"},
    };
    World iso;
    iso.run(isolatedWorld);
    iso.run(scripts().click);
    for (const auto& [name, row] : rows)
        EXPECT_EQ(iso.run(std::string("clickRow(") + row + ")"), "") << name;

    // The link is found around the clicked element; each click has a token of its own.
    iso.run("posted = [];"
            "var inner = new HTMLAnchorElement({href: ''}, 'https://nolar.example/inner');"
            "var outer = new HTMLAnchorElement({href: ''}, 'https://nolar.example/outer');"
            "var notALink = { href: 'https://x.example/', hasAttribute: function () { return true; } };");
    EXPECT_EQ(iso.run("click([{}, {}, document, window])"), "false") << "no link on the path";
    EXPECT_EQ(iso.run("click([notALink, {}, window])"), "false") << "only link elements are relayed";
    EXPECT_EQ(iso.run("click([{}, inner, outer, window]) + ' ' + sent(0).url"),
              "true https://nolar.example/inner") << "the nearest link decides";
    EXPECT_EQ(iso.run("click([inner]); sent(0).token !== sent(1).token"), "true");
}

} // namespace
