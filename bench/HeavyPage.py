"""A /messenger/ page built like a real web messenger, for the stand-in's --messenger-dir.

About 3 MB of JavaScript in 600 modules (six bundle chunks and a small module loader, as a
bundler ships them), a 1 MB JSON history fetched at start and drawn as 1 500 message bubbles
scrolled to the bottom, and a new message every 2 s appended and scrolled to. The page reports
"rendered" after the first paint that shows the history, as the light page does after its own.
"""
import json
import os
import random

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODULES, CHUNKS, MESSAGES = 600, 6, 1500
WORDS = ("привет как дела сегодня встреча проект отчёт файл ссылка завтра вечером созвон "
         "hello team review build release notes please check the draft and send it back").split()

STYLE = """
body { margin: 0; font: 14px/1.4 sans-serif; background: #eef1f5; display: flex; flex-direction: column; height: 100vh; }
header { padding: 10px 16px; background: #fff; border-bottom: 1px solid #d5dbe3; font-weight: bold; }
#list { flex: 1; overflow-y: auto; padding: 8px 16px; }
.bubble { max-width: 62%; margin: 6px 0; padding: 8px 12px; border-radius: 14px; background: #fff;
          box-shadow: 0 1px 2px rgba(0,0,0,.12); }
.bubble.own { margin-left: auto; background: #d9f2d0; }
.bubble .from { font-size: 12px; color: #4a76a8; font-weight: bold; }
.bubble .time { font-size: 11px; color: #8a96a3; text-align: right; }
.bubble .avatar { display: inline-block; width: 22px; height: 22px; border-radius: 11px; background: #8fb3d9;
                  color: #fff; text-align: center; font-size: 11px; line-height: 22px; margin-right: 6px; }
footer { padding: 10px 16px; background: #fff; border-top: 1px solid #d5dbe3; }
footer input { width: 100%; box-sizing: border-box; padding: 8px; border: 1px solid #c3ccd6; border-radius: 8px; }
"""

APP = """
(function () {
  var cache = {};
  function require(id) {
    if (cache[id]) return cache[id].exports;
    var module = cache[id] = { exports: {} };
    self.__modules[id](module, module.exports, require);
    return module.exports;
  }
  var registry = [];
  for (var id = 0; id < %(modules)d; id++) registry.push(require(id));
  var list = document.getElementById('list');
  function bubble(m) {
    var div = document.createElement('div');
    div.className = 'bubble' + (m.own ? ' own' : '');
    div.innerHTML = '<div class="from"><span class="avatar"></span></div><div class="text"></div><div class="time"></div>';
    div.querySelector('.avatar').textContent = m.from.slice(0, 2).toUpperCase();
    div.querySelector('.from').appendChild(document.createTextNode(m.from));
    div.querySelector('.text').textContent = registry[m.id %% registry.length].format(m.text);
    div.querySelector('.time').textContent = new Date(m.time * 1000).toLocaleTimeString();
    return div;
  }
  fetch('history.json', { cache: 'no-store' }).then(function (r) { return r.json(); }).then(function (history) {
    var fragment = document.createDocumentFragment();
    history.messages.forEach(function (m) { fragment.appendChild(bubble(m)); });
    list.appendChild(fragment);
    list.scrollTop = list.scrollHeight;
    requestAnimationFrame(function () {
      setTimeout(function () { report('rendered', { messages: list.children.length }); }, 0);
    });
    var next = history.messages.length;
    setInterval(function () {
      var m = history.messages[next %% history.messages.length];
      list.appendChild(bubble({ id: next, from: m.from, own: next %% 3 === 0, time: Date.now() / 1000, text: m.text }));
      next++;
      list.scrollTop = list.scrollHeight;
    }, 2000);
  });
})();
"""


