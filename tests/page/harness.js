// Shared by the browser tests: starting a host program that prints its
// page address, and a headless Chromium on a fresh profile.
'use strict';
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

function tempDir(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

// The environment a host program runs in: the machine of its own, which is
// also $ZENTROVAK_MACHINE as the demo runs it, and the program's own folder
// on its PATH (machine-reg beside it).
function hostEnvironment(program, machine, runtime, extraEnv) {
  return {
    ...process.env,
    XDG_RUNTIME_DIR: runtime,
    XDG_DATA_HOME: path.join(machine, 'xdg'),
    ZENTROVAK_MACHINE: machine,
    PATH: `${path.dirname(program)}:${process.env.PATH}`,
    ...extraEnv,
  };
}

// Starts `program` with `args` (plus --no-browser and a machine of its
// own, which options.machine names and options.prepare(machine) may fill
// first); resolves with { child, address, origin, exited, machine,
// stderr() }. The program's own folder is on its PATH (machine-reg beside
// it) and the machine is also $ZENTROVAK_MACHINE, as the demo runs it. With
// options.captureStderr, what the program writes to standard error is kept
// for stderr() instead of shown.
function startHost(program, args, extraEnv, options = {}) {
  const ownMachine = !options.machine;
  const machine = options.machine || tempDir('zentrovak-page-machine-');
  if (options.prepare) options.prepare(machine);
  const runtime = tempDir('zentrovak-page-runtime-');
  const child = spawn(program, ['--machine', machine, '--no-browser', ...args], {
    cwd: machine,
    env: hostEnvironment(program, machine, runtime, extraEnv),
    stdio: ['ignore', 'pipe', options.captureStderr ? 'pipe' : 'inherit'],
  });
  let errors = '';
  if (options.captureStderr) child.stderr.on('data', (chunk) => { errors += chunk; });
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  const address = new Promise((resolve, reject) => {
    let buffer = '';
    const timer = setTimeout(() => reject(new Error('no page address printed')), 15000);
    child.stdout.on('data', (chunk) => {
      buffer += chunk;
      const nl = buffer.indexOf('\n');
      if (nl >= 0) {
        clearTimeout(timer);
        resolve(buffer.slice(0, nl).trim());
      }
    });
    child.on('exit', () => reject(new Error('host ended before printing its address')));
  });
  return address.then((line) => ({
    child,
    address: line,
    origin: line.slice(0, line.indexOf('/open')),
    exited,
    machine,
    stderr: () => errors,
    cleanUp() {
      if (child.exitCode === null) child.kill('SIGKILL');
      if (ownMachine) fs.rmSync(machine, { recursive: true, force: true });
      fs.rmSync(runtime, { recursive: true, force: true });
    },
  }));
}

async function launchBrowser() {
  const profile = tempDir('zentrovak-chromium-');
  // A fresh profile each time (its --user-data-dir).
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    viewport: { width: 730, height: 600 },
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  return {
    context,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Starts `program` as a user starts it: it opens its page in a Chromium
// window of its own (here a headless one). The test reaches that browser
// through a loopback DevTools port the wrapper adds, which the program
// neither opens nor uses. Resolves with { child, exited, machine, page,
// close() }.
async function startWithOwnWindow(program, args, extraEnv, { prepare } = {}) {
  const machine = tempDir('zentrovak-window-machine-');
  const runtime = tempDir('zentrovak-window-runtime-');
  if (prepare) prepare(machine);
  const wrapper = path.join(runtime, 'chromium');
  fs.writeFileSync(wrapper, '#!/bin/sh\nexec /usr/bin/chromium --headless=new --no-sandbox --disable-gpu ' +
                   '--remote-debugging-address=127.0.0.1 --remote-debugging-port=0 "$@" 2>/dev/null\n', { mode: 0o755 });
  const child = spawn(program, ['--machine', machine, ...args], {
    cwd: machine,
    env: hostEnvironment(program, machine, runtime,
                         { DISPLAY: process.env.DISPLAY || ':99', ZENTROVAK_CHROMIUM: wrapper, ...extraEnv }),
    stdio: ['ignore', 'inherit', 'inherit'],
  });
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  let browser;
  const close = async () => {
    if (browser) await browser.close().catch(() => {});
    if (child.exitCode === null) child.kill('SIGKILL');
    await exited;
    // The browser follows the program out, writing its profile until it
    // has gone.
    for (let i = 0; ; i++) {
      try {
        fs.rmSync(machine, { recursive: true, force: true });
        break;
      } catch (e) {
        if (i >= 100) throw e;
        await new Promise((r) => setTimeout(r, 100));
      }
    }
    fs.rmSync(runtime, { recursive: true, force: true });
  };
  try {
    const portFile = path.join(machine, 'browser-profile', 'DevToolsActivePort');
    for (let i = 0; i < 150 && !(fs.existsSync(portFile) && fs.readFileSync(portFile, 'utf8').includes('\n')); i++)
      await new Promise((r) => setTimeout(r, 100));
    const port = Number(fs.readFileSync(portFile, 'utf8').split('\n')[0]);
    browser = await chromium.connectOverCDP(`http://127.0.0.1:${port}`);
    let page;
    for (let i = 0; i < 150 && !page; i++) {
      page = browser.contexts().flatMap((c) => c.pages()).find((p) => p.url().startsWith('http://127.0.0.1:'));
      if (!page) await new Promise((r) => setTimeout(r, 100));
    }
    if (!page) throw new Error('the program opened no page');
    await page.waitForFunction(() => document.readyState === 'complete');
    return { child, exited, machine, page, close };
  } catch (e) {
    await close();
    throw e;
  }
}

function screenshotPath(name) {
  const dir = process.env.SCREENSHOTS || path.join(__dirname, '..', '..', 'build', 'screenshots');
  fs.mkdirSync(dir, { recursive: true });
  return path.join(dir, name + '.png');
}

function withTimeout(promise, ms, what) {
  let timer;
  const expiry = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(what)), ms);
  });
  // The timer must not outlive the race, or it keeps the test process alive.
  return Promise.race([promise, expiry]).finally(() => clearTimeout(timer));
}

// Runs a command through the page's asyncallc and resolves with the value
// its callback receives.
function asyncCommand(page, name, arg) {
  return withTimeout(page.evaluate(([n, a]) => new Promise((resolve) => {
    window.external.asyncallc(function (result) { resolve(result); }, n, a, undefined, undefined, undefined);
  }), [name, arg]), 20000, name + ' did not call back');
}

// Starts a host, a browser (or takes options.chrome, a browser the caller
// keeps) and one page loaded from the host's address. close() ends what it
// started.
async function openHostPage(program, args, extraEnv, options = {}) {
  const host = await startHost(program, args, extraEnv, options);
  const chrome = options.chrome || await launchBrowser();
  const page = await chrome.context.newPage();
  await page.goto(host.address);
  await page.waitForFunction(() => document.readyState === 'complete');
  return {
    host,
    chrome,
    page,
    async close() {
      if (options.chrome) await page.close();
      else await chrome.close();
      host.cleanUp();
    },
  };
}

module.exports = { startHost, startWithOwnWindow, launchBrowser, openHostPage, screenshotPath, tempDir, withTimeout, asyncCommand };
