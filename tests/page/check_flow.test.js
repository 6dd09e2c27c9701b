// The product as its user meets it: the real program on a demo machine,
// against the demo bank server (or a bank serving a configuration of the
// test's own), driven only through the page's own buttons.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { screenshotPath, startWithOwnWindow, tempDir, withTimeout } = require('./harness');
const { startDemoBank, seedDemoMachine, startConfigServer, runReport, machineReg, SETTINGS } = require('./demo_bank');
const { openPage, row, text, waitForText, waitForPassEnd, waitForBox, isVisible, assertNoScriptErrors } =
  require('./page_helpers');

const PROGRAM = process.env.PROGRAM;
const RUN_KEY = 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run';

// The logon entries of the machine's user ("" while there are none).
function logonEntries(machine) {
  try {
    return machineReg(machine, 'query', RUN_KEY);
  } catch (e) {
    return '';
  }
}
const CHECK_TYPES = ['registry', 'host', 'cfca', 'connection', 'dns', 'url', 'level', 'trust', 'home_page',
                     'compatibility'];

// The program on a freshly seeded demo machine; settings go to the
// assistant's settings first (IsFirstTime 0: not the first start).
async function openOnDemoMachine(t, bank, settings = {}, extra = {}) {
  const opened = await openPage(PROGRAM, { ...extra, prepare: (m) => seedDemoMachine(m, bank.url, settings) });
  t.after(() => opened.close());
  return opened;
}

// The check rows and the first three item rows, as the page shows them.
async function checkTab(page) {
  const rows = {};
  for (const type of CHECK_TYPES) rows[type] = await row(page, `item_${type}`);
  for (const index of [0, 1, 2]) rows[index] = await row(page, `item_${index}`);
  return rows;
}

// The page's rows against the report's steps of the same pass.
function assertSameAsReport(rows, steps) {
  for (const step of steps) {
    const key = step.kind === 'check' ? step.type : step.index;
    assert.equal(rows[key].state, step.text, `row of ${key}`);
  }
}

test('a full pass shows the seeded faults as the report does; one click repairs them; the next pass is clean',
     async (t) => {
  const bank = await startDemoBank({ secondsPerPackage: 0 });
  t.after(() => bank.stop());
  const machine = tempDir('zentrovak-demo-machine-');
  t.after(() => fs.rmSync(machine, { recursive: true, force: true }));
  seedDemoMachine(machine, bank.url, { IsFirstTime: 0 });
  const before = await runReport(machine, '--check');

  const opened = await openPage(PROGRAM, { machine });
  const { page } = opened;
  await waitForPassEnd(page);
  await page.screenshot({ path: screenshotPath('check-tab-before-repair') });
  const found = await checkTab(page);
  assertSameAsReport(found, before.steps);
  assert.deepEqual(found.home_page, { name: 'IE首页锁定', state: '已锁定', style: 'wrong', button: '解锁', shown: true });
  assert.deepEqual(found.connection, { name: '网络连接', state: '已联网', style: 'right', button: null, shown: true });
  assert.deepEqual(found.cfca, { name: 'CFCA根证书', state: '异常', style: 'wrong', button: '导入', shown: true });
  assert.deepEqual([found[0].state, found[0].button], ['未安装', '安装']);
  assert.deepEqual([found[1].state, found[1].button, found[1].style], ['已安装最新版本', null, 'right']);
  assert.deepEqual([found[2].state, found[2].button], ['有升级', '升级']);
  assert.equal((await row(page, 'item_3')).shown, false, 'the key driver row of a user without a key');
  assert.equal(await text(page, 'net'), '已联网');
  assert.equal((await row(page, 'item_sysversion')).state, 'Windows 7');
  assert.equal((await row(page, 'item_ieversion')).state, 'IE 8');

  // The roots' import asks first: the person says yes.
  const questions = [];
  page.on('dialog', (dialog) => {
    questions.push(dialog.message());
    dialog.accept();
  });
  await page.click('#fixall');
  await waitForText(page, 'info', '修复完成', 60000);
  assert.ok(questions.length >= 1 && questions.every((q) => /您想安装此证书吗/.test(q)), questions.join('\n'));
  await page.click('#check');
  await waitForPassEnd(page);
  await page.screenshot({ path: screenshotPath('check-tab-after-repair') });
  const repaired = await checkTab(page);
  assert.deepEqual(repaired.home_page, { name: 'IE首页锁定', state: '未锁定', style: 'right', button: null, shown: true });
  assert.deepEqual(repaired.cfca, { name: 'CFCA根证书', state: '正常', style: 'right', button: null, shown: true });
  assertNoScriptErrors(opened);
  await page.click('#ui_quit');
  await withTimeout(opened.host.exited, 15000, 'the program did not end');
  await opened.close();

  const after = await runReport(machine, '--check');
  assertSameAsReport(repaired, after.steps);
  for (const step of after.steps.filter((s) => s.kind === 'check' && s.available !== false))
    assert.equal(step.passed, true, `${step.type} after the repair`);
});

