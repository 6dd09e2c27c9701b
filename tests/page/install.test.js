// A component install as its user starts it: the page's own install
// button, through the real program. The configuration and the package come
// from a loopback download server; the program downloads the missing
// component, verifies it, runs its installer (a small program of ours that
// makes the component's file, with the configuration's parameter) and the
// next pass finds the component without downloading it again.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { tempDir } = require('./harness');
const { pointAt, machineReg, SETTINGS } = require('./demo_bank');
const { openPage, row, waitForText, waitForPassEnd, assertNoScriptErrors } = require('./page_helpers');

const stamp = `${process.pid}-${Date.now()}`;
const packageName = `setup-${stamp}.exe`;
// The installer with trailing bytes: still runnable, and long enough to be
// downloaded in more than one piece.
const packageBytes = Buffer.concat([fs.readFileSync(process.env.FAKE_INSTALLER), Buffer.alloc(2 << 20)]);
const md5 = crypto.createHash('md5').update(packageBytes).digest('hex');
const downloaded = path.join(path.dirname(process.env.PROGRAM), 'Download', packageName);

let folder;
let server;
let requests = 0;

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
      res.writeHead(200, { 'Content-Type': 'text/xml; charset=utf-8' });
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
});

after(() => {
  if (server) {
    server.closeAllConnections();
    server.close();
  }
  fs.rmSync(downloaded, { force: true });
  if (folder) fs.rmSync(folder, { recursive: true, force: true });
});

test('a missing component is downloaded, verified, installed with its parameter and then detected', async (t) => {
  const opened = await openPage(process.env.PROGRAM, {
    env: { ZT_INSTALL_MARK: path.join(folder, 'component.dll'), ZT_INSTALL_LOG: path.join(folder, 'installer.log') },
    prepare: (machine) => {
      pointAt(machine, `http://127.0.0.1:${server.address().port}`);
      machineReg(machine, 'add', SETTINGS, '/v', 'IsFirstTime', '/t', 'REG_DWORD', '/d', '0', '/f');
    },
  });
  t.after(() => opened.close());
  const { page } = opened;
  await waitForPassEnd(page);
  assert.deepEqual([(await row(page, 'item_0')).state, (await row(page, 'item_0')).button], ['未安装', '安装']);
  assert.equal(requests, 0, 'a check downloads nothing');

  await page.click('#install_0');
  await waitForText(page, 'info', '安装成功', 60000);
  assert.equal(requests, 1);
  assert.equal(fs.readFileSync(path.join(folder, 'installer.log'), 'utf8'), '/S\n');

  // Installed and verified: the next pass finds it and downloads nothing.
  await page.click('#check');
  await waitForPassEnd(page);
  assert.equal((await row(page, 'item_0')).state, '已安装最新版本');
  assert.equal(requests, 1);
  assertNoScriptErrors(opened);
});
