// The page set against a host whose answers the test writes: a key that is
// in, its certificate, an install that reports its download, commands that
// answer nothing. Needed where this machine has no key and the program no
// key support; the page is still driven only through its own buttons.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { launchBrowser, screenshotPath, tempDir } = require('./harness');
const { machineReg } = require('./demo_bank');
const { openPage, row, text, waitForText, waitForPassEnd, boxes, waitForBox, press, isVisible, assertNoScriptErrors } =
  require('./page_helpers');

const HOST_SETTINGS = 'HKCU\\Software\\ZentrovakPageTests\\page_scripted_host\\Settings';
const CHECKS = { registry: true, host: true, cfca: true, connection: true, dns: true, url: true, level: true,
                 trust: true, home_page: true, compatibility: true };
const ITEMS = [
  { name: '密码安全控件', cls: 'ocx', type: 'passguard', status: 0 },
  { name: '证书签名控件', cls: 'ocx', type: 'signctrl', status: 0 },
  { name: '网银防钓鱼控件', cls: 'ocx', type: 'antiphish', status: 0 },
  { name: '飞天诚信一代驱动', cls: 'key', type: 'FT_1', keyid: '096e0305', status: 0 },
  { name: '飞天诚信二代驱动', cls: 'key', type: 'FT_2', keyid: '096e0702', status: 0 },
  { name: '坚石二代驱动', cls: 'key', type: 'ukey_JS', keyid: '1ea80001', status: 0 },
];
const ONLINE = { get_internet_state: 2, get_command: 0, sync_time: 0, get_version: '' };

// One browser for every host of this file.
let chrome;
before(async () => {
  chrome = await launchBrowser();
});
after(() => chrome.close());

// Opens the scripted host with `script`; settings go to its settings
// first. commands() lists what the page has sent, as [name, a1..a4].
async function openScripted(t, script, settings = {}) {
  const dir = tempDir('zentrovak-scripted-');
  const scriptFile = path.join(dir, 'script.json');
  const log = path.join(dir, 'commands.log');
  fs.writeFileSync(scriptFile, JSON.stringify(script));
  const opened = await openPage(process.env.SCRIPTED_HOST, {
    chrome,
    args: [scriptFile, log],
    prepare: (machine) => {
      for (const [name, value] of Object.entries(settings)) {
        const type = typeof value === 'number' ? 'REG_DWORD' : 'REG_SZ';
        machineReg(machine, 'add', HOST_SETTINGS, '/v', name, '/t', type, '/d', String(value), '/f');
      }
    },
  });
  t.after(async () => {
    await opened.close();
    fs.rmSync(dir, { recursive: true, force: true });
  });
  opened.commands = (name) => (fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : '').split('\n').filter(Boolean)
    .map((line) => JSON.parse(line)).filter((c) => !name || c[0] === name);
  return opened;
}

// A date as the key's status text writes it: local time, year first.
function keyDate(date) {
  const two = (n) => String(n).padStart(2, '0');
  return `${date.getFullYear()}/${two(date.getMonth() + 1)}/${two(date.getDate())} ` +
    `${two(date.getHours())}:${two(date.getMinutes())}:${two(date.getSeconds())}`;
}

function keyStatus(certDate) {
  const dates = certDate === '' ? '""' : `[{"date1":"${certDate[0]}"},{"date2":"${certDate[1]}"}]`;
  return `{ "plugged": "true", "details" : [{ "key": "证书是否注册：", "value": "是"},` +
    `{ "key": "CertDate", "value": ${dates}},{ "key": "serial number", "value": ""},` +
    `{ "key": "Key是否锁定：", "value": "否"},{ "key": "manage_tool", "value": "true"}]}`;
}

// A user whose FT_1 key is in.
function keyUserScript(extraAnswers = {}) {
  return { answers: { ...ONLINE, change_pin: 1, ...extraAnswers }, checks: CHECKS, items: ITEMS, plugged: 'FT_1',
           keysIn: ['096e0305'] };
}