test('an install shows its download on a moving progress bar, and a double click installs once', async (t) => {
  const bank = await startDemoBank({ secondsPerPackage: 3 });
  t.after(() => bank.stop());
  const { page, errors } = await openOnDemoMachine(t, bank, { IsFirstTime: 0 });
  await waitForPassEnd(page);
  await page.dblclick('#install_0');
  const widths = new Set();
  for (let i = 0; i < 40; i++) {
    widths.add(await page.$eval('.loading-son', (bar) => bar.getBoundingClientRect().width));
    if (i === 10) await page.screenshot({ path: screenshotPath('check-tab-install-in-progress') });
    if ((await row(page, 'item_0')).state === '已安装最新版本') break;
    await page.waitForTimeout(100);
  }
  const downloads = bank.requests().filter((p) => p.endsWith('/passguard_setup.sh'));
  assert.equal(downloads.length, 1, 'downloaded once: the second click of the double click installed again');
  assert.ok([...widths].filter((w) => w > 0 && w < 278).length >= 3, `the bar did not move: ${[...widths]}`);
  await waitForText(page, 'info', '安装成功');
  assert.deepEqual(errors, []);
});

test('"其他用户" stops the pass at the first key driver; a USB key user\'s pass goes on past it', async (t) => {
  const bank = await startConfigServer(`<?xml version="1.0" encoding="utf-8"?>
<checkitems>
  <data name="bank_url">http://127.0.0.1/</data>
  <item name="控件甲" cls="ocx" type="a"><detect dtype="file">C:\\Bank\\a.dll</detect></item>
  <item name="飞天诚信一代驱动" cls="key" type="FT_1" keyid="096e0305"><detect dtype="file">C:\\Bank\\ft1.dll</detect></item>
  <item name="控件乙" cls="ocx" type="b"><detect dtype="file">C:\\Bank\\b.dll</detect></item>
</checkitems>`);
  t.after(() => bank.stop());
  const opened = await openOnDemoMachine(t, bank);
  const { page } = opened;
  await page.waitForSelector('#guide1', { state: 'visible' });
  await page.click('#otherbtn');
  await waitForPassEnd(page);
  assert.equal(await text(page, 'info'), '        检测完成');
  assert.equal((await row(page, 'item_0')).state, '未安装');
  assert.equal((await row(page, 'item_2')).state, '未检测', 'an item after the first key driver was checked');
  assert.equal((await row(page, 'item_3')).shown, false);

  await page.click('#stp');
  await page.click('#usbbtn');
  await page.click('label[for="Radio1"]');
  await page.click('#finish');
  await waitForText(page, 'info', '检测完成');
  assert.deepEqual(await row(page, 'item_3'),
                   { name: '飞天诚信一代驱动', state: '未安装', style: 'wrong', button: '安装', shown: true });
  assert.equal((await row(page, 'item_2')).state, '未安装');
  assert.equal(machineReg(opened.host.machine, 'query', SETTINGS, '/v', 'KeyType').includes('FT_1'), true);
  assertNoScriptErrors(opened);
});

