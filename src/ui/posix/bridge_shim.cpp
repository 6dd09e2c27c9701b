// The script the bridge puts first into every page it serves. It gives the
// page window.external with callc, asyncallc, asyncalld and getCom, runs
// the program's calls into the page, and keeps the browser from doing what
// a browser does in a dialog. Plain ES3 style, like the pages.
namespace Zentrovak::UI::Posix {

extern const char kShimScript[];
const char kShimScript[] = R"JS((function () {
  var base = "/bridge/";
  var token = typeof ZENTROVAK_TOKEN == "string" ? ZENTROVAK_TOKEN : "";
  var objects = {};
  var nextHandle = 1;
  var UNKNOWN_NAME = -2147352570;   /* DISP_E_UNKNOWNNAME */
  var EXCEPTION = -2147352567;      /* DISP_E_EXCEPTION */
  var TYPE_MISMATCH = -2147352571;  /* DISP_E_TYPEMISMATCH */
  var stopped = false;

  /* Text with a broken surrogate pair cannot travel as UTF-8. */
  function clean(s) {
    if (!/[\ud800-\udfff]/.test(s)) return s;
    var out = [], i, c, d;
    for (i = 0; i < s.length; i++) {
      c = s.charCodeAt(i);
      if (c >= 0xd800 && c <= 0xdbff) {
        d = s.charCodeAt(i + 1);
        if (d >= 0xdc00 && d <= 0xdfff) { out.push(s.charAt(i), s.charAt(i + 1)); i++; continue; }
        out.push("\ufffd"); continue;
      }
      if (c >= 0xdc00 && c <= 0xdfff) { out.push("\ufffd"); continue; }
      out.push(s.charAt(i));
    }
    return out.join("");
  }

  function hold(o) { var h = nextHandle++; objects[h] = o; return h; }

  function enc(v) {
    var t = typeof v;
    if (v === undefined) return { t: "e" };
    if (v === null) return { t: "n" };
    if (t == "string") return { t: "s", v: clean(v) };
    if (t == "boolean") return { t: "b", v: v };
    if (t == "number") {
      if (v != v) return { t: "d", v: "NaN" };
      if (v == Infinity) return { t: "d", v: "Infinity" };
      if (v == -Infinity) return { t: "d", v: "-Infinity" };
      if (v == Math.floor(v) && v >= -2147483648 && v <= 2147483647 && !(v === 0 && 1 / v < 0)) return { t: "i", v: v };
      return { t: "d", v: v };
    }
    if (t == "function" || t == "object") return { t: "f", h: hold(v) };
    return { t: "e" };
  }

  function dec(w) {
    if (!w || typeof w != "object") return undefined;
    if (w.t == "s" || w.t == "i" || w.t == "b") return w.v;
    if (w.t == "n") return null;
    if (w.t == "d") {
      if (typeof w.v == "number") return w.v;
      return w.v == "Infinity" ? Infinity : (w.v == "-Infinity" ? -Infinity : NaN);
    }
    if (w.t == "f") return objects[w.h];
    return undefined;
  }

  function decList(list) {
    var out = [], i;
    for (i = 0; list && i < list.length; i++) out.push(dec(list[i]));
    return out;
  }

  function send(path, body, sync, whenRefused) {
    var x = new XMLHttpRequest();
    try {
      x.open("POST", base + path, !sync);
      x.setRequestHeader("Content-Type", "application/json");
      x.setRequestHeader("X-Zentrovak-Token", token);
      if (!sync && whenRefused) {
        x.onloadend = function () { if (x.status != 200) whenRefused(); };
      }
      x.send(JSON.stringify(body));
    } catch (e) {
      return null;
    }
    if (!sync || x.status != 200) return null;
    try { return JSON.parse(x.responseText); } catch (e2) { return null; }
  }

  function resolve(url) {
    var a = document.createElement("a");
    a.href = url;
    return a.href;
  }

  function openOutside(url) {
    if (url) send("external", { url: resolve(url) }, false);
  }