test('a first start with a key in shows no wizard and starts no check', async (t) => {
  const opened = await openScripted(t, keyUserScript());
  const { page } = opened;
  await waitForText(page, 'info', '获取配置成功，请开始检测');
  await page.waitForTimeout(1000);
  assert.equal(await isVisible(page, '#guide1'), false);
  assert.equal(await isVisible(page, '#stp'), false, '"启动向导" is offered with a key in');
  assert.deepEqual(opened.commands('do_check'), []);
  assert.deepEqual(opened.commands('Tray'), []);
  assert.deepEqual(opened.commands('save_settings').filter((c) => c[1] !== 'LastTimeUpdate').map((c) => [c[1], c[2]]),
                   [['KeyType', 'FT_1'], ['UserType', 0], ['other', 1],
                    ['IsFirstTime', false], ['Schose', 0], ['Ccloses', '1'], ['Uchose', 1]]);
  await page.click('#navcheckkey');
  assert.equal(await text(page, 'keyinfo'), '飞天诚信一代');
  assertNoScriptErrors(opened);
});

test('the key tab reads the certificate\'s validity by the 90-day rule', async (t) => {
  const day = 24 * 3600 * 1000;
  const now = Date.now();
  const in30Days = keyDate(new Date(now + 30 * day));
  const cases = [
    { name: 'ends in 30 days', certDate: [keyDate(new Date(now - 300 * day)), in30Days],
      expected: { state: `即将过期!请更新 ${in30Days.slice(0, -3)}`, style: 'wrong' } },
    { name: 'empty', certDate: '', expected: { state: '已过期', style: 'wrong' } },
    { name: 'ends in 200 days', certDate: [keyDate(new Date(now - 100 * day)), keyDate(new Date(now + 200 * day))],
      expected: { state: '未过期', style: 'right' } },
  ];
  for (const c of cases) {
    const opened = await openScripted(t, keyUserScript({ update_key_info: keyStatus(c.certDate) }), { IsFirstTime: 0 });
    const { page } = opened;
    await waitForText(page, 'info', '检测完成');
    await page.click('#navcheckkey');
    const outDate = await row(page, 'cert_outDate');
    assert.deepEqual({ state: outDate.state, style: outDate.style }, c.expected, c.name);
    if (c.name === 'ends in 30 days') {
      await page.screenshot({ path: screenshotPath('key-tab-certificate-ending') });
      const states = [];
      for (const id of ['roos', 'user_cert', 'key_locked', 'management_tool']) states.push((await row(page, id)).state);
      assert.deepEqual(states, ['完整', '已注册', '未锁定', '已启动']);
      assert.equal(await text(page, 'keyinfo'), '飞天诚信一代');
    }
    assertNoScriptErrors(opened);
    await opened.close();
  }
});

test('a PIN change is refused before anything is sent unless both PINs are 6 to 10 letters or digits',
     async (t) => {
  const opened = await openScripted(t, keyUserScript(), { IsFirstTime: 0 });
  const { page } = opened;
  await waitForText(page, 'info', '检测完成');
  await page.click('#navcheckkey');
  await page.click('#changepin');
  await page.waitForSelector('#change1', { state: 'visible' });
  await page.screenshot({ path: screenshotPath('popup-change1') });
  const cases = [
    { pins: ['abc12', 'abcd12', 'abcd12'], box: '请输入6-10位数字或字母' },
    { pins: ['abc123', 'abc 12', 'abc 12'], box: '请输入6-10位数字或字母' },
    { pins: ['abc123', 'xyz789', 'xyz788'], box: '确认密码与新密码输入不一致，请重新输入' },
    { pins: ['abc123', 'xyz789', 'xyz789'], box: '修改PIN码成功！' },
  ];
  for (const c of cases) {
    await page.fill('#edit1', c.pins[0]);
    await page.fill('#edit2', c.pins[1]);
    await page.fill('#edit3', c.pins[2]);
    await page.click('#pinok');
    await waitForBox(page, c.box);
    assert.deepEqual(await boxes(page, { dismiss: true }), [c.box]);
    assert.deepEqual(await page.$$eval('#change1 input', (list) => list.map((i) => i.value)), ['', '', ''], c.box);
  }
  assert.deepEqual(opened.commands('change_pin'), [['change_pin', 'FT_1', 'abc123', 'xyz789', null]]);
  assert.equal(await isVisible(page, '#change1'), false, 'the box stays after the change');
  assertNoScriptErrors(opened);
});

