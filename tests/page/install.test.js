// A component install from the page, through the real program: the
// configuration and the package come from a loopback "download server";
// do_install downloads the missing component with progress reports to the
// page, verifies it, runs its installer (a small program of ours that makes
// the component's file) and answers that the component is installed.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { openHostPage, tempDir, withTimeout } = require('./harness');

const stamp = `${process.pid}-${Date.now()}`;
const packageName = `setup-${stamp}.exe`;
// The installer with trailing bytes: still runnable, and long enough for
// the progress bar to move.
const packageBytes = Buffer.concat([fs.readFileSync(process.env.FAKE_INSTALLER), Buffer.alloc(2 << 20)]);
const md5 = crypto.createHash('md5').update(packageBytes).digest('hex');

let folder;
let server;
let requests = 0;
let opened;
let page;

function windowsPath(hostPath) {
  return 'Z:' + hostPath.split('/').join('\\');
}

before(async () => {
  folder = tempDir('zentrovak-page-install-');
  const component = path.join(folder, 'component.dll');
  const config = `<?xml version="1.0" encoding="utf-8"?>
<checkitems>
  <item name="网银控件" cls="ocx" type="sign">
    <detect dtype="file">${windowsPath(component)}</detect>
    <installer md5="${md5}" parameter="/S">pkg/${packageName}</installer>
  </item>
</checkitems>`;
  server = http.createServer((req, res) => {
    if (req.url === '/download/itemV3.xml') {
      res.writeHead(200, { 'Content-Type': 'text/xml' });
      res.end(config);
    } else if (req.url === `/download/pkg/${packageName}`) {
      requests += 1;
      res.writeHead(200, { 'Content-Length': packageBytes.length });
      res.end(packageBytes);
    } else {
      res.writeHead(404);
      res.end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  opened = await openHostPage(process.env.PROGRAM, [], {
    ZT_INSTALL_MARK: component,
    ZT_INSTALL_LOG: path.join(folder, 'installer.log'),
  });
  page = opened.page;
});

after(async () => {
  if (opened) await opened.close();
  if (server) {
    server.closeAllConnections();
    server.close();
  }
  fs.rmSync(path.join(path.dirname(process.env.PROGRAM), 'Download', packageName), { force: true });
  if (folder) fs.rmSync(folder, { recursive: true, force: true });
});

function asyncCommand(name, arg) {
  return withTimeout(page.evaluate(([n, a]) => new Promise((resolve) => {
    window.external.asyncallc(function (result) { resolve(result); }, n, a, undefined, undefined, undefined);
  }), [name, arg]), 60000, name + ' did not call back');
}

test('a missing component is downloaded with progress, verified, installed and then detected', async () => {
  const base = `http://127.0.0.1:${server.address().port}/download/`;
  await page.evaluate((u) => {
    window.external.callc('save_settings', 'ConfigUrl', u + 'itemV3.xml', undefined, undefined);
    window.progress = [];
    window.setProgress = function (ok, percent, item) { window.progress.push([ok, percent, item]); };
  }, base);
  assert.equal(await asyncCommand('get_config'), true);
  assert.equal(await asyncCommand('do_check', 0), 3, 'not installed yet');

  assert.equal(await asyncCommand('do_install', 0), 0, 'installed');
  assert.equal(requests, 1);
  assert.equal(fs.readFileSync(path.join(folder, 'installer.log'), 'utf8'), '/S\n');
  const progress = await page.evaluate(() => window.progress);
  assert.ok(progress.length >= 3, JSON.stringify(progress));
  for (const [ok, , item] of progress) {
    assert.equal(ok, true);
    assert.equal(item, 0);
  }
  assert.ok(progress[progress.length - 1][1] >= 98, JSON.stringify(progress));

  // Installed and verified: checking it again downloads nothing.
  assert.equal(await asyncCommand('do_check', 0), 0);
  assert.equal(requests, 1);
});
