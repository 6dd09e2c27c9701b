// The headless report (--check, --fix, --json) of the real program on the
// demo machine against the demo bank server: the seeded faults are listed,
// the repair pass mends what the program can mend, and a pass that cannot
// run ends with exit code 2 and its reason.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const { tempDir } = require('./harness');
const { startDemoBank, seedDemoMachine, runReport } = require('./demo_bank');

function stepOf(steps, kind, key) {
  return steps.find((s) => s.kind === kind && (kind === 'check' ? s.type === key : s.index === key));
}

test('--check lists the seeded faults, --fix repairs them, and the check after it is clean', async (t) => {
  const bank = await startDemoBank({ secondsPerPackage: 0 });
  const machine = tempDir('zentrovak-report-machine-');
  t.after(async () => {
    await bank.stop();
    fs.rmSync(machine, { recursive: true, force: true });
  });
  seedDemoMachine(machine, bank.url);

  const found = await runReport(machine, '--check');
  assert.equal(found.code, 1, found.stderr);
  // In pass order: the ten built-in checks, then the items up to the first
  // key driver (this user has no key).
  assert.deepEqual(found.steps.map((s) => s.type), [
    'registry', 'host', 'cfca', 'connection', 'dns', 'url', 'level', 'trust', 'home_page', 'compatibility',
    'passguard', 'signctrl', 'antiphish']);
  assert.deepEqual(stepOf(found.steps, 'check', 'home_page'),
                   { kind: 'check', type: 'home_page', name: 'ie 首页', passed: false, text: '已锁定' });
  assert.deepEqual(stepOf(found.steps, 'check', 'connection'),
                   { kind: 'check', type: 'connection', name: '网络连接', passed: true, text: '已联网' });
  assert.deepEqual(found.steps.slice(10).map((s) => [s.index, s.name, s.status, s.text]), [
    [0, '密码安全控件', 3, '未安装'], [1, '证书签名控件', 0, '已安装最新版本'], [2, '网银防钓鱼控件', 2, '有升级']]);
  // The seeded faults are found (those of "registry", "trust" and
  // "compatibility" are repaired as soon as they are checked); a check this
  // build lacks is marked and says "not passed".
  for (const type of ['host', 'cfca']) {
    const step = stepOf(found.steps, 'check', type);
    assert.equal(step.passed, false, `${type} passed on the seeded machine`);
  }
  for (const step of found.steps.filter((s) => s.available === false)) assert.equal(step.passed, false);

  // The roots that "cfca" imports are trusted only when the user says so.
  const refused = await runReport(machine, '--fix', 'n');
  assert.equal(stepOf(refused.steps, 'check', 'cfca').passed, false);
  assert.match(refused.stderr, /您想安装此证书吗\?/);
  const fixed = await runReport(machine, '--fix', 'y');
  const available = fixed.steps.filter((s) => s.kind === 'check' && s.available !== false);
  assert.deepEqual(available.filter((s) => !s.passed), [], 'checks left failing after the repair');
  assert.equal(stepOf(fixed.steps, 'check', 'home_page').text, '未锁定');
  const items = fixed.steps.filter((s) => s.kind === 'item').map((s) => s.status);
  if (bank.requests().some((p) => p.startsWith('/download/packages/'))) {
    assert.deepEqual(items, [0, 0, 0]);
    assert.equal(fixed.code, 0, fixed.stdout);
  } else {
    t.diagnostic('this build installs nothing yet: the components stay as they were');
    assert.deepEqual(items, [3, 0, 2]);
    assert.equal(fixed.code, 1);
  }
});

test('a pass that cannot run ends with exit code 2, its reason and nothing on standard output', async (t) => {
  const cases = [
    { name: 'no bank at all', bank: null },
    { name: 'the bank goes away after the configuration', bank: { dieAfterConfiguration: true } },
  ];
  for (const c of cases) {
    const bank = c.bank ? await startDemoBank(c.bank) : null;
    const machine = tempDir('zentrovak-report-machine-');
    try {
      // A closed port: the bank server of the first case is not there.
      seedDemoMachine(machine, bank ? bank.url : 'http://127.0.0.1:9');
      const run = await runReport(machine, '--check');
      assert.equal(run.code, 2, `${c.name}: ${run.stdout}`);
      assert.match(run.stderr, /网络异常，请联网后启用助手！/, c.name);
      assert.equal(run.stdout, '', c.name);
    } finally {
      if (bank) await bank.stop();
      fs.rmSync(machine, { recursive: true, force: true });
    }
  }
});

test('the text report prints one line per step with its state and a mark', async (t) => {
  const bank = await startDemoBank();
  const machine = tempDir('zentrovak-report-machine-');
  t.after(async () => {
    await bank.stop();
    fs.rmSync(machine, { recursive: true, force: true });
  });
  seedDemoMachine(machine, bank.url);
  const run = spawnSync(process.env.PROGRAM, ['--machine', machine, '--check'], { cwd: machine, encoding: 'utf8' });
  assert.equal(run.status, 1, run.stderr);
  const lines = run.stdout.trim().split('\n');
  assert.equal(lines.length, 13);
  assert.equal(lines[8], 'ie 首页  已锁定  ✗');
  assert.equal(lines[3], '网络连接  已联网  ✓');
  assert.equal(lines[12], '网银防钓鱼控件  有升级  ✗');
});
