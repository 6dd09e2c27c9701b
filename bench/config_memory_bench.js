// The program's memory with an item configuration of a million
// attributes: the real program on a machine of its own, its page in
// headless Chromium, the configuration served from loopback. The page asks
// for the configuration at start-up; the program loads it and then
// announces every attribute to the page, one page call each, which takes
// far longer than the load. Prints the program's memory before the load,
// its peak by the time the announcements begin (the load's peak), and its
// memory after ANNOUNCE_SECONDS of announcements with how many were made.
// The run fails when the load's peak passes PEAK_LIMIT or the memory grows
// by more than GROWTH_LIMIT while the announcements go on: what the page
// has not taken yet must not pile up.
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const pageDir = path.join(__dirname, '..', 'tests', 'page');
const { openHostPage, withTimeout } = require(path.join(pageDir, 'harness'));
const { startConfigServer, machineReg, SETTINGS } = require(path.join(pageDir, 'demo_bank'));

const ATTRIBUTES = 1000000;
const PER_ITEM = 1000;
const ANNOUNCE_SECONDS = 30;
const PEAK_LIMIT = 400 << 20;
const GROWTH_LIMIT = 16 << 20;

// Items of PER_ITEM attributes each, ATTRIBUTES in all.
function configuration() {
  const items = [];
  for (let item = 0; item * PER_ITEM < ATTRIBUTES; item++) {
    const attributes = [`name="控件${item}"`, 'cls="activex"'];
    for (let a = 2; a < PER_ITEM; a++) attributes.push(`a${a}="${a}"`);
    items.push(`  <item ${attributes.join(' ')}/>`);
  }
  return `<?xml version="1.0" encoding="utf-8"?>\n<checkitems version="3">\n${items.join('\n')}\n</checkitems>\n`;
}

// Bytes, from the program's /proc status.
function memory(pid, field) {
  const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
  return Number(new RegExp(`${field}:\\s+(\\d+)`).exec(status)[1]) * 1024;
}

const mib = (bytes) => `${(bytes / 1048576).toFixed(1)} MiB`;

// The attributes the page has been told of so far.
const announced = (page) => page.evaluate(() => {
  let count = 0;
  for (let i = 0; i < item_info.length; i++) if (item_info[i]) count += Object.keys(item_info[i]).length - 2;
  return count;
});

async function main() {
  const xml = configuration();
  const server = await startConfigServer(xml);
  let opened;
  let failed = false;
  try {
    opened = await openHostPage(process.env.PROGRAM, [], {}, {
      prepare: (machine) => {
        machineReg(machine, 'add', SETTINGS, '/v', 'ConfigUrl', '/d', `${server.url}/download/itemV3.xml`, '/f');
        machineReg(machine, 'add', SETTINGS, '/v', 'IsFirstTime', '/t', 'REG_DWORD', '/d', '0', '/f');
      },
    });
    const { page } = opened;
    const pid = opened.host.child.pid;
    const before = memory(pid, 'VmRSS');
    await withTimeout(page.waitForFunction(() => item_info.length > 0, null, { timeout: 0, polling: 100 }),
                      300000, 'no attribute was announced');
    const loadPeak = memory(pid, 'VmHWM');
    const announcing = memory(pid, 'VmRSS');
    const first = await announced(page);
    await new Promise((resolve) => setTimeout(resolve, ANNOUNCE_SECONDS * 1000));
    const later = memory(pid, 'VmRSS');
    const count = await announced(page) - first;
    const grown = later - announcing;
    console.log(`configuration: ${mib(xml.length)}, ${ATTRIBUTES} attributes in ${ATTRIBUTES / PER_ITEM} items`);
    console.log(`program before the load: ${mib(before)}`);
    console.log(`program peak by the first announcement: ${mib(loadPeak)} (limit ${mib(PEAK_LIMIT)})`);
    console.log(`program at the first announcement: ${mib(announcing)}`);
    console.log(`after ${ANNOUNCE_SECONDS} s more, ${count} attributes announced ` +
                `(${(ANNOUNCE_SECONDS * 1e6 / Math.max(count, 1)).toFixed(0)} us each): ${mib(later)}, ` +
                `grown by ${mib(grown)} (limit ${mib(GROWTH_LIMIT)})`);
    console.log(`program peak: ${mib(memory(pid, 'VmHWM'))}`);
    if (loadPeak > PEAK_LIMIT || grown > GROWTH_LIMIT) failed = true;
  } finally {
    if (opened) await opened.close();
    await server.stop();
  }
  if (failed) process.exitCode = 1;
}

main().catch((e) => {
  console.error(e);
  process.exitCode = 1;
});
