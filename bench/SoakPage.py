"""A /messenger/ page for soak_bench.py (the stand-in's --messenger-dir). Every second it posts a
notification (new title and body; the five newest kept, older ones closed), changes the badge
(up by one, cleared every 30 s as when the chat is read) and churns its DOM (a bubble with a
listener appended, the oldest past 300 dropped, an older one and the header's status edited).
It reports its counters ("soak") every 10 s and "rendered" after its first paint.
"""
import os

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

STYLE = """
body { margin: 0; font: 14px/1.4 sans-serif; background: #eef1f5; display: flex; flex-direction: column; height: 100vh; }
header { padding: 10px 16px; background: #fff; border-bottom: 1px solid #d5dbe3; }
header small { color: #8a96a3; margin-left: 8px; }
#list { flex: 1; overflow-y: auto; padding: 8px 16px; margin: 0; list-style: none; }
#list li { max-width: 62%; margin: 6px 0; padding: 8px 12px; border-radius: 14px; background: #fff; }
#list li.own { margin-left: auto; background: #d9f2d0; }
#list .who { display: block; font-size: 12px; color: #4a76a8; font-weight: bold; }
#list .time { float: right; margin-left: 8px; font-size: 11px; color: #8a96a3; }
"""

APP = """
(function () {
  var CAP = 300, KEEP = 5, BADGE_CYCLE = 30;
  var names = ['Анна', 'Борис', 'Вера', 'Глеб', 'Дина', 'Team Bot'];
  var words = ('привет как дела сегодня встреча проект отчёт файл ссылка завтра вечером созвон ' +
               'hello team review build release notes please check the draft').split(' ');
  var list = document.getElementById('list'), status = document.getElementById('status');
  var tick = 0, unread = 0, kept = [], clicks = 0;

  function sentence(seed, count) {
    var out = [];
    for (var i = 0; i < count; i++) out.push(words[(seed * 31 + i * 17) % words.length]);
    return out.join(' ');
  }

  function bubble(n) {
    var li = document.createElement('li');
    if (n % 3 === 0) li.className = 'own';
    li.innerHTML = '<span class="who"></span><span class="time"></span><span class="text"></span>';
    li.querySelector('.who').textContent = names[n % names.length];
    li.querySelector('.time').textContent = new Date().toLocaleTimeString();
    li.querySelector('.text').textContent = sentence(n, 5 + n % 40);
    li.addEventListener('click', function () { clicks++; });
    list.appendChild(li);
    while (list.children.length > CAP) list.removeChild(list.firstElementChild);
    list.scrollTop = list.scrollHeight;
  }

  function edit(n) {
    var li = list.children[(n * 7) % list.children.length];
    li.querySelector('.time').textContent = 'изменено ' + new Date().toLocaleTimeString();
    li.querySelector('.text').textContent = sentence(n + 1, 5 + n % 25);
    status.textContent = n % 2 ? names[n % names.length] + ' печатает…' : 'в сети';
  }

  function notify(n) {
    var note = new Notification(names[n % names.length], { body: sentence(n, 3 + n % 12), tag: 'chat-' + (n % 4) });
    note.onclick = function () { window.focus(); };
    kept.push(note);
    while (kept.length > KEEP) kept.shift().close();
  }

  function badge(n) {
    unread = n % BADGE_CYCLE === 0 ? 0 : unread + 1;
    if (unread) navigator.setAppBadge(unread); else navigator.clearAppBadge();
  }

  for (var i = 0; i < 200; i++) bubble(1000 + i);
  setInterval(function () {
    tick++;
    bubble(tick); edit(tick); notify(tick); badge(tick);
    if (tick % 10 === 0) {
      report('soak', { tick: tick, bubbles: list.children.length, nodes: document.getElementsByTagName('*').length,
                       visibility: document.visibilityState, permission: Notification.permission });
    }
  }, 1000);
  requestAnimationFrame(function () {
    setTimeout(function () { report('rendered', { permission: Notification.permission }); }, 0);
  });
})();
"""


def write(folder):
    """Writes the page (index.html) into folder."""
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(TOP, "tools/standin/pages/hook.js"), encoding="utf-8") as f:
        hook = f.read()
    page = ('<!DOCTYPE html><html lang="ru" data-channel="messenger"><head><meta charset="utf-8">'
            "<title>Сообщения</title><style>%s</style><script>%s</script></head><body>"
            '<header><b>Рабочий чат</b><small id="status">в сети</small></header><ul id="list"></ul>'
            "<script>%s</script></body></html>" % (STYLE, hook, APP))
    with open(os.path.join(folder, "index.html"), "w", encoding="utf-8") as f:
        f.write(page)