  /* The program's modal box: a layer over the page, answered by a button. */
  function showBox(op, done) {
    var mask = document.createElement("div");
    mask.id = "zentrovak-box";
    mask.setAttribute("data-kind", String(op.kind || 0));
    mask.style.cssText = "position:fixed;left:0;top:0;right:0;bottom:0;z-index:2147483647;" +
      "background:rgba(100,100,100,0.7);font:12px SimSun,'WenQuanYi Micro Hei',sans-serif;";
    var box = document.createElement("div");
    box.style.cssText = "position:absolute;left:50%;top:40%;width:360px;margin-left:-180px;margin-top:-60px;" +
      "background:#fff;border:1px solid #a72126;box-shadow:0 2px 10px #333;";
    var title = document.createElement("div");
    title.className = "zentrovak-box-title";
    title.style.cssText = "background:#a72126;color:#fff;padding:6px 10px;font-weight:bold;";
    title.appendChild(document.createTextNode(op.title || ""));
    box.appendChild(title);
    if (op.instruction) {
      var head = document.createElement("div");
      head.className = "zentrovak-box-instruction";
      head.style.cssText = "padding:10px 12px 0;font-size:14px;color:#003399;";
      head.appendChild(document.createTextNode(op.instruction));
      box.appendChild(head);
    }
    var text = document.createElement("div");
    text.className = "zentrovak-box-text";
    text.style.cssText = "padding:10px 12px;white-space:pre-wrap;word-wrap:break-word;max-height:300px;overflow:auto;";
    text.appendChild(document.createTextNode(op.text || ""));
    box.appendChild(text);
    var row = document.createElement("div");
    row.style.cssText = "padding:8px 12px;text-align:right;border-top:1px solid #eee;";
    function button(label, value) {
      var b = document.createElement("button");
      b.className = "zentrovak-box-button";
      b.setAttribute("data-value", String(value));
      b.appendChild(document.createTextNode(label));
      b.style.cssText = "margin-left:8px;min-width:70px;";
      b.onclick = function () {
        if (mask.parentNode) mask.parentNode.removeChild(mask);
        if (done) done(value);
      };
      row.appendChild(b);
    }
    if (op.yesNo) { button(op.yesText || "是", 6); button(op.noText || "否", 7); }
    else button("确定", 1);
    box.appendChild(row);
    mask.appendChild(box);
    (document.body || document.documentElement).appendChild(mask);
  }

  /* One call of the program into the page; the answer, or null when it
     comes later (a box shown on the event stream). */
  function perform(op, blocked) {
    var f, o, m, r;
    try {
      switch (op.op) {
        case "call":
          f = window[op.name];
          if (typeof f != "function") return { hr: UNKNOWN_NAME };
          return { hr: 0, value: enc(f.apply(window, decList(op.args))) };
        case "invoke":
          o = objects[op.h];
          if (o === undefined || o === null) return { hr: UNKNOWN_NAME };
          m = o[op.name];
          if (typeof m != "function") return { hr: UNKNOWN_NAME };
          return { hr: 0, value: enc(m.apply(o, decList(op.args))) };
        case "set":
          if (!(op.name in window)) return { hr: UNKNOWN_NAME };
          window[op.name] = dec(op.value);
          return { hr: 0 };
        case "get":
          if (!(op.name in window)) return { hr: UNKNOWN_NAME };
          return { hr: 0, value: enc(window[op.name]) };
        case "exec":
          (0, eval)(op.script);
          return { hr: 0 };
        case "new":
          if (!(op.name in window)) return { hr: UNKNOWN_NAME };
          f = window[op.name];
          if (typeof f != "function") return { hr: TYPE_MISMATCH };
          r = new f();
          if (r === null || (typeof r != "object" && typeof r != "function")) return { hr: TYPE_MISMATCH };
          return { hr: 0, value: enc(r) };
        case "box":
          if (blocked) {
            /* The script waits in a synchronous call: only the browser's
               own boxes can ask now; an information box just shows. */
            if (op.yesNo) return { hr: 0, value: enc(window.confirm((op.instruction ? op.instruction + "\n" : "") + op.text) ? 6 : 7) };
            showBox(op, null);
            return { hr: 0, value: enc(1) };
          }
          showBox(op, function (value) { send("answer", { id: op.id, answer: { hr: 0, value: enc(value) } }, false); });
          return null;
        default:
          return { hr: 0 };
      }
    } catch (e) {
      return { hr: EXCEPTION };
    }
  }

  function callc(name, a1, a2, a3, a4) {
    var reply = send("callc", { args: [enc(name), enc(a1), enc(a2), enc(a3), enc(a4)] }, true);
    while (reply && reply.kind == "op") {
      var answer = perform(reply.op, true);
      reply = send("continue", { channel: reply.channel, id: reply.op.id, answer: answer }, true);
    }
    return reply && reply.kind == "result" ? dec(reply.value) : undefined;
  }

  /* Asynchronous calls may travel on several connections: the number
     tells the program the order the page issued them in. */
  var documentId = String(new Date().getTime()) + String(Math.random()).substring(2);
  var asyncCount = 0;
  function async(queued, args) {
    var list = [], i;
    for (i = 0; i < 6; i++) list.push(enc(args[i]));
    var seq = ++asyncCount;
    /* A call the program refused (too large, say) never runs; the program
       is told its number, or every later call would wait for it. */
    send("async", { queued: queued, args: list, document: documentId, seq: seq }, false, function () {
      send("async", { queued: queued, args: [], document: documentId, seq: seq, refused: true }, false);
    });
  }

