// Starts the real Rizede program from a temporary copy of its program folder, checks that the
// printed address shows the shell with the start page, then ends it once by the exit command
// (57665) from the menu and once by SIGTERM. The copy keeps the program's files (User/, log/,
// the job index, the database server's data) out of the build, and the local database server
// runs on a free port instead of the designed one, which a user's Rizede may be using.
// Usage: node rizede.test.mjs <Rizede program> <program folder of the build>
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import assert from 'node:assert/strict';

const here = path.dirname(fileURLToPath(import.meta.url));
const { chromium } = await import(path.join(here, 'node_modules/playwright-core/index.mjs'));
const [built, builtFolder] = process.argv.slice(2);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function freePort() {
  for (;;) {
    const port = await new Promise((resolve, reject) => {
      const server = net.createServer();
      server.on('error', reject);
      server.listen(0, '127.0.0.1', () => {
        const { port } = server.address();
        server.close(() => resolve(port));
      });
    });
    if (port !== 7795 && port !== 7796) return port;
  }
}

function accepts(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.on('connect', () => { socket.destroy(); resolve(true); });
    socket.on('error', () => resolve(false));
  });
}

// Processes whose command line names the folder: the server, its launcher, a data folder
// being made.
function processesOf(folder) {
  const ids = [];
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name) || Number(name) === process.pid) continue;
    let cmdline = '';
    try { cmdline = fs.readFileSync(`/proc/${name}/cmdline`, 'utf8'); } catch { continue; }
    if (cmdline.split('\0').some((arg) => arg.includes(folder))) ids.push(Number(name));
  }
  return ids;
}

// Waits up to `ms` for them to end by themselves, then ends what is left (SIGTERM, then
// SIGKILL). Returns the ids that had to be ended.
async function endProcessesOf(folder, ms) {
  for (let waited = 0; waited < ms && processesOf(folder).length; waited += 100) await sleep(100);
  const left = processesOf(folder);
  for (const signal of ['SIGTERM', 'SIGKILL']) {
    for (const id of processesOf(folder)) { try { process.kill(id, signal); } catch {} }
    for (let i = 0; i < 100 && processesOf(folder).length; ++i) await sleep(100);
  }
  return left;
}

// The program folder: the binary and the shipped folders, without the server's data.
const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'rz-program-'));
const program = path.join(folder, 'Rizede');
fs.copyFileSync(built, program);
fs.chmodSync(program, 0o755);
for (const part of ['System', 'Data', 'skin', 'Plugin', path.join('Mysql', 'bin')]) {
  fs.cpSync(path.join(builtFolder, part), path.join(folder, part), { recursive: true });
}
for (const file of ['html_tpl.html']) {
  if (fs.existsSync(path.join(builtFolder, file))) fs.copyFileSync(path.join(builtFolder, file), path.join(folder, file));
}
const dbPort = await freePort();
// The settings name the local server on that port, as after the first start's upgrade.
fs.mkdirSync(path.join(folder, 'User'));
fs.writeFileSync(path.join(folder, 'User', 'Cfg.xml'),
  `<?xml version="1.0" encoding="utf-8"?>\n<Cfg><DBTYPE>MySql</DBTYPE><SqlHost>127.0.0.1</SqlHost>` +
  `<SqlDb>kitesoft</SqlDb><SqlUser>root</SqlUser><SqlPsw></SqlPsw><Port>${dbPort}</Port></Cfg>\n`);

const running = new Set();
function start() {
  // Any free port; no display, so nothing is opened by the program itself.
  const child = spawn(program, [], { cwd: folder, stdio: ['ignore', 'pipe', 'inherit'],
    env: { ...process.env, RIZEDE_UI_PORT: '0', RIZEDE_LOCAL_DB_PORT: String(dbPort), DISPLAY: '' } });
  running.add(child);
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => {
    running.delete(child);
    resolve({ code, signal });
  }));
  const address = new Promise((resolve, reject) => {
    const lines = readline.createInterface({ input: child.stdout });
    lines.on('line', (line) => { if (line.startsWith('open: ')) resolve(line.slice(6)); });
    child.on('exit', () => reject(new Error('Rizede ended before printing its address')));
  });
  address.catch(() => {});
  return { child, exited, address };
}

const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'rz-chromium-'));
let context = null;
let failed = false;
try {
  context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: '/usr/bin/chromium', headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });

  // 1. The shell with the start page; exit from the menu.
  const first = start();
  const address = await first.address;
  assert.match(address, /^http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]{32}$/);
  const page = await context.newPage();
  await page.goto(address);
  await page.locator('.tab .tab-text', { hasText: '最新动态' }).waitFor({ timeout: 10000 });
  assert.equal(await page.title(), '澜岳伪原创采集器 V2011.11.11');
  await page.frameLocator('#pagearea iframe').locator('#heading').waitFor();
  await page.locator('#menubar .menu', { hasText: '文件' }).click();
  await page.locator('#menubar [data-cmd="57665"]').click();
  assert.deepEqual(await first.exited, { code: 0, signal: null });
  await page.locator('#notice').waitFor({ state: 'visible' });  // told before the end
  console.log('ok   Rizede shows the shell and ends on the exit command');
  // A first start may have been ended while the server's data folder was being made.
  await endProcessesOf(folder, 10000);

  // 2. Closing the browser leaves it running; its database server comes up on the given
  // port; SIGTERM ends both.
  const second = start();
  const again = await context.newPage();
  await again.goto(await second.address);
  await again.locator('.tab').first().waitFor();
  await again.close();
  let up = false;
  for (let i = 0; i < 900 && !up && second.child.exitCode === null; ++i) {
    up = await accepts(dbPort);
    if (!up) await sleep(100);
  }
  assert.ok(up, `the local database server did not come up on port ${dbPort}`);
  assert.equal(second.child.exitCode, null);
  second.child.kill('SIGTERM');
  assert.deepEqual(await second.exited, { code: 0, signal: null });
  assert.deepEqual(processesOf(folder), [], 'the database server outlived the program');
  assert.equal(await accepts(dbPort), false);
  console.log('ok   Rizede keeps running without a browser, runs its server on the given port and stops both on SIGTERM');
} catch (e) {
  failed = true;
  console.log('FAIL', e);
} finally {
  for (const child of running) {
    const gone = new Promise((resolve) => child.once('exit', resolve));
    child.kill('SIGTERM');
    await Promise.race([gone, sleep(30000)]);
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
  }
  const left = await endProcessesOf(folder, 30000);
  if (left.length) console.log('note: ended processes left in the program folder:', left.join(' '));
  if (context) await context.close();
  fs.rmSync(userDataDir, { recursive: true, force: true });
  fs.rmSync(folder, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
