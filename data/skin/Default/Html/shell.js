// The shell: renders the main window the program describes and carries the page bridge
// (docs/ui-bridge.md). The program owns the state; this page only draws it and reports
// what the user does.
'use strict';

const BRIDGE_VERSION = 1;
const EVENTS = { click: -600, dblclick: -601, mouseover: -2147418104, mouseout: -2147418103, change: 1001 };
const EVENT_NAMES = Object.fromEntries(Object.entries(EVENTS).map(([k, v]) => [v, k]));
const TAB_W = 150, TAB_H = 26, STRIP_FREE = 120;

let ws = null;
let quiet = false;           // taken over or program ended: no reconnect
let hello = { keys: [67, 86, 88, 90], menuTags: ['textarea', 'input'], menuIds: [] };
let ui = {};
const pages = new Map();     // page id -> record (+ frame, doc, map)
let order = [];              // page ids in opening order
let active = 0;
const images = {};

const $ = (id) => document.getElementById(id);

function send(message) {
  if (ws && ws.readyState === WebSocket.OPEN && !quiet) ws.send(JSON.stringify(message));
}

function notice(text) {
  const n = $('notice');
  n.textContent = text;
  n.style.display = text ? 'block' : 'none';
}

// ------------------------------------------------------------------ connection

function connect() {
  ws = new WebSocket(`ws://${location.host}/bridge`);
  ws.onopen = () => notice('');
  ws.onmessage = (e) => {
    let m;
    try { m = JSON.parse(e.data); } catch { return; }
    handle(m);
  };
  ws.onclose = () => {
    if (quiet) return;
    notice('与程序的连接已断开，正在重新连接……');
    setTimeout(connect, 1000);
  };
}

function handle(m) {
  switch (m.t) {
    case 'hello':
      hello = m;
      if (m.v !== BRIDGE_VERSION) console.warn('bridge version', m.v);
      document.title = m.caption || '';
      loadImages(m.tabImages || {});
      break;
    case 'state':
      for (const id of [...pages.keys()]) removePage(id);
      ui = {};
      applyUi(m.ui || {});
      for (const rec of m.pages || []) openPage(rec);
      if (m.active) activate(m.active);
      break;
    case 'ui': applyUi(m); break;
    case 'page.open': openPage(m); break;
    case 'page.update': {
      const rec = pages.get(m.page);
      if (!rec) break;
      for (const k of Object.keys(m)) if (k !== 't') rec[k] = m[k];
      renderTabs();
      break;
    }
    case 'page.navigate': {
      const rec = pages.get(m.page);
      if (rec) { rec.url = m.url; load(rec); }
      break;
    }
    case 'page.close': removePage(m.page); break;
    case 'tab.activate': activate(m.page); break;
    case 'page.sinks': {
      const rec = pages.get(m.page);
      if (rec) { rec.map = m.map || []; connectSinks(rec); }
      break;
    }
    case 'call': call(m); break;
    case 'open': window.open(m.url, '_blank', 'noopener'); break;
    case 'takeover':
      quiet = true;
      notice('程序界面已在另一个浏览器标签页中打开，本页不再使用。');
      ws.close();
      break;
    case 'bye':
      quiet = true;
      notice('程序已退出。');
      break;
  }
}

// ------------------------------------------------------------------ main window

function stripAmp(text) { return String(text).replace(/&/g, ''); }

function commandState(id) {
  const c = (ui.commands || {})[String(id)];
  return { enabled: c ? c.enabled !== false : true, checked: c ? !!c.checked : false };
}

function applyUi(fields) {
  for (const k of Object.keys(fields)) if (k !== 't') ui[k] = fields[k];
  if ('menus' in fields || 'commands' in fields) renderMenus();
  if ('toolbarItems' in fields || 'commands' in fields) renderToolbar();
  $('toolbar').classList.toggle('hidden', ui.toolbar === false);
  $('statusbar').classList.toggle('hidden', ui.statusbar === false);
  $('left').classList.toggle('hidden', ui.left === false);
  $('splitter').classList.toggle('hidden', ui.left === false);
  if (ui.leftWidth) $('left').style.width = ui.leftWidth + 'px';
  $('statustext').textContent = ui.status || '';
  renderTabs();
}

