// Test hook shared by every stand-in page: report() sends a finding to this origin's
// /__report, and the page runs the snippets that tests queue for its channel.
(function () {
  var channel = document.documentElement.getAttribute('data-channel') || 'messenger';

  function encode(kind, value) {
    var message = { kind: String(kind), value: value === undefined ? null : value,
                    origin: location.origin, page: location.pathname };
    try {
      return JSON.stringify(message);
    } catch (e) {
      message.value = String(value);
      return JSON.stringify(message);
    }
  }

  function report(kind, value) {
    var body = encode(kind, value);
    try {
      // keepalive: a report sent right before window.close() or a navigation still arrives
      return fetch('/__report', { method: 'POST', body: body, keepalive: true, cache: 'no-store',
                                  headers: { 'Content-Type': 'application/json' } })
        .then(function () { return true; }, function () { return false; });
    } catch (e) {
      var parsed = JSON.parse(body);
      new Image().src = '/__report?kind=' + encodeURIComponent(parsed.kind) +
        '&value=' + encodeURIComponent(JSON.stringify(parsed.value));
      return Promise.resolve(true);
    }
  }

  function failed(js, e) {
    report('cmd-error', { channel: channel, js: js, message: String(e && e.message || e) });
  }

  function run(js) {
    try {
      var result = (0, eval)(js);
      if (result && typeof result.then === 'function') {
        result.then(null, function (e) { failed(js, e); });
      }
    } catch (e) {
      failed(js, e);
    }
  }

  function poll() {
    fetch('/messenger/cmd?channel=' + encodeURIComponent(channel), { cache: 'no-store' })
      .then(function (r) { return r.ok ? r.json() : []; })
      .then(function (list) { if (Array.isArray(list)) list.forEach(run); })
      .catch(function () {})
      .then(function () { setTimeout(poll, 250); });
  }

  window.report = report;
  window.standinChannel = channel;
  poll();
})();