test('an install moves the progress bar, and a double click on its button installs once', async (t) => {
  const items = ITEMS.map((item, i) => (i === 0 ? { ...item, status: 3 } : item));
  const opened = await openScripted(t, { answers: ONLINE, checks: CHECKS, items,
                                         install: { steps: 10, stepMs: 150, status: 0 } }, { IsFirstTime: 0 });
  const { page } = opened;
  await waitForPassEnd(page);
  assert.deepEqual(await row(page, 'item_0'),
                   { name: '密码安全控件', state: '未安装', style: 'wrong', button: '安装', shown: true });
  await page.dblclick('#install_0');
  const widths = [];
  while ((await text(page, 'info')) !== '安装成功') {
    widths.push(await page.$eval('.loading-son', (bar) => bar.getBoundingClientRect().width));
    if (widths.length === 6) await page.screenshot({ path: screenshotPath('check-tab-install-in-progress') });
    await page.waitForTimeout(50);
  }
  const moving = [...new Set(widths)].filter((w) => w > 0 && w < 278);
  assert.ok(moving.length >= 3, `the bar did not move: ${widths}`);
  assert.deepEqual(moving, [...moving].sort((a, b) => a - b), 'the bar went back');
  assert.equal(await page.$eval('.loading-son', (bar) => bar.getBoundingClientRect().width), 278);
  assert.equal(await text(page, 'status_check'), '下载完成');
  assert.deepEqual(await row(page, 'item_0'),
                   { name: '密码安全控件', state: '已安装最新版本', style: 'right', button: null, shown: true });
  assert.equal(opened.commands('do_install').length, 1);
  assertNoScriptErrors(opened);
});

test('the page keeps working when any one host command answers nothing', async (t) => {
  const commands = ['get_config', 'get_internet_state', 'is_config_loaded', 'load_settings', 'get_command',
                    'do_check', 'do_fix', 'do_install', 'get_version', 'sync_time', 'is_specific_key_insert',
                    'update_key_info', 'change_pin', 'get_data', 'check_update', 'start_manager_tool'];
  const items = ITEMS.map((item, i) => (i === 0 ? { ...item, status: 3 } : item));
  for (const command of commands) {
    const opened = await openScripted(t, { ...keyUserScript({ update_key_info: keyStatus('') }), items,
                                           undefined: [command] }, { IsFirstTime: 0 });
    const { page } = opened;
    // The configuration's answer shows, as the status line or the footer.
    await page.waitForFunction(() => document.getElementById('info').textContent !== '正在获取配置，请稍候' ||
                                     document.getElementById('net').textContent !== '未检测');
    await page.waitForTimeout(2500);  // the pass, when there is one
    await press(page, '#fixall');
    if (await page.$('#install_0')) await press(page, '#install_0');
    await press(page, '#navcheckkey');
    await press(page, '#changepin');
    if (await isVisible(page, '#change1')) {
      await page.fill('#edit1', 'abc123');
      await page.fill('#edit2', 'xyz789');
      await page.fill('#edit3', 'xyz789');
      await press(page, '#pinok');
      await page.waitForSelector('#zentrovak-box');
      // A change that did not go through keeps its box open.
      if (await isVisible(page, '#change1')) await press(page, '#pinback');
    }
    await press(page, '#nav .navbtn >> nth=2');
    await press(page, 'a.hlink >> nth=0');
    await press(page, '#checkupdate');
    await press(page, '#navcheck');
    await page.waitForTimeout(300);
    assert.deepEqual(opened.errors, [], `with ${command} answering nothing`);
    assert.notEqual(await text(page, 'info'), '', `with ${command} answering nothing`);
    await opened.close();
  }
});

test('with every command answering nothing, the buttons still do no harm', async (t) => {
  const opened = await openScripted(t, { silent: true });
  const { page } = opened;
  await waitForText(page, 'net', '未联网');
  for (const selector of ['#check', '#fixall', '#item_update_time', '#clean_ssl', '#clean_cache', '#navcheckkey',
                          '#changepin', '#nav .navbtn >> nth=2', 'a.hlink >> nth=0', '#setups', '#checkupdate',
                          '#stp', '#usbbtn', 'label[for="Radio4"]', '#finish', '#abt', '#about .cloce',
                          '#ui_min', '#setups']) {
    await page.click(selector);
  }
  await page.selectOption('#startchose', '1');
  await page.selectOption('#closechose', '0');
  await page.click('#ui_quit');
  await page.waitForTimeout(500);
  assertNoScriptErrors(opened);
});