function renderMenus() {
  const bar = $('menubar');
  bar.textContent = '';
  for (const menu of ui.menus || []) {
    const m = document.createElement('div');
    m.className = 'menu';
    m.textContent = stripAmp(menu.text);
    const list = document.createElement('div');
    list.className = 'menu-items';
    for (const item of menu.items || []) {
      const el = document.createElement('div');
      if (item.sep) { el.className = 'menu-sep'; list.appendChild(el); continue; }
      const st = commandState(item.id);
      el.className = 'menu-item' + (st.enabled ? '' : ' disabled') + (st.checked ? ' checked' : '');
      el.dataset.cmd = item.id;
      el.textContent = stripAmp(item.text);
      el.addEventListener('click', (e) => {
        e.stopPropagation();
        closeMenus();
        if (commandState(item.id).enabled) send({ t: 'command', id: item.id });
      });
      list.appendChild(el);
    }
    m.appendChild(list);
    m.addEventListener('click', (e) => {
      e.stopPropagation();
      const open = m.classList.contains('open');
      closeMenus();
      if (!open) m.classList.add('open');
    });
    m.addEventListener('mouseenter', () => {
      if (document.querySelector('.menu.open') && !m.classList.contains('open')) { closeMenus(); m.classList.add('open'); }
    });
    bar.appendChild(m);
  }
}

function closeMenus() { document.querySelectorAll('.menu.open').forEach((m) => m.classList.remove('open')); }
document.addEventListener('click', closeMenus);

function renderToolbar() {
  const bar = $('toolbar');
  bar.textContent = '';
  for (const item of ui.toolbarItems || []) {
    const b = document.createElement('div');
    const st = commandState(item.id);
    b.className = 'tool' + (st.enabled ? '' : ' disabled');
    b.dataset.cmd = item.id;
    b.textContent = item.text;
    b.addEventListener('click', () => { if (commandState(item.id).enabled) send({ t: 'command', id: item.id }); });
    bar.appendChild(b);
  }
}

// Splitter: column 0 keeps the width the user drags it to.
(() => {
  const sp = $('splitter');
  sp.addEventListener('mousedown', (e) => {
    e.preventDefault();
    const startX = e.clientX, startW = $('left').offsetWidth;
    document.querySelectorAll('iframe').forEach((f) => (f.style.pointerEvents = 'none'));
    const move = (ev) => { $('left').style.width = Math.max(80, startW + ev.clientX - startX) + 'px'; renderTabs(); };
    const up = () => {
      document.removeEventListener('mousemove', move);
      document.removeEventListener('mouseup', up);
      document.querySelectorAll('iframe').forEach((f) => (f.style.pointerEvents = ''));
      ui.leftWidth = $('left').offsetWidth;
      send({ t: 'layout', leftWidth: ui.leftWidth });
    };
    document.addEventListener('mousemove', move);
    document.addEventListener('mouseup', up);
  });
})();

// ------------------------------------------------------------------ tab strip

function loadImages(names) {
  $('tabbar').style.backgroundImage = names.background ? `url("${names.background}")` : '';
  for (const key of ['btnbackground', 'close', 'icon']) {
    images[key] = null;
    if (!names[key]) continue;
    const img = new Image();
    img.onload = () => { images[key] = img; renderTabs(); };
    img.src = names[key];
  }
}

function tabWidth(stripWidth, count) {
  const free = stripWidth - STRIP_FREE;
  if (count > 0 && TAB_W * count > free) return Math.max(0, Math.floor(free / count));
  return TAB_W;
}

function tabPages() { return order.map((id) => pages.get(id)).filter((r) => r && r.place === 'tab'); }

function renderTabs() {
  const strip = $('tabbar');
  const tabs = tabPages();
  const w = tabWidth(strip.clientWidth, tabs.length);
  const top = Math.floor((strip.clientHeight - TAB_H) / 2);
  const keep = new Set();
  tabs.forEach((rec, i) => {
    let el = strip.querySelector(`.tab[data-page="${rec.page}"]`);
    if (!el) el = makeTab(rec);
    keep.add(el);
    el.style.left = i * w + 'px';
    el.style.top = top + 'px';
    el.style.width = w + 'px';
    el.classList.toggle('active', rec.page === active);
    el.querySelector('.tab-text').textContent = rec.title || '';
    drawTab(el, rec, w);
  });
  strip.querySelectorAll('.tab').forEach((el) => { if (!keep.has(el)) el.remove(); });
}

