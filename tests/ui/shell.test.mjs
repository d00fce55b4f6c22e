// Browser tests of the web UI: starts the UI test host (the real shell plus a test page with
// C++ handlers), drives headless chromium against it and checks the page bridge, the tab
// strip, the filters and the server's security checks over real HTTP.
// Usage: node shell.test.mjs <ui_test_host> <build folder>
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import assert from 'node:assert/strict';
import { launchBrowser, startHost, until as untilFor } from './harness.mjs';

const [hostProgram, buildDir] = process.argv.slice(2);
if (!hostProgram || !buildDir) {
  console.error('usage: node shell.test.mjs <ui_test_host> <build folder>');
  process.exit(2);
}

// ---------------------------------------------------------------- the host program

const { host, nextLine, cpp } = startHost(hostProgram);

const ready = await nextLine();
if (!ready.startsWith('READY ')) throw new Error('host did not start: ' + ready);
const address = ready.slice(6);
const base = new URL(address);
const token = base.searchParams.get('token');
const port = Number(base.port);

// ---------------------------------------------------------------- the browser

const browser = await launchBrowser();
const { context } = browser;

let failures = 0;
async function check(name, fn) {
  try {
    await fn();
    console.log(`ok   ${name}`);
  } catch (e) {
    failures++;
    console.log(`FAIL ${name}\n     ${e && e.stack ? e.stack.split('\n').slice(0, 14).join('\n     ') : e}`);
  }
}

const until = (what, fn, ms = 8000) => untilFor(what, fn, ms, 50);

async function waitEvent(text) {
  const seen = [];
  await until(`event "${text}"`, async () => {
    seen.push(...(await cpp('events')));
    return seen.some((e) => e.startsWith(text));
  });
  return seen;
}

const page = await context.newPage();
const frameOf = (id) => page.frameLocator(`#page-${id}`);
const activeTab = () => cpp('tabs').then((t) => t.find((x) => x.active));

