// Browser tests of the collector's pages: new site from the toolbar, a job made from a
// fixture rule file, starting it from the toolbar and watching its run page collect the
// local fixture site, pause/resume/stop with a browser reload in between, a job started by
// its interval plan, and the options page writing User/Cfg.xml.
// Usage: node collector.test.mjs <collector_test_host>
import assert from 'node:assert/strict';
import { launchBrowser, startHost, until as untilFor } from './harness.mjs';

const hostProgram = process.argv[2];

const { host, nextLine, cpp } = startHost(hostProgram);
const ready = await nextLine();
if (!ready.startsWith('READY ')) throw new Error('host did not start: ' + ready);
const address = ready.slice(6);

const browser = await launchBrowser();
const { context } = browser;

const until = (what, fn, ms = 20000) => untilFor(what, fn, ms, 100);
let failures = 0;
async function check(name, fn) {
  try {
    await fn();
    console.log(`ok   ${name}`);
  } catch (e) {
    failures++;
    console.log(`FAIL ${name}\n     ${e && e.stack ? e.stack.split('\n').slice(0, 12).join('\n     ') : e}`);
  }
}

let page = await context.newPage();
const left = () => page.frameLocator('#left iframe');
const tabOf = async (key) => (await cpp('tabs')).find((t) => t.key === key);
const frameOfJob = async (key) => page.frameLocator(`#page-${(await tabOf(key)).page}`);
const tool = (id) => page.locator(`#toolbar .tool[data-cmd="${id}"]`);
const enabled = async (id) => !(await tool(id).getAttribute('class')).includes('disabled');
async function selectJob(jobId) {
  await left().locator(`tr[id$="_${jobId}"] td.name`).click();
  await until(`${jobId} selected`, async () => (await cpp('selection')).jobs.join() === jobId);
}
let siteId = '';

