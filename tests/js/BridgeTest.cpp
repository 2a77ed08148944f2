#include <gtest/gtest.h>
#include "JsWorld.h"
#include "fakes/FakePlatform.h"
#include "main/AppConfig.h"
#include "main/Bridge.h"
#include "main/JsString.h"

namespace {

// A page-like global: window is the global object, and the native handler records each message as
// JSON in `sent`. thrown(code) is the "name: message" of what code throws, "" when it throws nothing.
constexpr const char* pagePrelude = R"(
var window = globalThis, navigator = {}, sent = [];
var kelMac = { postMessage: function (m) { sent.push(JSON.stringify(m)); } };
window.webkit = { messageHandlers: { kelMac: kelMac } };
function sentJSON() { return '[' + sent.join(',') + ']'; }
function thrown(code) { try { eval(code); return ''; } catch (e) { return e.name + ': ' + e.message; } }
)";

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.info["CFBundleShortVersionString"] = version;
        AppConfig::useMainBundle(&bundle);
    }
    void TearDown() override { AppConfig::useMainBundle(nullptr); }

    void load(const std::string& permission, const std::string& before = "") {
        world = std::make_unique<JsWorld>();
        run(pagePrelude);
        run(before);
        run(Bridge::script(permission));
    }
    // Evaluates code and returns its value as text; a thrown exception fails the test.
    std::string run(const std::string& code) {
        std::string out = world->run(code);
        if (out.rfind("throws: ", 0) == 0) ADD_FAILURE() << out << "\nin: " << code.substr(0, 200);
        return out;
    }

    const std::string version = "1.4 \"rc\"/</script> \xd0\xb1";
    fakes::FakeBundle bundle;
    std::unique_ptr<JsWorld> world = std::make_unique<JsWorld>();
};

TEST_F(BridgeTest, ConstructorNeedsNewAndRecordsNothingWithout) {
    load("granted");
    EXPECT_EQ(run("['Notification(1)', 'Notification.call({}, 1)', 'Notification()'].map(thrown).join('|')"),
              "TypeError: Illegal constructor|TypeError: Illegal constructor|TypeError: Illegal constructor");
    // Nothing was sent, and the failed calls used no sequence number.
    EXPECT_EQ(run("sentJSON() + /^n1-\\d+$/.test(new Notification('t').id)"), "[]true");
}

TEST_F(BridgeTest, NotifyIsPostedOnlyWhenGranted) {
    const char* both = R"([{"type":"notify","title":"","body":"","tag":""},)"
                       R"({"type":"notify","title":"T","body":"B","tag":"7"}])";
    for (auto [permission, expected] : {std::pair{"granted", both}, {"default", "[]"}, {"denied", "[]"}}) {
        load(permission);
        run("var a = new Notification(), b = new Notification('T', {body: 'B', tag: 7, data: {x: 1}});");
        EXPECT_EQ(run("JSON.stringify(sent.map(function (s) { s = JSON.parse(s); delete s.id; return s; }))"),
                  expected) << permission;
        // The object exists either way, with its fields as the page gave them.
        EXPECT_EQ(run("[a.title, a.body, a.tag, b.title, b.body, b.tag, b.data.x,"
                      " b.onclick, b.onclose, b.onshow, b.onerror].join('|')"), "|||T|B|7|1||||");
        EXPECT_EQ(run("/^n1-\\d+$/.test(a.id) && /^n2-\\d+$/.test(b.id) && "
                      "(sent.length < 2 || JSON.parse(sent[1]).id === b.id)"), "true");
    }
}

TEST_F(BridgeTest, LiveTableKeepsTheLatest200) {
    load("default");
    run("var clicks = [], resolved = 'no';"
        "Notification.requestPermission().then(function () { resolved = 'yes'; });"
        "var first = new Notification('first'); first.onclick = function () { clicks.push('first'); };"
        "for (var i = 0; i < 199; i++) new Notification('x');"
        "var kept = new Notification('kept'); kept.onclick = function () { clicks.push('kept'); };");
    // 202 recordings: the request and the first notification are gone.
    run("KelMac._notifClick(first.id); KelMac._notifClick(kept.id); KelMac._permResult('p1', 'denied');");
    EXPECT_EQ(run("[clicks, Notification.permission, resolved].join(' ')"), "kept denied no");
}

TEST_F(BridgeTest, EachPermissionRequestGetsItsOwnAnswer) {
    load("default");
    run("var got = [];"
        "Notification.requestPermission().then(function (p) { got.push('a:' + p); });"
        "Notification.requestPermission(function (p) { got.push('cb:' + p); throw new Error('page'); })"
        "  .then(function (p) { got.push('b:' + p); });");
    EXPECT_EQ(run("sentJSON()"),
              R"([{"type":"notifyPermission","id":"p1"},{"type":"notifyPermission","id":"p2"}])");
    EXPECT_EQ(run("KelMac._permResult('p2', 'denied'); Notification.permission"), "denied");
    run("KelMac._permResult('p1', 'granted'); KelMac._permResult('p2', 'default')");
    EXPECT_EQ(run("got.join() + ' ' + Notification.permission"), "cb:denied,b:denied,a:granted default");
}