function inClose(el, x, y) {
  const w = el.offsetWidth;
  return x >= w - 20 && x <= w - 4 && y >= 4 && y <= 20;
}

function drawTab(el, rec, w) {
  const canvas = el.querySelector('canvas');
  canvas.width = w;
  canvas.height = TAB_H;
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, w, TAB_H);
  const isActive = rec.page === active;
  const bg = images.btnbackground;
  if (bg) {
    // Four slices side by side: the first for an inactive tab, the third for the active one;
    // each drawn as its 10 px left edge, its stretched middle and its 10 px right edge.
    const sw = bg.naturalWidth / 4, sh = bg.naturalHeight, sx = (isActive ? 2 : 0) * sw;
    g.drawImage(bg, sx, 0, 10, sh, 0, 0, 10, TAB_H);
    g.drawImage(bg, sx + 10, 0, sw - 20, sh, 10, 0, Math.max(0, w - 20), TAB_H);
    g.drawImage(bg, sx + sw - 10, 0, 10, sh, w - 10, 0, 10, TAB_H);
  } else {
    g.fillStyle = isActive ? '#e07a2e' : '#50698c';
    g.fillRect(0, 1, w, TAB_H - 1);
  }
  if (rec.icon && images.icon) g.drawImage(images.icon, 4, (TAB_H - 16) / 2, 16, 16);
  if (isActive && rec.closable) {
    const img = images.close;
    const slice = el.dataset.hover === '1' ? 1 : 0;
    if (img) {
      const cw = img.naturalWidth / 3;
      g.drawImage(img, slice * cw, 0, cw, img.naturalHeight, w - 20, 4, 16, 16);
    } else {
      g.strokeStyle = slice ? '#ffdddd' : '#ffffff';
      g.lineWidth = 2;
      g.beginPath(); g.moveTo(w - 16, 8); g.lineTo(w - 8, 16); g.moveTo(w - 8, 8); g.lineTo(w - 16, 16); g.stroke();
    }
  }
}

let tipTimer = 0;
function makeTab(rec) {
  const el = document.createElement('div');
  el.className = 'tab';
  el.dataset.page = rec.page;
  el.innerHTML = '<canvas></canvas><span class="tab-text"></span>';
  const current = () => pages.get(Number(el.dataset.page));
  el.addEventListener('mousemove', (e) => {
    const r = current();
    const hover = r && r.page === active && r.closable && inClose(el, e.offsetX, e.offsetY) ? '1' : '0';
    if (el.dataset.hover !== hover) { el.dataset.hover = hover; renderTabs(); }
  });
  el.addEventListener('mouseenter', (e) => {
    clearTimeout(tipTimer);
    tipTimer = setTimeout(() => {
      const tip = $('tooltip');
      tip.textContent = (current() || {}).title || '';
      tip.style.left = e.clientX + 12 + 'px';
      tip.style.top = e.clientY + 16 + 'px';
      tip.style.display = 'block';
    }, 150);
  });
  el.addEventListener('mouseleave', () => {
    clearTimeout(tipTimer);
    $('tooltip').style.display = 'none';
    if (el.dataset.hover === '1') { el.dataset.hover = '0'; renderTabs(); }
  });
  el.addEventListener('click', (e) => {
    const r = current();
    if (!r) return;
    if (r.page === active && r.closable && inClose(el, e.offsetX, e.offsetY)) send({ t: 'tab', page: r.page, action: 'close' });
    else send({ t: 'tab', page: r.page, action: 'click' });
  });
  el.addEventListener('dblclick', () => {
    const r = current();
    if (r) send({ t: 'tab', page: r.page, action: 'dblclick' });
  });
  $('tabbar').appendChild(el);
  return el;
}

window.addEventListener('resize', renderTabs);

function activate(id) {
  active = id;
  for (const rec of pages.values()) {
    if (rec.place === 'tab' && rec.frame) rec.frame.classList.toggle('shown', rec.page === id);
  }
  renderTabs();
}

// ------------------------------------------------------------------ pages

