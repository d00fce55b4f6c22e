// Shared pieces of the browser tests: the test host's line protocol, headless chromium with
// the flags this machine needs, and polling until a condition holds.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));

// Starts a test host program that answers one JSON command per line with "OK <json>".
export function startHost(program) {
  const host = spawn(program, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = readline.createInterface({ input: host.stdout });
  const waiting = [];
  const early = [];
  lines.on('line', (line) => {
    const w = waiting.shift();
    if (w) w(line);
    else early.push(line);
  });
  const nextLine = () =>
    new Promise((resolve) => (early.length ? resolve(early.shift()) : waiting.push(resolve)));
  async function cpp(...args) {
    host.stdin.write(JSON.stringify(args) + '\n');
    const line = await nextLine();
    if (!line.startsWith('OK ')) throw new Error(`host: ${args[0]}: ${line}`);
    return JSON.parse(line.slice(3));
  }
  return { host, nextLine, cpp };
}

// Headless chromium in a fresh profile; without the background-networking flags it keeps
// trying hosts this machine cannot reach.
export async function launchBrowser() {
  let chromium;
  try {
    ({ chromium } = await import(path.join(here, 'node_modules/playwright-core/index.mjs')));
  } catch (e) {
    console.error('playwright-core is missing: run scripts/setup.sh (it installs tests/ui/node_modules)');
    process.exit(1);
  }
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'rz-chromium-'));
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1280, height: 800 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const close = async () => {
    await context.close();
    fs.rmSync(userDataDir, { recursive: true, force: true });
  };
  return { context, close };
}

export async function until(what, fn, ms, step) {
  const end = Date.now() + ms;
  let last;
  while (Date.now() < end) {
    last = await fn();
    if (last) return last;
    await new Promise((r) => setTimeout(r, step));
  }
  throw new Error(`gave up waiting for ${what} (last: ${JSON.stringify(last)})`);
}
