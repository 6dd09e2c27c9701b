// The typical request from the page to the engine, through the real program
// and its bridge: the configuration comes from a loopback "download server",
// its items are announced to the page one by one, and do_check on
// "registry" repairs a failing value at once and answers the page.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const http = require('node:http');
const { openHostPage, asyncCommand: runAsync } = require('./harness');
const { pointAt } = require('./demo_bank');

const SETTINGS = 'HKCU\\Software\\Zentrovak\\NetBankAssistant\\Settings';
const CONFIG = `<?xml version="1.0" encoding="utf-8"?>
<checkitems>
  <config type="registry">
    <entry type="reg_sz" name="E2eProbe" value="repaired">${SETTINGS}</entry>
  </config>
  <data name="bank_url">http://127.0.0.1/bank</data>
  <item name="证书签名控件" cls="ocx" type="sign">
    <detect dtype="registry" type="reg_sz" name="E2eProbe" value="repaired">${SETTINGS}</detect>
  </item>
  <item name="UKEY驱动" cls="key" type="FT_1" keyid="096e|0x0305" bit="64"/>
</checkitems>`;

let server;
let opened;
let page;

before(async () => {
  server = http.createServer((req, res) => {
    if (req.url === '/download/itemV3.xml') {
      res.writeHead(200, { 'Content-Type': 'text/xml' });
      res.end(CONFIG);
    } else {
      res.writeHead(404);
      res.end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  // The page fetches the configuration itself when it loads; on this first
  // start it then shows its wizard and checks nothing.
  const bank = `http://127.0.0.1:${server.address().port}`;
  opened = await openHostPage(process.env.PROGRAM, [], {}, { prepare: (machine) => pointAt(machine, bank) });
  page = opened.page;
  await page.waitForFunction(() => document.getElementById('info').textContent === '获取配置成功，请开始检测');
});

after(async () => {
  if (opened) await opened.close();
  if (server) {
    server.closeAllConnections();
    server.close();
  }
});

function asyncCommand(name, arg) {
  return runAsync(page, name, arg);
}

test('get_config announces every item of the served configuration to the page', async () => {
  const url = `http://127.0.0.1:${server.address().port}/download/itemV3.xml`;
  await page.evaluate((u) => {
    window.external.callc('save_settings', 'ConfigUrl', u, undefined, undefined);
    window.announced = [];
    window.setItemInfo = function (index, name, value) { window.announced.push([index, name, value]); };
  }, url);
  assert.equal(await asyncCommand('get_config'), true);
  // The 64-bit-only item is left out on this 32-bit machine; attributes come
  // in byte order of their names.
  assert.deepEqual(await page.evaluate(() => window.announced), [
    [0, 'cls', 'ocx'], [0, 'name', '证书签名控件'], [0, 'type', 'sign'],
  ]);
  assert.equal(await page.evaluate(() => window.external.callc('is_config_loaded')), true);
  assert.equal(await page.evaluate(() => window.external.callc('get_data', 'bank_url')), 'http://127.0.0.1/bank');
});

test('do_check of "registry" repairs the failing value at once and answers true', async () => {
  assert.equal(await page.evaluate(() => window.external.callc('load_settings', 'E2eProbe', 'missing')), 'missing');
  assert.equal(await asyncCommand('do_check', 'registry'), true);
  assert.equal(await page.evaluate(() => window.external.callc('load_settings', 'E2eProbe', 'missing')), 'repaired');
});

test('items are checked and installed by their page number', async () => {
  assert.equal(await asyncCommand('do_check', 0), 0);  // installed
  assert.equal(await asyncCommand('do_install', 0), 0);
  assert.equal(await asyncCommand('do_fix', 'no-such-check'), false);
  assert.equal(await asyncCommand('do_check', true), undefined);
});