try {
  await check('new site from the toolbar, a job from the fixture rule file', async () => {
    await page.goto(address);
    await left().locator('#jobtable').waitFor();
    await tool(10007).click();
    const dialog = page.frameLocator('#overlays iframe');
    // The program focuses the field once the dialog is filled and listening.
    await until('dialog ready', async () => dialog.locator('#siteName').evaluate((e) => document.activeElement === e));
    await dialog.locator('#siteName').fill('测试站');
    await dialog.locator('#btnOk').click();
    await until('site row', async () => (await left().locator('tr.site', { hasText: '测试站' }).count()) === 1);
    siteId = (await cpp('sites')).find((s) => s.name === '测试站').id;
    assert.ok(await cpp('store-job', 'news-1', '新闻任务', siteId, '测试站', 'news'));
    await left().locator('tr[id$="_news-1"]').waitFor();
    assert.match(await cpp('index'), /news-1/);
    assert.equal(await enabled(9500), false);  // nothing selected yet
    // Check boxes: a job's publish box, then the site's collect box for all its jobs.
    assert.deepEqual(await cpp('job-flags', 'news-1'), [1, 1, 0]);
    await left().locator(`[id="${siteId}_j_news-1_ck3"]`).check();
    await until('publish set', async () => (await cpp('job-flags', 'news-1')).join() === '1,1,1');
    await left().locator(`[id="${siteId}_j_news-1_ck3"]`).uncheck();
    await until('publish cleared', async () => (await cpp('job-flags', 'news-1')).join() === '1,1,0');
    assert.match(await cpp('index'), /news-1/);
  });

  await check('start from the toolbar: the run page fills to the end with log and summary lines', async () => {
    await selectJob('news-1');
    await until('start enabled', async () => enabled(9500));
    await tool(9500).click();
    await until('run tab', async () => (await tabOf('news-1'))?.title === '[运行中]新闻任务' || (await tabOf('news-1'))?.title === '[停止]新闻任务');
    const f = await frameOfJob('news-1');
    await f.locator('#log span#log2').waitFor();
    await until('finished', async () => (await tabOf('news-1')).title === '[停止]新闻任务');
    const summary = await f.locator('#logcount').textContent();
    assert.match(summary, /^当前任务：新闻任务 状态：.* 进度：\d+\/\d+ 任务结果--成功：6条 失败：0条 重复：\d+条$/);
    const log = await f.locator('#log').textContent();
    assert.ok(log.length > 0);
    assert.equal(await cpp('running'), 0);
  });

  await check('context menu: clearing a job\'s data, deleting a site that has jobs is refused', async () => {
    const menu = left().locator('#menu');
    await left().locator('tr[id$="_news-1"] td.name').click({ button: 'right' });
    await menu.waitFor({ state: 'visible' });
    assert.equal(await left().locator('#cmd9500').getAttribute('class'), '');
    assert.match(await left().locator('#cmd9502').getAttribute('class'), /disabled/);
    assert.match(await left().locator('#cmd10008').getAttribute('class'), /disabled/);
    await left().locator('#cmd10010').click();
    const box = page.frameLocator('#overlays iframe');
    await box.locator('#msgText', { hasText: '已经清空所有采集内容' }).waitFor();
    await box.locator('#btnOk').click();
    await until('box closed', async () => (await page.locator('#overlays .dialog').count()) === 0);

    await left().locator('tr.site', { hasText: '测试站' }).locator('td.name').click({ button: 'right' });
    await until('site selected', async () => (await cpp('selection')).siteRow);
    await left().locator('#cmd10003').click();
    await box.locator('#msgText', { hasText: '请先删除站点下的规则再删除站点' }).waitFor();
    await box.locator('#btnOk').click();
    await until('box closed', async () => (await page.locator('#overlays .dialog').count()) === 0);
    assert.ok((await cpp('sites')).some((s) => s.name === '测试站'));
  });

  await check('pause, browser closed and reopened, resume, stop', async () => {
    assert.ok(await cpp('store-job', 'slow-1', '慢任务', siteId, '测试站', 'slow'));
    await left().locator('tr[id$="_slow-1"]').waitFor();
    await selectJob('slow-1');
    await until('start enabled', async () => enabled(9500));
    await tool(9500).click();
    await until('running', async () => (await cpp('running')) === 1);
    let f = await frameOfJob('slow-1');
    await f.locator('#log span#log4').waitFor();
    await until('pause enabled', async () => enabled(9503));
    await tool(9503).click();
    await until('paused title', async () => (await tabOf('slow-1')).title === '[暂停]慢任务');
    await f.locator('#log', { hasText: '当前任务被用户暂停,任务进入等待状态。。。' }).waitFor();
    const before = await f.locator('#log span').count();

    // The browser tab goes away; the run page's lines are shown again by the next one.
    await page.close();
    await new Promise((r) => setTimeout(r, 500));
    page = await context.newPage();
    await page.goto(address);
    await until('tabs again', async () => (await page.locator('.tab .tab-text', { hasText: '[暂停]慢任务' }).count()) === 1);
    f = await frameOfJob('slow-1');
    await until('log replayed', async () => (await f.locator('#log span').count()) >= before);
    assert.equal(await cpp('running'), 1);  // paused runs stay active

    await selectJob('slow-1');
    await until('start enabled', async () => enabled(9500));  // start resumes a paused job
    await tool(9500).click();
    await until('resumed title', async () => (await tabOf('slow-1')).title === '[运行中]慢任务');
    await f.locator('#log', { hasText: '当前任务被用户恢复' }).waitFor();
    const resumedAt = await f.locator('#log span').count();
    await until('more lines', async () => (await f.locator('#log span').count()) > resumedAt + 1);
    await until('stop enabled', async () => enabled(9502));
    await tool(9502).click();
    await until('stopped title', async () => (await tabOf('slow-1')).title === '[停止]慢任务');
    await f.locator('#log', { hasText: '当前任务被用户停止' }).waitFor();
    await until('not running', async () => (await cpp('running')) === 0);
  });

  await check('a stopped job started again reuses its page; closing its running tab asks first', async () => {
    await selectJob('slow-1');
    await until('start enabled', async () => enabled(9500));
    const before = (await tabOf('slow-1')).page;
    await tool(9500).click();
    await until('running again', async () => (await tabOf('slow-1')).title === '[运行中]慢任务');
    assert.equal((await tabOf('slow-1')).page, before);
    const f = await frameOfJob('slow-1');
    await until('log starts empty', async () => !(await f.locator('#log').textContent()).includes('当前任务被用户停止'));
    const closeGlyph = () => page.locator(`.tab[data-page="${before}"]`).click({ position: { x: 150 - 12, y: 12 } });
    const box = page.frameLocator('#overlays iframe');
    await closeGlyph();
    await box.locator('#msgText', { hasText: '您是否要关闭正在运行的任务？' }).waitFor();
    await box.locator('#btnCancel').click();
    await until('box closed', async () => (await page.locator('#overlays .dialog').count()) === 0);
    assert.equal((await tabOf('slow-1')).title, '[运行中]慢任务');
    assert.equal(await cpp('running'), 1);
    await closeGlyph();
    await box.locator('#btnOk').click();
    await until('tab closed', async () => (await tabOf('slow-1')) === undefined);
    await until('not running', async () => (await cpp('running')) === 0);
  });

  await check('a job planned every 5 minutes starts on the plan timer', async () => {
    assert.ok(await cpp('store-job', 'plan-1', '计划任务', siteId, '测试站', 'plan'));
    await cpp('plan', 'plan-1', '5');
    await left().locator('#plan-1_HandUp', { hasText: '[挂机中]' }).waitFor();
    await until('plan run page', async () => (await tabOf('plan-1')) !== undefined);
    await until('plan run finished', async () => (await tabOf('plan-1')).title === '[停止]计划任务');
    const plan = await cpp('plan-state', 'plan-1');
    assert.equal(plan.IsClose, 0);
    assert.ok(plan.LastTime > 0);
    assert.equal(plan.NextTime, plan.LastTime + 300);
    assert.match(await cpp('index'), new RegExp(String(plan.NextTime)));
  });

  await check('starting a site queues its jobs; MaxJobCount 1 runs them one at a time', async () => {
    await left().locator('tr.site', { hasText: '测试站' }).locator('td.name').click();
    await until('site selected', async () => (await cpp('selection')).jobs.length === 3);
    await until('start enabled', async () => enabled(9500));
    await tool(9500).click();
    const box = page.frameLocator('#overlays iframe');
    await box.locator('#msgText', { hasText: '您选择了站点节点，是否同时开始站点下所有任务？' }).waitFor();
    await box.locator('#btnOk').click();
    // news-1 runs first and ends quickly; slow-1 then runs while plan-1 waits.
    await until('slow running, plan waiting', async () =>
      (await tabOf('slow-1'))?.title === '[运行中]慢任务' && (await cpp('queue')) === 1 && (await cpp('running')) === 1);
    assert.equal(await tabOf('plan-1').then((t) => t.title), '[停止]计划任务');
    await selectJob('slow-1');
    await until('stop enabled', async () => enabled(9502));
    await tool(9502).click();
    await until('plan-1 ran after it', async () => (await cpp('queue')) === 0 && (await cpp('running')) === 0 &&
      (await tabOf('plan-1')).title === '[停止]计划任务');
  });

  await check('options page: built-in user agent shown, saved values reach User/Cfg.xml', async () => {
    await cpp('command', 32788);
    const options = await until('options tab', async () => (await cpp('tabs')).find((t) => t.kind === 3));
    const f = page.frameLocator(`#page-${options.page}`);
    await until('values filled', async () => (await f.locator('#userAgent').inputValue()).startsWith('Mozilla/4.0 (compatible; MSIE 7.0;'));
    assert.equal((await f.locator('#userAgent').inputValue()).length, 178);
    assert.equal(await f.locator('#maxJobCount').inputValue(), '1');
    await f.locator('#maxJobCount').fill('2');
    await f.locator('#maxRepeatCount').fill('abc');
    await f.locator('#closelogview').check();
    await f.locator('input[name=origType]').nth(1).check();
    await f.locator('#Save').click();
    await f.locator('#saveTip').waitFor({ state: 'visible' });
    const cfg = await cpp('cfg');
    const value = (key) => (cfg.match(new RegExp(`<${key}>(?:<!\\[CDATA\\[)?(.*?)(?:\\]\\]>)?</${key}>`)) || [])[1];
    assert.equal(value('MaxJobCount'), '2');
    assert.equal(value('MaxRepeatCount'), '0');
    assert.equal(value('CloseLogView'), '1');
    assert.equal(value('OrigType'), '1');
    assert.match(cfg, /Mozilla\/4\.0 \(compatible; MSIE 7\.0;/);
    await f.locator('#Cancel').click();
    await until('options closed', async () => !(await cpp('tabs')).some((t) => t.kind === 3));
  });

  await check('with CloseLogView set a finished run closes its page by itself', async () => {
    assert.ok(await tabOf('news-1'));
    await selectJob('news-1');
    await until('start enabled', async () => enabled(9500));
    await tool(9500).click();
    await until('news page closed', async () => (await tabOf('news-1')) === undefined);
    assert.equal(await cpp('running'), 0);
    assert.ok((await cpp('tabs')).some((t) => t.active));
  });
  await check('shutdown after tasks: asked (of the fake) once the queued job has ended', async () => {
    assert.equal(await cpp('shutdowns'), 0);
    await page.locator('#menubar .menu', { hasText: '中文分词效果测试' }).click();
    await page.locator('#menubar [data-cmd="32806"]').click();
    await until('option checked', async () => (await cpp('ui')).commands['32806'].checked);
    await selectJob('plan-1');
    await until('start enabled', async () => enabled(9500));
    await tool(9500).click();
    await until('shutdown asked', async () => (await cpp('shutdowns')) > 0);
    assert.equal(await cpp('running'), 0);
    await cpp('set-shutdown', false);
  });
} finally {
  await browser.close();
  host.stdin.write(JSON.stringify(['quit']) + '\n');
  await new Promise((r) => host.on('exit', r));
}
console.log(failures ? `${failures} failed` : 'all passed');
process.exit(failures ? 1 : 0);
