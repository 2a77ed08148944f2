// Runs at document start in the page's own world. The native side replaces the three
// @-markers (PERMISSION, VERSION, BUILD) with its values before the page sees this text.
(function () {
  if (window.KelMac) return;

  // The handler is looked up on every post: it may appear after this script has run,
  // and a page without it must not see an error.
  function post(m) {
    try {
      window.webkit.messageHandlers.kelMac.postMessage(m);
    } catch (e) {}
  }

  var perm = /*@PERMISSION@*/;
  // No prototype, so that an id can never find an inherited member.
  var live = Object.create(null);
  var order = [];
  var seq = 0;

  // Notifications and permission requests share one bounded table; the oldest go first.
  function remember(id, obj) {
    live[id] = obj;
    order.push(id);
    while (order.length > 200) {
      delete live[order.shift()];
    }
  }

  function text(v) {
    return v === null || v === undefined ? '' : String(v);
  }

  function KelNotification(title, opts) {
    if (!(this instanceof KelNotification)) throw new TypeError('Illegal constructor');
    opts = opts || {};
    this.id = 'n' + (++seq) + '-' + Date.now();
    this.title = text(title);
    this.body = text(opts.body);
    this.tag = text(opts.tag);
    this.data = opts.data;
    this.onclick = null;
    this.onclose = null;
    this.onshow = null;
    this.onerror = null;
    remember(this.id, this);
    if (perm === 'granted') {
      post({ type: 'notify', id: this.id, title: this.title, body: this.body, tag: this.tag });
    }
  }

  KelNotification.prototype.close = function () {
    if (typeof this.onclose === 'function') {
      try {
        this.onclose({ target: this });
      } catch (e) {}
    }
  };

  KelNotification.prototype.addEventListener = function (t, fn) {
    if (t === 'click') this.onclick = fn;
    else if (t === 'close') this.onclose = fn;
    else if (t === 'show') this.onshow = fn;
  };

  KelNotification.prototype.removeEventListener = function () {};

  Object.defineProperty(KelNotification, 'permission', {
    get: function () { return perm; },
    enumerable: true,
    configurable: true
  });
  KelNotification.maxActions = 0;

  // Never rejects: it waits for the native answer, for ever if the request is evicted first.
  KelNotification.requestPermission = function (cb) {
    return new Promise(function (resolve) {
      var id = 'p' + (++seq);
      remember(id, {
        resolve: function (p) {
          perm = p;
          if (cb) {
            try {
              cb(p);
            } catch (e) {}
          }
          resolve(p);
        }
      });
      post({ type: 'notifyPermission', id: id });
    });
  };

  try {
    Object.defineProperty(window, 'Notification', {
      value: KelNotification,
      writable: true,
      configurable: true
    });
  } catch (e) {
    window.Notification = KelNotification;
  }

  navigator.setAppBadge = function (n) {
    post({ type: 'badge', count: Number(n) || 0 });
    return Promise.resolve();
  };

  navigator.clearAppBadge = function () {
    post({ type: 'badge', count: 0 });
    return Promise.resolve();
  };

  window.KelMac = {
    platform: 'mac',
    version: /*@VERSION@*/,
    build: /*@BUILD@*/,
    // The page's front end calls this when a push event announces that a new version
    // has been released, so the update is offered without waiting for the next check.
    checkUpdate: function (manual) {
      post({ type: 'checkUpdate', manual: !!manual });
    },
    _notifClick: function (id) {
      var n = live[id];
      if (n && typeof n.onclick === 'function') {
        try {
          n.onclick({ target: n, preventDefault: function () {} });
        } catch (e) {}
      }
    },
    _permResult: function (id, p) {
      perm = p;
      var entry = live[id];
      if (entry && typeof entry.resolve === 'function') {
        entry.resolve(p);
        delete live[id];
      }
    },
    _setPermission: function (p) {
      perm = p;
    }
  };
})();
