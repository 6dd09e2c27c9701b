// The program's own page set in the browser, as the customer sees it on the
// demo machine: every picture loads, each of the five tabs and each pop-up
// (the PIN box, which needs a key, is in scripted_page.test.js) is shown
// and saved as a screenshot (build/screenshots/), and commands round-trip.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { openHostPage, screenshotPath } = require('./harness');
const { startDemoBank, seedDemoMachine } = require('./demo_bank');
const { boxes, waitForBox } = require('./page_helpers');

let bank;
let host;
let chrome;
let page;
let hasPageSet = false;

before(async () => {
  bank = await startDemoBank();
  ({ host, chrome, page } = await openHostPage(process.env.PROGRAM, [], {},
                                               { prepare: (m) => seedDemoMachine(m, bank.url, { IsFirstTime: 0 }) }));
  hasPageSet = (await page.$('#nav a.navbtn')) !== null;
});

after(async () => {
  if (chrome) await chrome.close();
  if (host) host.cleanUp();
  if (bank) await bank.stop();
});

test('commands round-trip from the page', async () => {
  assert.equal(await page.evaluate(() => window.external.callc('get_command')), 0);
  assert.equal(await page.evaluate(() => window.external.callc('load_settings', 'never', 'x')), 'x');
});

test('every picture of the page loads', async (t) => {
  if (!hasPageSet) return t.skip('this build carries no page set yet');
  const urls = await page.evaluate(() => {
    const found = new Set();
    for (const img of document.images) found.add(img.src);
    for (const el of document.querySelectorAll('*')) {
      const bg = getComputedStyle(el).backgroundImage;
      const m = bg && bg.match(/url\("?([^")]+)"?\)/);
      if (m) found.add(new URL(m[1], location.href).href);
    }
    for (const sheet of document.styleSheets) {
      for (const rule of sheet.cssRules) {
        const m = rule.cssText.match(/url\("?([^")]+)"?\)/g) || [];
        for (const u of m) found.add(new URL(u.replace(/url\("?|"?\)/g, ''), sheet.href || location.href).href);
      }
    }
    return [...found];
  });
  assert.ok(urls.length > 10, `only ${urls.length} pictures referenced`);
  const failed = await page.evaluate(async (list) => {
    const bad = [];
    for (const u of list) {
      const r = await fetch(u);
      if (r.status !== 200 || !(r.headers.get('content-type') || '').startsWith('image/')) bad.push(u + ' ' + r.status);
    }
    return bad;
  }, urls);
  assert.deepEqual(failed, []);
});

test('each of the five tabs shows its panel', async (t) => {
  if (!hasPageSet) return t.skip('this build carries no page set yet');
  const names = ['check', 'key', 'links', 'settings', 'help'];
  for (let i = 0; i < 5; i++) {
    await page.locator('#nav a.navbtn').nth(i).click();
    await page.waitForTimeout(200);
    const visible = await page.evaluate((n) => {
      const panels = document.querySelectorAll('.sli');
      return [...panels].map((p) => getComputedStyle(p).display !== 'none').indexOf(true) === n;
    }, i);
    await page.screenshot({ path: screenshotPath(`tab-${i + 1}-${names[i]}`) });
    assert.ok(visible, `tab ${i + 1} did not show its panel`);
  }
});

test('each pop-up opens from its own button over the mask', async (t) => {
  if (!hasPageSet) return t.skip('this build carries no page set yet');
  await page.click('#navcheck');
  const shown = async (id) => {
    await page.waitForSelector(`#${id}`, { state: 'visible' });
    assert.ok(await page.isVisible('#mask'), `${id} without the mask`);
    await page.screenshot({ path: screenshotPath(`popup-${id}`) });
  };
  await page.click('#abt');
  await shown('about');
  await page.click('#about .cloce');
  await page.click('#stp');
  await shown('guide1');
  await page.click('#usbbtn');
  await shown('usertype');
  // "完成" with no key type chosen asks for one and goes back to the second
  // wizard page.
  await page.click('#finish');
  await waitForBox(page, '请选择您的KEY类型');
  await boxes(page, { dismiss: true });
  await shown('guide2');
  await page.click('#guide2 .cloce');
  assert.equal(await page.isVisible('#mask'), false);
});