test('a first start without a key shows the wizard, registers the tray helper and checks nothing', async (t) => {
  const bank = await startDemoBank();
  t.after(() => bank.stop());
  const opened = await openOnDemoMachine(t, bank);
  const { page } = opened;
  await page.waitForSelector('#guide1', { state: 'visible' });
  await waitForText(page, 'info', '获取配置成功，请开始检测');
  await page.screenshot({ path: screenshotPath('first-start-wizard') });
  assert.match(logonEntries(opened.host.machine), /RUDivIrav\.exe/);
  assert.equal((await row(page, 'item_registry')).state, '未检测');
  assert.equal(await page.$eval('#startchose', (s) => s.value), '0', '"托盘启动" is chosen');
  assertNoScriptErrors(opened);
});

test('settings are saved and read back; closing hands over to the tray helper or quits, as chosen', async (t) => {
  const bank = await startDemoBank();
  t.after(() => bank.stop());
  const machine = tempDir('zentrovak-demo-machine-');
  const trayLog = path.join(machine, 'tray.log');
  t.after(() => fs.rmSync(machine, { recursive: true, force: true }));
  seedDemoMachine(machine, bank.url, { IsFirstTime: 0 });
  const value = (name) => machineReg(machine, 'query', SETTINGS, '/v', name).split('\n')[2].trim();

  let opened = await openPage(PROGRAM, { machine, env: { RUDIVIRAV_LOG: trayLog } });
  let { page } = opened;
  await waitForPassEnd(page);
  await page.click('#setups');
  await page.selectOption('#startchose', '1');
  await page.selectOption('#closechose', '0');
  await page.selectOption('#updatechose', '0');
  assert.deepEqual([value('Schose'), value('Ccloses'), value('Uchose')],
                   ['Schose    REG_DWORD    0x1', 'Ccloses    REG_SZ    0', 'Uchose    REG_DWORD    0x0']);
  assert.doesNotMatch(logonEntries(machine), /RUDivIrav/);
  assertNoScriptErrors(opened);
  await page.click('#ui_quit');
  assert.equal(await withTimeout(opened.host.exited, 15000, 'the program did not quit'), 0);
  await opened.close();
  assert.equal(fs.existsSync(trayLog), false, 'closing with "关闭时退出" started the tray helper');

  opened = await openPage(PROGRAM, { args: ['4'], machine, env: { RUDIVIRAV_LOG: trayLog } });
  t.after(() => opened.close());
  ({ page } = opened);
  await waitForText(page, 'info', '获取配置成功，请开始检测');
  assert.deepEqual(await page.$$eval('select', (list) => list.map((s) => s.options[s.selectedIndex].text)),
                   ['简体中文版', '手动启动', '关闭时退出', '手动更新']);
  await page.selectOption('#startchose', '0');
  await page.selectOption('#closechose', '1');
  assert.match(logonEntries(machine), /RUDivIrav\.exe/);
  assertNoScriptErrors(opened);
  await page.click('#ui_quit');
  await withTimeout(opened.host.exited, 15000, 'the program did not close');
  // The helper is a separate process: its log exists a moment before its line is in it.
  const trayLine = () => (fs.existsSync(trayLog) ? fs.readFileSync(trayLog, 'utf8') : '');
  for (let i = 0; i < 50 && !trayLine().endsWith('\n'); i++) await new Promise((r) => setTimeout(r, 100));
  assert.match(trayLine(), /^\S*NetBankAssistant\S* 103 102 128 0\n$/);
});