function openPage(rec) {
  rec = Object.assign({}, rec);
  delete rec.t;
  if (pages.has(rec.page)) removePage(rec.page);
  const f = document.createElement('iframe');
  f.id = 'page-' + rec.page;
  f.name = 'page' + rec.page;
  rec.frame = f;
  rec.doc = null;
  rec.map = [];
  pages.set(rec.page, rec);
  order.push(rec.page);
  f.addEventListener('load', () => frameLoaded(rec));
  if (rec.place === 'left') {
    $('left').textContent = '';
    $('left').appendChild(f);
  } else if (rec.place === 'dialog') {
    const back = document.createElement('div');
    back.className = 'backdrop';
    back.id = 'dialog-' + rec.page;
    const box = document.createElement('div');
    box.className = 'dialog';
    box.style.width = (rec.width || 400) + 'px';
    box.style.height = (rec.height || 300) + 28 + 'px';
    const title = document.createElement('div');
    title.className = 'dialog-title';
    const text = document.createElement('span');
    text.textContent = rec.title || '';
    const close = document.createElement('div');
    close.className = 'dialog-close';
    close.textContent = '\u00d7';
    close.addEventListener('click', () => send({ t: 'dialog.cancel', page: rec.page }));
    title.append(text, close);
    box.append(title, f);
    back.appendChild(box);
    $('overlays').appendChild(back);
    rec.overlay = back;
  } else {
    $('pagearea').appendChild(f);
    renderTabs();
  }
  if (rec.url) load(rec);
}

function load(rec) {
  rec.doc = null;
  rec.map = [];
  rec.frame.src = rec.url;
}

function removePage(id) {
  const rec = pages.get(id);
  if (!rec) return;
  pages.delete(id);
  order = order.filter((p) => p !== id);
  if (rec.overlay) rec.overlay.remove();
  else rec.frame.remove();
  if (active === id) active = 0;
  renderTabs();
}

function frameLoaded(rec) {
  if (pages.get(rec.page) !== rec) return;
  let doc = null, href = '';
  try {
    doc = rec.frame.contentDocument;
    href = rec.frame.contentWindow.location.href;
  } catch { doc = null; }  // an outside page: no element access
  if (doc && href === 'about:blank') return;
  rec.doc = doc;
  if (doc) installFilters(rec, doc, rec.frame.contentWindow);
  send({ t: 'ready', page: rec.page, url: rec.url });
}

function sourceOf(target) {
  let el = target;
  if (el && el.nodeType !== 1) el = el.parentElement;
  return el;
}

function describe(el) {
  return { id: el.id || '', name: el.getAttribute('name') || '', tag: el.tagName.toLowerCase() };
}

function installFilters(rec, doc, win) {
  if (!rec.selectable) {
    // Dialog behaviour: no text selection and an arrow cursor, except in edit boxes.
    const style = doc.createElement('style');
    style.textContent = 'html,body{-webkit-user-select:none;user-select:none;cursor:default}' +
      'input,textarea,select{-webkit-user-select:text;user-select:text;cursor:auto}';
    (doc.head || doc.documentElement).appendChild(style);
  }
  // Ctrl+C/V/X/Z go to the program, which calls the page's keydown().
  win.addEventListener('keydown', (e) => {
    if (e.ctrlKey && (hello.keys || []).includes(e.keyCode)) {
      e.preventDefault();
      e.stopImmediatePropagation();
      send({ t: 'key', page: rec.page, code: e.keyCode, ctrl: true });
    }
  }, true);
  // The browser's menu only on edit boxes and the test result areas; a page's own
  // contextmenu handler runs before this one.
  win.addEventListener('contextmenu', (e) => {
    if (e.defaultPrevented) return;
    const el = sourceOf(e.target);
    const tag = el ? el.tagName.toLowerCase() : '';
    const ok = (hello.menuTags || []).includes(tag) || (el && (hello.menuIds || []).includes(el.id));
    if (!ok) e.preventDefault();
  });
  for (const type of ['click', 'dblclick', 'mouseover', 'mouseout']) {
    doc.addEventListener(type, (e) => forwardDocEvent(rec, doc, type, e));
  }
}

function forwardDocEvent(rec, doc, type, e) {
  if (rec.doc !== doc) return;
  const el = sourceOf(e.target);
  if (!el) return;
  const code = EVENTS[type];
  const src = describe(el);
  const hit = rec.map.some((m) => m.e === code &&
    ((m.kind === 0 && m.name && (m.name === src.id || m.name === src.name)) ||
     (m.kind === 2 && m.name.toLowerCase() === src.tag)));
  if (hit) send({ t: 'event', page: rec.page, e: code, sink: 'doc', src });
}

