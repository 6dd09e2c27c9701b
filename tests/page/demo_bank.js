// The demo bank server and the demo machine for the browser tests, as
// `make demo` runs them: demo/bank/serve on a free port of 127.0.0.1, and a
// machine seeded by scripts/seed-demo-machine whose settings point at it.
'use strict';
const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { tempDir } = require('./harness');

const root = path.join(__dirname, '..', '..');
const buildDir = path.dirname(process.env.PROGRAM);
const SETTINGS = 'HKCU\\Software\\Zentrovak\\NetBankAssistant\\Settings';

function machineReg(machine, ...args) {
  return execFileSync(path.join(buildDir, 'machine-reg'), ['--machine', machine, ...args], { encoding: 'utf8' });
}

// The program keeps a verified package in the Download folder beside it and
// installs from there without downloading again; every machine of these
// tests shares that folder, so a new bank starts with none of its packages
// kept (the page tests run one at a time).
function forgetDownloadedPackages() {
  const configuration = fs.readFileSync(path.join(root, 'demo', 'bank', 'itemV3.xml'), 'utf8');
  for (const [, name] of configuration.matchAll(/>packages\/([^<\/]+)</g))
    fs.rmSync(path.join(buildDir, 'Download', name), { force: true });
}

// Resolves with { url, requests(), stop() }: requests() lists the paths
// asked for so far; stop() ends the server and waits for it.
async function startDemoBank({ secondsPerPackage = 2, dieAfterConfiguration = false } = {}) {
  forgetDownloadedPackages();
  const dir = tempDir('zentrovak-demo-bank-');
  const portFile = path.join(dir, 'port');
  const log = path.join(dir, 'requests');
  const server = spawn('python3', [path.join(root, 'demo', 'bank', 'serve'), '--port-file', portFile,
                                   '--components', path.join(buildDir, 'demo', 'pe'), '--log', log,
                                   '--seconds-per-package', String(secondsPerPackage),
                                   ...(dieAfterConfiguration ? ['--die-after-configuration'] : [])],
                       { stdio: ['ignore', 'inherit', 'inherit'] });
  const exited = new Promise((resolve) => server.on('exit', resolve));
  for (let i = 0; !fs.existsSync(portFile); i++) {
    if (i > 100 || server.exitCode !== null) throw new Error('the demo bank server did not start');
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  const url = `http://127.0.0.1:${fs.readFileSync(portFile, 'utf8').trim()}`;
  return {
    url,
    requests() {
      return fs.existsSync(log) ? fs.readFileSync(log, 'utf8').split('\n').filter(Boolean).map((l) => l.split(' ')[1]) : [];
    },
    async stop() {
      if (server.exitCode === null && server.signalCode === null) server.kill('SIGTERM');
      await exited;
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

// Seeds machine as the demo machine whose assistant talks to bankUrl;
// settings adds further values of the assistant's settings.
function seedDemoMachine(machine, bankUrl, settings = {}) {
  execFileSync(path.join(root, 'scripts', 'seed-demo-machine'), [machine], { env: { ...process.env, BUILD_DIR: buildDir } });
  pointAt(machine, bankUrl);
  for (const [name, value] of Object.entries(settings)) {
    const type = typeof value === 'number' ? 'REG_DWORD' : 'REG_SZ';
    machineReg(machine, 'add', SETTINGS, '/v', name, '/t', type, '/d', String(value), '/f');
  }
}

// Points the assistant of machine at a bank server (its configuration, its
// download server and the probe of the public site).
function pointAt(machine, bankUrl) {
  machineReg(machine, 'add', SETTINGS, '/v', 'ConfigUrl', '/d', `${bankUrl}/download/itemV3.xml`, '/f');
  machineReg(machine, 'add', SETTINGS, '/v', 'DownloadServer', '/d', bankUrl, '/f');
  machineReg(machine, 'add', SETTINGS, '/v', 'ProbeSite', '/d', `${bankUrl}/`, '/f');
}

// A bank that serves only the given item configuration (and answers its
// home page, the probe of the public site); resolves with { url, stop() }.
async function startConfigServer(xml) {
  const server = http.createServer((req, res) => {
    if (req.url === '/download/itemV3.xml') {
      res.writeHead(200, { 'Content-Type': 'text/xml; charset=utf-8' });
      res.end(xml);
    } else if (req.url === '/') {
      res.writeHead(200, { 'Content-Type': 'text/html' });
      res.end('<html></html>');
    } else {
      res.writeHead(404);
      res.end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}`,
    stop() {
      server.closeAllConnections();
      return new Promise((resolve) => server.close(resolve));
    },
  };
}

// The headless report of the program on machine, `answer` given to every
// question it asks: resolves with { code, steps (the parsed JSON), stderr }.
function runReport(machine, mode, answer = 'y') {
  return new Promise((resolve) => {
    const child = spawn(process.env.PROGRAM, ['--machine', machine, mode, '--json'], {
      cwd: machine,
      env: { ...process.env, ZENTROVAK_MACHINE: machine, PATH: `${buildDir}:${process.env.PATH}` },
    });
    child.stdin.end(`${answer}\n`.repeat(20));
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (d) => { stdout += d; });
    child.stderr.on('data', (d) => { stderr += d; });
    child.on('exit', (code) => resolve({ code, steps: stdout ? JSON.parse(stdout) : null, stdout, stderr }));
  });
}

module.exports = { startDemoBank, seedDemoMachine, pointAt, machineReg, startConfigServer, runReport, SETTINGS };