test('without a network the page says so and the program closes', async (t) => {
  const opened = await openPage(PROGRAM, { prepare: (m) => seedDemoMachine(m, 'http://127.0.0.1:9') });
  t.after(() => opened.close());
  await waitForBox(opened.page, '网络异常，请联网后启用助手！');
  assert.equal(await withTimeout(opened.host.exited, 20000, 'the program stayed'), 0);
  assert.equal(await text(opened.page, 'net'), '未联网');
  assertNoScriptErrors(opened);
});

test('hostile configuration attributes are shown as plain text', async (t) => {
  const hostile = '<img src=x onerror="document.title=\'pwned\'">&lt;b&gt;';
  const escaped = hostile.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
  const bank = await startConfigServer(`<?xml version="1.0" encoding="utf-8"?>
<checkitems>
  <data name="bank_url">javascript:document.title='pwned'</data>
  <item name="甲" cls="ocx" type="a" status="x" selected="0" constructor="1" __proto__="2" hasownproperty="3"/>
  <item name="乙" cls="ocx" type="b"/>
  <item name="丙" cls="ocx" type="c"/>
  <item name="${escaped}" cls="key" type="FT_1" keyid="${escaped}"><detect dtype="${escaped}">x</detect></item>
</checkitems>`);
  t.after(() => bank.stop());
  const opened = await openOnDemoMachine(t, bank, { IsFirstTime: 0, other: 1, KeyType: 'FT_1' });
  const { page } = opened;
  await waitForText(page, 'info', '检测完成');
  const keyRow = await row(page, 'item_3');
  assert.equal(keyRow.name, hostile);
  assert.equal(keyRow.state, '未安装');
  assert.equal(await page.$$eval('#item_3 img, #item_3 b', (list) => list.length), 0);
  await page.click('#nav .navbtn >> nth=2');
  await page.click('a.hlink[data-url="bank_url"]');
  assert.notEqual(await page.title(), 'pwned');
  assertNoScriptErrors(opened);
});

test('a bank that goes away in the middle of a pass leaves every row with a state', async (t) => {
  const bank = await startDemoBank();
  t.after(() => bank.stop());
  const opened = await openOnDemoMachine(t, bank, { IsFirstTime: 0 });
  const { page } = opened;
  await page.waitForFunction(() => /HOST文件/.test(document.getElementById('info').textContent));
  await bank.stop();
  await waitForPassEnd(page);
  assert.deepEqual((await row(page, 'item_connection')).state, '未联网');
  assert.equal(await text(page, 'net'), '未联网');
  for (const type of CHECK_TYPES) assert.notEqual((await row(page, `item_${type}`)).state, '未检测', type);
  assertNoScriptErrors(opened);
});

test('the minimise button minimises the window the program opened; the window goes when the program ends', async (t) => {
  const bank = await startDemoBank();
  t.after(() => bank.stop());
  const opened = await startWithOwnWindow(PROGRAM, [], {},
                                          { prepare: (m) => seedDemoMachine(m, bank.url, { IsFirstTime: 0 }) });
  t.after(() => opened.close());
  const { page } = opened;
  await waitForPassEnd(page);
  const windowState = async () => {
    const session = await page.context().newCDPSession(page);
    const { windowId } = await session.send('Browser.getWindowForTarget');
    const { bounds } = await session.send('Browser.getWindowBounds', { windowId });
    await session.detach();
    return bounds.windowState;
  };
  assert.equal(await windowState(), 'normal');
  await page.click('#ui_min');
  for (let i = 0; i < 50 && await windowState() !== 'minimized'; i++) await new Promise((r) => setTimeout(r, 100));
  assert.equal(await windowState(), 'minimized');

  // Killed outright, the program cannot tell its page to close: the browser
  // sees the program's connection end and quits with it.
  const closed = new Promise((resolve) => page.context().browser().on('disconnected', resolve));
  opened.child.kill('SIGKILL');
  await withTimeout(closed, 15000, 'the window outlived the program');
});