TEST_F(BridgeTest, ClickAndCloseRunPageHandlersAndSwallowTheirErrors) {
    load("granted");
    run("var n = new Notification('t'), seen = [];"
        "n.addEventListener('click', function (e) { seen.push(e.target === n && typeof e.preventDefault); });"
        "n.addEventListener('close', function (e) { seen.push('close:' + (e.target === n)); throw 1; });"
        "n.addEventListener('error', function () { seen.push('error'); });");
    run("KelMac._notifClick(n.id); KelMac._notifClick(n.id); KelMac._notifClick('unknown'); n.close();");
    EXPECT_EQ(run("seen.join()"), "function,function,close:true");
    run("n.onclick = function () { throw new Error('page'); }");
    EXPECT_EQ(run("thrown('KelMac._notifClick(n.id)')"), "");
    EXPECT_EQ(run("n.removeEventListener('click'); typeof n.onclick"), "function");
}

TEST_F(BridgeTest, BadgeCountsPassThroughAsNumbers) {
    load("default");
    run("var p = ['abc', undefined, 0, 5, 2.9, '7'].map(function (n) { return navigator.setAppBadge(n); })"
        "  .concat(navigator.clearAppBadge());");
    EXPECT_EQ(run("sentJSON()"), R"([{"type":"badge","count":0},{"type":"badge","count":0},)"
                                 R"({"type":"badge","count":0},{"type":"badge","count":5},)"
                                 R"({"type":"badge","count":2.9},{"type":"badge","count":7},)"
                                 R"({"type":"badge","count":0}])");
    EXPECT_EQ(run("p.every(function (x) { return x instanceof Promise; })"), "true");
}

TEST_F(BridgeTest, KelMacCarriesVersionBuildAndUpdateRequests) {
    bundle.info["CFBundleVersion"] = "-3";
    load("granted");
    EXPECT_EQ(run("[KelMac.platform, typeof KelMac.version, KelMac.version]"), "mac,string," + version);
    EXPECT_EQ(run("typeof KelMac.build + KelMac.build"), "number-3");
    run("KelMac.checkUpdate(1); KelMac.checkUpdate()");
    EXPECT_EQ(run("sentJSON()"),
              R"([{"type":"checkUpdate","manual":true},{"type":"checkUpdate","manual":false}])");
    run("KelMac._setPermission('denied'); Notification.permission = 'granted'");
    EXPECT_EQ(run("Notification.permission + Notification.maxActions"), "denied0");
}

TEST_F(BridgeTest, SecondEvaluationChangesNothing) {
    load("granted");
    run("var k = KelMac; var N = Notification; KelMac._setPermission('denied'); new Notification('a');");
    run(Bridge::script("granted"));
    EXPECT_EQ(run("k === KelMac && N === Notification && Notification.permission"), "denied");
    EXPECT_EQ(run("/^n2-/.test(new Notification('b').id)"), "true");
}

TEST_F(BridgeTest, PostingFailuresNeverReachThePage) {
    for (auto handler : {"kelMac.postMessage = function () { throw 1; }", "delete window.webkit"}) {
        load("granted");
        run(handler);
        EXPECT_EQ(run("thrown('new Notification(1); navigator.setAppBadge(3); KelMac.checkUpdate(true);"
                      " Notification.requestPermission()')"), "") << handler;
    }
}

TEST_F(BridgeTest, UnconfigurableNotificationIsAssignedInstead) {
    load("default", "Object.defineProperty(globalThis, 'Notification',"
                    " {value: function () {}, writable: true, configurable: false});");
    EXPECT_EQ(run("Notification.maxActions"), "0");
}

TEST_F(BridgeTest, JsStringEvaluatesToTheSameString) {
    struct Row { std::string in, literal; } rows[] = {
        {"", R"("")"}, {"a\"b\\c\nd", R"("a\"b\\c\nd")"}, {"</script>", R"("<\/script>")"},
        {"\b\f\r\t\x01\x1f\x7f", R"("\b\f\r\t\u0001\u001f)" "\x7f\""},
        {"Нолар \xf0\x9f\x92\xac \xe2\x80\xa8", "\"Нолар \xf0\x9f\x92\xac \xe2\x80\xa8\""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(jsString(row.in), row.literal);
        EXPECT_EQ(run(jsString(row.in)), row.in);
    }
    EXPECT_EQ(run(jsString(std::string("a\0b", 3)) + ".charCodeAt(1)"), "0");
}

TEST_F(BridgeTest, JsStringOfInvalidUtf8IsTheEmptyLiteral) {
    for (const char* bad : {"\xff", "a\xc0\xaf", "\xed\xa0\x80", "\xe2\x82", "\xf4\x90\x80\x80", "\x80"})
        EXPECT_EQ(jsString(bad), "\"\"") << bad;
    bundle.info["CFBundleShortVersionString"] = "1.\xff";
    load("default");
    EXPECT_EQ(run("KelMac.version"), "");
}

} // namespace
