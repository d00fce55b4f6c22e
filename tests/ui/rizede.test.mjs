// Starts the real Rizede program from its program folder, checks that the printed address
// shows the shell with the start page, then ends it once by the exit command (57665) from
// the menu and once by SIGTERM.
// Usage: node rizede.test.mjs <Rizede program>
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import assert from 'node:assert/strict';

const here = path.dirname(fileURLToPath(import.meta.url));
const { chromium } = await import(path.join(here, 'node_modules/playwright-core/index.mjs'));
const program = process.argv[2];

function start() {
  // Any free port; no display, so nothing is opened by the program itself.
  const child = spawn(program, [], { stdio: ['ignore', 'pipe', 'inherit'],
    env: { ...process.env, RIZEDE_UI_PORT: '0', DISPLAY: '' } });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  const address = new Promise((resolve, reject) => {
    const lines = readline.createInterface({ input: child.stdout });
    lines.on('line', (line) => { if (line.startsWith('open: ')) resolve(line.slice(6)); });
    child.on('exit', () => reject(new Error('Rizede ended before printing its address')));
  });
  return { child, exited, address };
}

const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'rz-chromium-'));
const context = await chromium.launchPersistentContext(userDataDir, {
  executablePath: '/usr/bin/chromium', headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
let failed = false;
try {
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

  // 2. Closing the browser leaves it running; SIGTERM ends it.
  const second = start();
  const again = await context.newPage();
  await again.goto(await second.address);
  await again.locator('.tab').first().waitFor();
  await again.close();
  await new Promise((r) => setTimeout(r, 300));
  assert.equal(second.child.exitCode, null);
  second.child.kill('SIGTERM');
  assert.deepEqual(await second.exited, { code: 0, signal: null });
  console.log('ok   Rizede keeps running without a browser and ends on SIGTERM');
} catch (e) {
  failed = true;
  console.log('FAIL', e);
} finally {
  await context.close();
  fs.rmSync(userDataDir, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