try {
  await check('shell loads with menus, toolbar and the start page', async () => {
    await page.goto(address);
    assert.equal(new URL(page.url()).pathname, '/Html/Shell.html');  // token moved into a cookie
    await until('caption', async () => (await page.title()) === '澜岳伪原创采集器 V2011.11.11');
    const menus = await page.locator('#menubar .menu').evaluateAll((els) => els.map((e) => e.firstChild.textContent));
    assert.deepEqual(menus, ['文件(F)', '视图(V)', '工具T)', '帮助(H)']);
    assert.deepEqual(await page.locator('#toolbar .tool').allTextContents(),
      ['新建站点', '开始', '暂停', '停止']);
    assert.equal(await page.locator('#menubar [data-cmd="9500"].disabled').count(), 1);
    assert.equal(await page.locator('#menubar [data-cmd="10007"].disabled').count(), 0);
    // Commands of features not built yet are absent, not shown dead.
    for (const id of [10001, 10002, 10012, 10013, 32796, 32803])
      assert.equal(await page.locator(`[data-cmd="${id}"]`).count(), 0, `command ${id}`);
    await until('start tab', async () => (await page.locator('.tab .tab-text').allTextContents()).join() === '最新动态');
    await frameOf((await activeTab()).page).locator('#heading').waitFor();
  });

  let testPage = 0;
  await check('a page opened from C++ gets a tab and its document-complete step runs', async () => {
    testPage = await cpp('open', 1, 'job1', '编辑规则---测试');
    assert.ok(testPage > 0);
    assert.equal(await cpp('wait-ready', testPage), true);
    await waitEvent('complete /Html/TestPage.html');
    assert.equal((await activeTab()).page, testPage);
    await until('active tab drawn', async () => (await page.locator(`.tab.active[data-page="${testPage}"]`).count()) === 1);
    // Written by the C++ document-complete step, seen in the browser.
    await until('value from C++', async () => (await frameOf(testPage).locator('#txtName').inputValue()) === 'filled by C++');
  });

  await check('elements are read and written from C++', async () => {
    const f = frameOf(testPage);
    await f.locator('#txtName').fill('typed in the browser');
    assert.equal(await cpp('get-value', testPage, 'txtName'), 'typed in the browser');
    assert.equal(await cpp('get-value', testPage, 'otherName'), 'by name');  // by name
    assert.equal(await cpp('get-value', testPage, 'nothing'), '');
    // Writes are not waited for; the browser shows them a moment later.
    await cpp('set-value', testPage, 'txtName', '中文 & "quotes"');
    await until('value written', async () => (await f.locator('#txtName').inputValue()) === '中文 & "quotes"');

    await cpp('set-checked', testPage, 'chkA', 1);
    await until('checked', async () => f.locator('#chkA').isChecked());
    assert.equal(await cpp('get-checked', testPage, 'chkA'), 1);
    await cpp('set-checked', testPage, 'chkA', 2);
    assert.equal(await cpp('get-checked', testPage, 'chkA'), 2);  // indeterminate

    assert.equal(await cpp('get-radio', testPage, 'grp'), -1);
    await cpp('set-radio', testPage, 'grp', 2);
    assert.equal(await cpp('get-radio', testPage, 'grp'), 2);
    await f.locator('input[name=grp]').nth(1).check();
    assert.equal(await cpp('get-radio', testPage, 'grp'), 1);

    assert.deepEqual(await cpp('get-options', testPage, 'selColor'),
      { options: [['红', 'red'], ['绿', 'green']], selected: 0 });
    await cpp('set-options', testPage, 'selEmpty', [['a', '1'], ['b', '2'], ['c', '3']], 1);
    assert.deepEqual(await cpp('get-options', testPage, 'selEmpty'),
      { options: [['a', '1'], ['b', '2'], ['c', '3']], selected: 1 });
    await cpp('set-options', testPage, 'selEmpty', [['x', '9']], 5);  // index beyond the list
    assert.deepEqual(await cpp('get-options', testPage, 'selEmpty'), { options: [['x', '9']], selected: -1 });

    assert.equal(await cpp('get-attr', testPage, 'btnHello', 'title'), 'old');
    await cpp('set-title', testPage, 'btnHello', '新标题');
    await until('title attribute', async () => (await f.locator('#btnHello').getAttribute('title')) === '新标题');
    assert.equal(await cpp('get-attr', testPage, 'btnHello', 'missing'), '');

    assert.equal(await cpp('get-inner', testPage, 'box'), '<b>bold</b> text');
    await cpp('set-inner', testPage, 'box', '<i id="it">new</i>');
    assert.equal(await f.locator('#it').textContent(), 'new');
    assert.match(await cpp('doc-html', testPage), /^<html[^>]*>[\s\S]*<i id="it">new<\/i>[\s\S]*<\/html>$/);
    assert.equal(await cpp('row-index', testPage, 'tbl', 'r1'), 1);
    assert.equal(await cpp('row-index', testPage, 'tbl', 'rX'), -1);
    assert.deepEqual(await cpp('at-point', testPage, 2, 2), { tag: 'div', id: 'at' });

    await cpp('script', testPage, "document.getElementById('lastKey').innerHTML='from script';");
    await until('script ran', async () => (await f.locator('#lastKey').textContent()) === 'from script');
    await cpp('script', testPage, 'this is not javascript');  // silent
  });

  await check('page events reach the C++ handlers', async () => {
    const f = frameOf(testPage);
    await cpp('events');
    await f.locator('#btnHello').click();
    await waitEvent('click btnHello');
    await f.locator('#cell2').click();
    await waitEvent('click td cell2');
    await f.locator('#txtOther').click();
    await waitEvent('click by name otherName');
    await f.locator('#selColor').selectOption('green');
    await waitEvent('change selColor value=green');  // the handler read the page back
    await f.locator('#dbl').dblclick();
    await waitEvent('dblclick dbl');
    await f.locator('#hoverMe').hover();
    await waitEvent('mouseover hoverMe');
    await f.locator('#plain').click();
    await new Promise((r) => setTimeout(r, 300));
    assert.ok(!(await cpp('events')).some((e) => e.includes('after end marker')));
  });

  await check('Ctrl+C/V/X/Z go to the page keydown through C++; other keys pass', async () => {
    const f = frameOf(testPage);
    const input = f.locator('#txtName');
    await input.fill('abc');
    await input.focus();
    for (const [key, code] of [['c', 67], ['v', 86], ['x', 88], ['z', 90]]) {
      await cpp('script', testPage, "document.getElementById('lastKey').innerHTML='';");
      await page.keyboard.press(`Control+${key}`);
      await until(`keydown ${code}`, async () => (await f.locator('#lastKey').textContent()) === String(code));
    }
    assert.equal(await input.inputValue(), 'abc');  // Ctrl+X did not cut by itself
    await cpp('script', testPage, "document.getElementById('lastKey').innerHTML='none';");
    await until('reset', async () => (await f.locator('#lastKey').textContent()) === 'none');
    await page.keyboard.press('Control+a');
    await page.keyboard.type('q');
    assert.equal(await input.inputValue(), 'q');  // Ctrl+A selected all: it passed through
    assert.equal(await f.locator('#lastKey').textContent(), 'none');
  });

  await check('the browser menu shows only on edit boxes and result areas', async () => {
    const f = page.frame({ name: `page${testPage}` });
    const prevented = (sel) => f.evaluate((s) => {
      const ev = new MouseEvent('contextmenu', { bubbles: true, cancelable: true });
      document.querySelector(s).dispatchEvent(ev);
      return ev.defaultPrevented;
    }, sel);
    assert.equal(await prevented('#plain'), true);
    assert.equal(await prevented('#box'), true);
    assert.equal(await prevented('#txtName'), false);
    assert.equal(await prevented('#testResult'), false);
  });

  await check('tabs: one per key and kind, activate, close glyph, double click, start page stays', async () => {
    assert.equal(await cpp('open', 1, 'job1', 'again'), testPage);  // same key and kind
    const options = await cpp('options');
    assert.equal(await cpp('options'), options);
    let tabs = await cpp('tabs');
    assert.deepEqual(tabs.map((t) => t.title), ['最新动态', '编辑规则---测试', '选项']);
    assert.equal(tabs.filter((t) => t.key === '1000' && t.kind === 3).length, 1);

    // Clicking an inactive tab activates it.
    await page.locator(`.tab[data-page="${testPage}"]`).click({ position: { x: 40, y: 13 } });
    await until('activated by click', async () => (await activeTab()).page === testPage);
    await until('shown', async () => page.locator(`#page-${testPage}`).isVisible());
    assert.equal(await page.locator(`#page-${options}`).isVisible(), false);

    // A title set from C++ shows on the tab.
    await cpp('set-page-title', testPage, '[运行中]测试');
    await until('title', async () => (await page.locator(`.tab[data-page="${testPage}"] .tab-text`).textContent()) === '[运行中]测试');

    // Width sharing: six tabs in a 500 px strip are (500 - 120) / 6 = 63 px wide.
    for (const k of ['a', 'b', 'c']) await cpp('open', 4, k, '编辑数据库---' + k);
    await until('six tabs drawn', async () => (await page.locator('.tab').count()) === 6);
    await page.evaluate(() => { document.getElementById('tabbar').style.width = '500px'; window.dispatchEvent(new Event('resize')); });
    const widths = await page.locator('.tab').evaluateAll((els) => els.map((e) => e.offsetWidth));
    assert.deepEqual(widths, [63, 63, 63, 63, 63, 63]);
    await page.evaluate(() => { document.getElementById('tabbar').style.width = ''; window.dispatchEvent(new Event('resize')); });
    const strip = await page.locator('#tabbar').evaluate((e) => e.clientWidth);
    const shared = 6 * 150 > strip - 120 ? Math.floor((strip - 120) / 6) : 150;
    assert.deepEqual(await page.locator('.tab').evaluateAll((els) => els.map((e) => e.offsetWidth)), Array(6).fill(shared));

    // The close glyph of the active closable tab sends a close request; the page closes itself
    // and the tab to its left becomes active.
    tabs = await cpp('tabs');
    const last = tabs[tabs.length - 1];
    assert.equal(last.active, true);
    await page.locator(`.tab[data-page="${last.page}"]`).click({ position: { x: 150 - 12, y: 12 } });
    await until('closed by glyph', async () => (await cpp('tabs')).length === 5);
    assert.equal((await activeTab()).page, tabs[tabs.length - 2].page);
    await until('tab removed', async () => (await page.locator(`.tab[data-page="${last.page}"]`).count()) === 0);

    // A double click is a close request too.
    const victim = tabs[3].page;
    await page.locator(`.tab[data-page="${victim}"]`).dblclick({ position: { x: 40, y: 13 } });
    await until('closed by double click', async () => !(await cpp('tabs')).some((t) => t.page === victim));

    // The start page: no close request from its glyph area, and closing it does nothing.
    const start = tabs[0].page;
    await page.locator(`.tab[data-page="${start}"]`).click({ position: { x: 150 - 12, y: 12 } });
    await until('start active', async () => (await activeTab()).page === start);
    await page.locator(`.tab[data-page="${start}"]`).click({ position: { x: 150 - 12, y: 12 } });
    await page.locator(`.tab[data-page="${start}"]`).dblclick({ position: { x: 40, y: 13 } });
    await cpp('close-current');
    await new Promise((r) => setTimeout(r, 300));
    assert.equal((await cpp('tabs'))[0].page, start);
    assert.equal((await activeTab()).page, start);
  });

  await check('menu commands: view toggles, outside addresses, About box overlay', async () => {
    await page.locator('#menubar .menu', { hasText: '视图' }).click();
    await page.locator('#menubar [data-cmd="32784"]').click();
    await until('toolbar hidden', async () => !(await page.locator('#toolbar').isVisible()));
    assert.equal((await cpp('ui')).commands['32784'].checked, false);
    await page.locator('#menubar .menu', { hasText: '视图' }).click();
    await page.locator('#menubar [data-cmd="32784"]').click();
    await until('toolbar shown', async () => page.locator('#toolbar').isVisible());

    await page.locator('#menubar .menu', { hasText: '帮助' }).click();
    await page.locator('#menubar [data-cmd="32773"]').click();
    await until('help opened', async () => (await cpp('opened')).some((u) => u.endsWith('/help/')));

    await page.locator('#menubar .menu', { hasText: '帮助' }).click();
    await page.locator('#menubar [data-cmd="57664"]').click();
    const dialog = page.locator('#overlays .dialog');
    await dialog.waitFor();
    const about = page.frameLocator('#overlays iframe');
    await until('about filled', async () => (await about.locator('#product').textContent()) === '澜岳伪原创采集器');
    assert.equal(await about.locator('#version').textContent(), 'V2011.11.11');
    await about.locator('#btnOk').click();
    await until('about closed', async () => (await page.locator('#overlays .dialog').count()) === 0);
  });

  await check('screenshot of the shell', async () => {
    await cpp('open', 1, 'job1', 'x');
    const file = path.join(buildDir, 'ui-shell.png');
    await page.screenshot({ path: file });
    assert.ok(fs.statSync(file).size > 1000);
    console.log(`     written to ${file}`);
  });

  await check('a reloaded shell rebuilds tabs and what C++ wrote into the pages', async () => {
    await cpp('set-value', testPage, 'txtName', 'kept across reloads');
    const before = (await cpp('tabs')).map((t) => t.title);
    await cpp('events');
    await page.reload();
    await until('tabs back', async () => (await page.locator('.tab .tab-text').allTextContents()).join() === before.join());
    await until('value replayed', async () => (await frameOf(testPage).locator('#txtName').inputValue()) === 'kept across reloads');
    assert.equal((await cpp('events')).filter((e) => e.startsWith('complete')).length, 0);  // not filled again
  });

  await check('a second browser tab takes over; the first one goes quiet', async () => {
    const second = await context.newPage();
    await second.goto(`http://127.0.0.1:${port}/Html/Shell.html`);  // the cookie is enough now
    await until('first told', async () => (await page.locator('#notice').isVisible()));
    await until('second has tabs', async () => (await second.locator('.tab').count()) === (await cpp('tabs')).length);
    await second.close();
  });
} finally {
  // ------------------------------------------------------------- security over real HTTP
  await check('security: foreign Host, foreign Origin, missing token and traversal are refused', async () => {
    const cookie = `rz_token_${port}=${token}`;
    const get = (p, headers = {}) => new Promise((resolve, reject) => {
      const req = http.request({ host: '127.0.0.1', port, path: p, method: 'GET', headers: { Host: `127.0.0.1:${port}`, Cookie: cookie, ...headers } }, (res) => {
        let body = '';
        res.on('data', (d) => (body += d));
        res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body }));
      });
      req.on('error', reject);
      req.end();
    });
    const ok = await get('/Html/Shell.html');
    assert.equal(ok.status, 200);
    for (const [h, v] of [['x-frame-options', 'SAMEORIGIN'], ['content-security-policy', "frame-ancestors 'self'"],
                          ['x-content-type-options', 'nosniff'], ['referrer-policy', 'same-origin']])
      assert.equal(ok.headers[h], v);
    assert.equal((await get('/Html/Shell.html', { Host: 'evil.example' })).status, 400);
    assert.equal((await get('/Html/Shell.html', { Host: `rebind.example:${port}` })).status, 400);
    assert.equal((await get('/Html/Shell.html', { Origin: 'http://evil.example' })).status, 403);
    assert.equal((await get('/Html/Shell.html', { Cookie: '' })).status, 401);
    assert.equal((await get('/Html/Shell.html', { Cookie: `rz_token_${port}=0000` })).status, 401);
    assert.equal((await get('/?token=wrong', { Cookie: '' })).status, 401);
    const denied = await get('/Html/Shell.html', { Cookie: '' });
    assert.equal(denied.headers['x-frame-options'], 'SAMEORIGIN');  // refusals carry them too
    for (const p of ['/Html/../../theme.ini', '/Html/%2e%2e/%2e%2e/theme.ini', '/Html/..%2f..%2ftheme.ini',
                     '/TabBar/../Html/Shell.html', '/Html/%5c..%5c..%5ctheme.ini', '/Html//etc/passwd',
                     '/Html/escape-link.txt', '/Html/%00Shell.html']) {
      const r = await get(p);
      assert.notEqual(r.status, 200, p);
      assert.ok(!r.body.includes('DefaultDir'), p);
    }
    // The WebSocket: foreign Origin, no Origin, no token all refused; our own accepted.
    const upgrade = (headers) => new Promise((resolve) => {
      const all = { Host: `127.0.0.1:${port}`, Connection: 'Upgrade', Upgrade: 'websocket', 'Sec-WebSocket-Version': '13',
        'Sec-WebSocket-Key': 'dGhlIHNhbXBsZSBub25jZQ==', Cookie: cookie, Origin: `http://127.0.0.1:${port}`, ...headers };
      for (const k of Object.keys(all)) if (all[k] === undefined) delete all[k];
      const req = http.request({ host: '127.0.0.1', port, path: '/bridge', headers: all });
      req.on('upgrade', (res, socket) => { socket.destroy(); resolve(101); });
      req.on('response', (res) => { res.resume(); resolve(res.statusCode); });
      req.on('error', () => resolve('closed'));
      req.setTimeout(3000, () => { req.destroy(); resolve('timeout'); });
      req.end();
    });
    assert.notEqual(await upgrade({ Origin: 'http://evil.example' }), 101);
    assert.notEqual(await upgrade({ Origin: undefined }), 101);
    assert.notEqual(await upgrade({ Cookie: '' }), 101);
    assert.notEqual(await upgrade({ Host: 'evil.example' }), 101);
    assert.equal(await upgrade({}), 101);
    const log = await cpp('log');
    for (const check of ['ValidateHostHeader', 'ValidateOrigin', 'ValidateToken', 'ResolvePagePath'])
      assert.ok(log.some((l) => l.startsWith('ui: refused 127.0.0.1:') && l.includes(`: ${check}: `)), check);
  });

  await browser.close();
  host.stdin.write(JSON.stringify(['quit']) + '\n');
  await new Promise((r) => host.on('exit', r));
}

console.log(failures ? `${failures} failed` : 'all passed');
process.exit(failures ? 1 : 0);
