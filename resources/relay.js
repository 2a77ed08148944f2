//@@ page
// Page world, every frame, document start. Gives the page the usual
// window.webkit.messageHandlers.@HANDLER@.postMessage(m) and hands each message, as JSON text,
// to the relay in our isolated world. The page never states where a message comes from.
(function () {
  var eventName = '@EVENT@';
  var Custom = CustomEvent;
  var dispatch = EventTarget.prototype.dispatchEvent;
  var stringify = JSON.stringify;
  var self = window;

  function postMessage(m) {
    var text = stringify(m);
    if (typeof text !== 'string')
      throw new TypeError('The message cannot be serialised');
    dispatch.call(self, new Custom(eventName, { detail: text }));
  }

  function define(obj, key, value) {
    try {
      Object.defineProperty(obj, key, { value: value, enumerable: true });
      return true;
    } catch (e) {
      return false;
    }
  }

  // The engine may already have put its own window.webkit here: extend it, never replace it.
  var webkit = window.webkit;
  if (!webkit || typeof webkit !== 'object') {
    webkit = {};
    if (!define(window, 'webkit', webkit))
      return;
  }
  var handlers = webkit.messageHandlers;
  if (!handlers || typeof handlers !== 'object') {
    handlers = {};
    if (!define(webkit, 'messageHandlers', handlers))
      return;
  }
  define(handlers, '@HANDLER@', Object.freeze({ postMessage: postMessage }));
})();
//@@ relay
// Isolated world, every frame, document start. The page cannot reach this world, so the origin
// added here is the frame's own, whatever the page does.
(function () {
  var handler = window.webkit.messageHandlers['@HANDLER@'];
  window.addEventListener('@EVENT@', function (e) {
    e.stopImmediatePropagation();
    if (e.target !== window || typeof e.detail !== 'string')
      return;
    handler.postMessage({ kind: 'message', origin: String(location.origin), body: e.detail });
  }, true);
})();
//@@ click
// Isolated world, top frame, document start. A link click that would navigate the top frame is
// stopped here and decided natively before any request leaves. Registered on window in the
// bubbling phase before any page script runs: it sees the click after the handlers of the link,
// its ancestors and the document, so a page that routes the click itself has already
// prevented it. Links are <a href>, <area href> and SVG <a>; whether the user clicked, or the
// page's script did, goes along with the link.
(function () {
  var handler = window.webkit.messageHandlers['@HANDLER@'];
  var topTargets = { '': true, '_self': true, '_top': true, '_parent': true };
  var xlink = 'http://www.w3.org/1999/xlink';

  function isLink(node) {
    if (node instanceof HTMLAnchorElement || node instanceof HTMLAreaElement)
      return node.hasAttribute('href');
    return node instanceof SVGAElement && (node.hasAttribute('href') || node.hasAttributeNS(xlink, 'href'));
  }

  function linkOf(e) {
    var path = e.composedPath();
    for (var i = 0; i < path.length; i++) {
      if (isLink(path[i]))
        return path[i];
    }
    return null;
  }

  // What the engine would follow: the resolved address and the target frame's name.
  function describe(link) {
    var url, protocol, origin, target;
    if (link instanceof SVGAElement) {
      var href = link.href.baseVal;
      if (!href && link.hasAttributeNS(xlink, 'href'))
        href = link.getAttributeNS(xlink, 'href');
      try {
        var resolved = new URL(href, document.baseURI);
        url = resolved.href;
        protocol = resolved.protocol;
        origin = resolved.origin;
      } catch (e) {
        return null;
      }
      target = link.target.baseVal;
    } else {
      url = link.href;
      protocol = link.protocol;
      origin = link.origin;
      target = link.getAttribute('target');
    }
    if (!target) {
      var base = document.querySelector('base[target]');
      target = base ? base.getAttribute('target') : '';
    }
    return { url: url, protocol: protocol, origin: origin, target: String(target).toLowerCase(),
             download: link.hasAttribute('download') };
  }

  function withoutFragment(url) {
    var hash = url.indexOf('#');
    return hash < 0 ? url : url.slice(0, hash);
  }

  // A jump within the current document sends no request; the engine scrolls by itself.
  function isSameDocument(url) {
    return url.indexOf('#') >= 0 && withoutFragment(url) === withoutFragment(location.href);
  }

  window.addEventListener('click', function (e) {
    if (e.defaultPrevented || e.button !== 0 || e.ctrlKey || e.shiftKey || e.altKey || e.metaKey)
      return;
    var node = linkOf(e);
    var link = node && describe(node);
    if (!link || (link.protocol !== 'http:' && link.protocol !== 'https:'))
      return;
    // A download attribute is invisible to the engine's policy, and the engine honours it on this
    // document's own origin only: across origins it would fetch the file as a page, so such a
    // link is decided here as the download it asks for.
    if (link.download && link.origin === location.origin)
      return;
    if (!link.download && !topTargets[link.target])
      return;
    if (!link.download && isSameDocument(link.url))
      return;
    e.preventDefault();
    // Views opened by the page share this world's handler; the native side asks each view for
    // this token to learn which one was clicked.
    var token = Math.random().toString(36).slice(2) + Date.now().toString(36);
    window.nolarClickToken = token;
    handler.postMessage({ kind: 'click', url: link.url, token: token, download: link.download,
                          trusted: e.isTrusted });
  }, false);
})();