function connectSinks(rec) {
  const doc = rec.doc;
  if (!doc) return;
  rec.map.forEach((m, index) => {
    if (m.kind !== 3 && m.kind !== 4) return;
    const el = doc.getElementById(m.name);
    const type = EVENT_NAMES[m.e];
    if (!el || !type) return;
    el.__rzSinks = el.__rzSinks || new Set();
    if (el.__rzSinks.has(index)) return;  // connected once per element
    el.__rzSinks.add(index);
    el.addEventListener(type, (e) => {
      if (rec.doc !== doc) return;
      send({ t: 'event', page: rec.page, e: m.e, sink: 'element', entry: index, src: describe(el) });
    });
  });
}

// ------------------------------------------------------------------ element operations

function findElement(doc, name) {
  if (name === undefined || name === null || name === '') return null;
  const v = CSS.escape(String(name));
  return doc.querySelector(`[id="${v}"],[name="${v}"]`);
}

const OPS = {
  runScript(doc, a, win) { try { win.eval(a.code); } catch { /* script errors are silent */ } },
  getValue(doc, a) { const el = need(doc, a.el); return el.value === undefined || el.value === null ? '' : String(el.value); },
  setValue(doc, a) { need(doc, a.el).value = a.text; },
  getChecked(doc, a) { const el = need(doc, a.el); return (el.checked ? 1 : 0) | (el.indeterminate ? 2 : 0); },
  setChecked(doc, a) { const el = need(doc, a.el); el.checked = !!(a.flags & 1); el.indeterminate = !!(a.flags & 2); },
  getRadioIndex(doc, a) { const list = [...doc.getElementsByName(a.name)]; return list.findIndex((e) => e.checked); },
  setRadioIndex(doc, a) { const el = doc.getElementsByName(a.name)[a.index]; if (el) el.checked = true; },
  getSelectOptions(doc, a) {
    const el = need(doc, a.el);
    if (!el.options) throw new Error('no-element');
    return { options: [...el.options].map((o) => [o.text, o.value]), selected: el.selectedIndex };
  },
  setSelectOptions(doc, a) {
    const el = need(doc, a.el);
    if (!el.options) throw new Error('no-element');
    el.options.length = 0;
    for (const [text, value] of a.options || []) {
      const o = doc.createElement('option');
      o.text = text;
      o.value = value;
      el.appendChild(o);
    }
    el.selectedIndex = a.selected >= 0 && a.selected < el.options.length ? a.selected : -1;
  },
  getAttribute(doc, a) { const v = need(doc, a.el).getAttribute(a.attr); return v === null ? '' : v; },
  setAttribute(doc, a) { need(doc, a.el).setAttribute(a.attr, a.text); },
  getInnerHtml(doc, a) { return need(doc, a.el).innerHTML; },
  setInnerHtml(doc, a) { need(doc, a.el).innerHTML = a.html; },
  getDocumentHtml(doc) { return doc.documentElement.outerHTML; },
  findRowIndex(doc, a) {
    const t = findElement(doc, a.table);
    if (!t || !t.rows) return -1;
    return [...t.rows].findIndex((r) => r.id === a.row);
  },
  elementAtPoint(doc, a) {
    const el = doc.elementFromPoint(a.x, a.y);
    return el ? { tag: el.tagName.toLowerCase(), id: el.id || '' } : { tag: '', id: '' };
  },
};

function need(doc, name) {
  const el = findElement(doc, name);
  if (!el) throw new Error('no-element');
  return el;
}

function call(m) {
  const rec = pages.get(m.page);
  let reply;
  const op = OPS[m.op];
  if (!op) reply = { ok: false, error: 'bad-op' };
  else if (!rec || !rec.doc) reply = { ok: false, error: 'no-document' };
  else {
    try {
      reply = { ok: true, result: op(rec.doc, m.args || {}, rec.frame.contentWindow) };
    } catch (e) {
      reply = { ok: false, error: e && e.message === 'no-element' ? 'no-element' : 'script' };
    }
  }
  if (m.id !== undefined) send(Object.assign({ t: 'reply', id: m.id }, reply));
}

document.addEventListener('keydown', (e) => {
  if (e.key === 'Escape') {
    const top = [...order].reverse().map((id) => pages.get(id)).find((r) => r && r.place === 'dialog');
    if (top) send({ t: 'dialog.cancel', page: top.page });
  }
});

window.rzShell = { pages, order: () => order, active: () => active, tabWidth };
connect();