  var external = {
    callc: callc,
    asyncallc: function (callback, name, a1, a2, a3, a4) { async(true, arguments); },
    asyncalld: function (callback, name, a1, a2, a3, a4) { async(false, arguments); },
    getCom: function (progId) { return null; }
  };
  try { window.external = external; } catch (e) {}
  if (window.external !== external) {
    try { Object.defineProperty(window, "external", { value: external, configurable: true, writable: true }); } catch (e2) {}
  }

  /* The program's calls arrive on the event stream, opened when the
     document is complete: before that the program's calls find no page. */
  var events = null;
  var listenTries = 0;
  function listen() {
    events = new EventSource(base + "events?token=" + encodeURIComponent(token));
    events.onopen = function () { listenTries = 0; };
    /* Refused while the document before this one (a reload) still holds
       the stream: try again for a while. */
    events.onerror = function () {
      if (stopped || events.readyState != 2 || ++listenTries > 40) return;
      setTimeout(function () { if (!stopped) listen(); }, 250);
    };
    events.onmessage = function (e) {
      var op;
      try { op = JSON.parse(e.data); } catch (x) { return; }
      if (op.op == "release") { delete objects[op.h]; return; }
      if (op.op == "superseded") { stopped = true; events.close(); return; }
      if (op.op == "close") { stopped = true; events.close(); try { window.close(); } catch (y) {} return; }
      var answer = perform(op, false);
      if (answer) send("answer", { id: op.id, answer: answer }, false);
    };
  }

  /* The window rules of the dialog. */
  function capture(type, handler) {
    if (window.addEventListener) window.addEventListener(type, handler, true);
  }
  function anchorOf(node) {
    while (node && node.nodeType == 1) {
      if (node.tagName == "A" && node.getAttribute("href") !== null) return node;
      node = node.parentNode;
    }
    return null;
  }
  function withoutFragment(url) {
    var hash = url.indexOf("#");
    return (hash < 0 ? url : url.substring(0, hash)).toLowerCase().replace(/\/$/, "");
  }

  capture("keydown", function (e) {
    var k = e.keyCode;
    var letter = String.fromCharCode(k);
    if (k == 27 || k == 112 || k == 116 || (e.altKey && (k == 37 || k == 39)) ||
        (e.ctrlKey && k >= 65 && k <= 90 && "DLNOPS".indexOf(letter) >= 0)) {
      e.preventDefault();
      e.stopPropagation();
    }
  });
  capture("help", function (e) { e.preventDefault(); });

  capture("contextmenu", function (e) {
    var s = window.getSelection ? window.getSelection() : null;
    if (s && !s.isCollapsed && String(s) != "" && (!s.containsNode || s.containsNode(e.target, true))) return;
    e.preventDefault();
  });

  function linkClick(e) {
    var a = anchorOf(e.target);
    if (!a) return;
    var target = (a.getAttribute("target") || "").toLowerCase();
    var scripted = /^javascript:/i.test(a.href);
    if (e.ctrlKey || e.shiftKey || e.metaKey || e.button == 1 ||
        (target && target != "_self" && target != "_top" && target != "_parent")) {
      e.preventDefault();
      if (!scripted) openOutside(a.href);
      return;
    }
    if (!scripted && withoutFragment(a.href) == withoutFragment(location.href)) e.preventDefault();
  }
  capture("click", linkClick);
  capture("auxclick", function (e) { if (e.button == 1) linkClick(e); });
  capture("dragstart", function (e) { if (anchorOf(e.target)) e.preventDefault(); });

  /* The frame elements the dialog itself reacts to. The page's own click
     handlers run first, as they do before the Windows dialog's message
     loop sees the quit that the dialog posts: closing with the tray
     helper's hand-over ("shut_downmini") must not lose to that quit. */
  capture("click", function (e) {
    var id = e.target && e.target.id;
    if (id == "ui_close" || id == "ui_quit" || id == "ui_maximize" || id == "ui_restore" ||
        id == "ui_minimize" || id == "ui_menu") {
      window.setTimeout(function () { send("notify", { id: id }, false); }, 0);
    }
  });

  window.open = function (url) { openOutside(url); return null; };

  /* The window takes the size of the page, once centred. */
  function fit(centre) {
    if (ZENTROVAK_AUTOSIZE != 1 || !document.body) return;
    try {
      var w = document.body.scrollWidth + (window.outerWidth - window.innerWidth);
      var h = document.body.scrollHeight + (window.outerHeight - window.innerHeight);
      if (w > 0 && h > 0 && (w != window.outerWidth || h != window.outerHeight)) window.resizeTo(w, h);
      if (centre) window.moveTo((screen.availWidth - w) / 2, (screen.availHeight - h) / 2);
    } catch (e) {}
  }
  function loaded() {
    fit(true);
    if (window.ResizeObserver && document.body) new ResizeObserver(function () { fit(false); }).observe(document.body);
    listen();
  }
  if (window.addEventListener) window.addEventListener("load", loaded, false);
})();
)JS";

}  // namespace Zentrovak::UI::Posix