def moduleSource(index, rng):
    """One module: a few classes and helpers with enough varied code to cost what real code costs to parse."""
    names = ["%s%d_%d" % (rng.choice(("view", "store", "codec", "route", "model", "util")), index, k) for k in range(6)]
    body = ["  'use strict';"]
    for k, name in enumerate(names):
        words = json.dumps([rng.choice(WORDS) for _ in range(24)], ensure_ascii=False)
        body.append("""  function %(n)s(input, options) {
    var table = %(w)s;
    var out = [], seen = Object.create(null);
    for (var i = 0; i < table.length; i++) {
      var key = table[i] + ':' + (options && options.prefix || '') + i;
      if (seen[key]) continue;
      seen[key] = true;
      out.push(typeof input === 'string' ? input.length + key.length : key);
    }
    return out.length > %(k)d ? out.slice(0, %(k)d + 8) : out;
  }""" % {"n": name, "w": words, "k": k + 4})
        body.append("""  var %(n)sState = { id: %(i)d, name: %(q)s, created: 0, listeners: [],
    on: function (f) { this.listeners.push(f); return this; },
    emit: function (v) { for (var j = 0; j < this.listeners.length; j++) this.listeners[j](v); } };""" % {
            "n": name, "i": index * 10 + k, "q": json.dumps(name)})
    body.append("  var deps = [%s];" % ", ".join("require(%d)" % d for d in sorted({rng.randrange(index)
                                                                              for _ in range(3)}) if index) if index else "")
    body.append("  module.exports = { name: %s, format: function (text) { return %s(text).length ? text : ''; },"
                " helpers: [%s] };" % (json.dumps("m%d" % index), names[0], ", ".join(names)))
    return "self.__modules[%d] = function (module, exports, require) {\n%s\n};\n" % (index, "\n".join(body))


def history(rng):
    names = ["Анна", "Борис", "Вера", "Глеб", "Дина", "Егор", "Олег", "Team Bot"]
    messages = []
    for i in range(MESSAGES):
        text = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(20, 110)))
        messages.append({"id": i, "from": rng.choice(names), "own": rng.random() < 0.3, "time": 1796000000 + 37 * i,
                         "text": text, "reactions": [rng.choice(("👍", "❤", "😂")) for _ in range(rng.randrange(3))],
                         "attachments": [{"name": "file-%d.pdf" % i, "size": rng.randrange(1 << 20)}]
                         if rng.random() < 0.1 else []})
    return {"chat": "Рабочий чат", "messages": messages}


def write(folder):
    """Writes the page's files into folder; returns their sizes in bytes."""
    rng = random.Random(20261207)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(TOP, "tools/standin/pages/hook.js"), encoding="utf-8") as f:
        hook = f.read()
    files = {"app.js": APP % {"modules": MODULES}, "history.json": json.dumps(history(rng), ensure_ascii=False)}
    perChunk = MODULES // CHUNKS
    for c in range(CHUNKS):
        files["chunk-%d.js" % c] = "self.__modules = self.__modules || [];\n" + "".join(
            moduleSource(i, rng) for i in range(c * perChunk, (c + 1) * perChunk))
    scripts = "".join('<script defer src="chunk-%d.js"></script>' % c for c in range(CHUNKS))
    files["index.html"] = (
        '<!DOCTYPE html><html lang="ru" data-channel="messenger"><head><meta charset="utf-8">'
        "<title>Сообщения</title><style>%s</style><script>%s</script>%s<script defer src=\"app.js\"></script>"
        "</head><body><header>Рабочий чат</header><div id=\"list\"></div>"
        "<footer><input placeholder=\"Сообщение\"></footer></body></html>" % (STYLE, hook, scripts))
    sizes = {}
    for name, text in files.items():
        data = text.encode("utf-8")
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        sizes[name] = len(data)
    return sizes


if __name__ == "__main__":
    import sys
    for name, size in sorted(write(sys.argv[1] if len(sys.argv) > 1 else "/tmp/heavy-page").items()):
        print("%-14s %9d" % (name, size))
