// The program's memory while its page loads an item configuration of a
// million attributes: the real program on a machine of its own, its page
// in headless Chromium, the configuration served from loopback. The page
// asks for the configuration at start-up and the program announces every
// attribute to it, one page call each. Prints the program's memory before
// the load, its peak, and its memory once the page had every attribute,
// with the time the announcements took; a peak above PEAK_LIMIT fails the
// run (the model of the configuration itself takes some 150 MB; what the
// page has not taken yet must not pile up on top of it).
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const pageDir = path.join(__dirname, '..', 'tests', 'page');
const { openHostPage, withTimeout } = require(path.join(pageDir, 'harness'));
const { startConfigServer, machineReg, SETTINGS } = require(path.join(pageDir, 'demo_bank'));

const ATTRIBUTES = Number(process.env.ATTRIBUTES || 1000000);
const PER_ITEM = 1000;
const PEAK_LIMIT = 400 << 20;

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

async function main() {
  const xml = configuration();
  const server = await startConfigServer(xml);
  let opened;
  let failed = false;
  try {
    const start = Date.now();
    opened = await openHostPage(process.env.PROGRAM, [], {}, {
      prepare: (machine) => {
        machineReg(machine, 'add', SETTINGS, '/v', 'ConfigUrl', '/d', `${server.url}/download/itemV3.xml`, '/f');
        machineReg(machine, 'add', SETTINGS, '/v', 'IsFirstTime', '/t', 'REG_DWORD', '/d', '0', '/f');
      },
    });
    const pid = opened.host.child.pid;
    const before = memory(pid, 'VmRSS');
    let highest = before;
    const sampler = setInterval(() => { highest = Math.max(highest, memory(pid, 'VmRSS')); }, 200);
    try {
      await withTimeout(opened.page.waitForFunction(() => g_bFetchingConfig === false, null,
                                                    { timeout: 0, polling: 500 }),
                        1500000, 'the configuration was never answered');
    } finally {
      clearInterval(sampler);
    }
    const seconds = (Date.now() - start) / 1000;
    const after = memory(pid, 'VmRSS');
    const peak = memory(pid, 'VmHWM');
    console.log(`configuration: ${mib(xml.length)}, ${ATTRIBUTES} attributes in ${Math.ceil(ATTRIBUTES / PER_ITEM)} items`);
    console.log(`program before the load: ${mib(before)}`);
    console.log(`program peak: ${mib(peak)} (highest sample ${mib(highest)}; limit ${mib(PEAK_LIMIT)})`);
    console.log(`program once the page had every attribute: ${mib(after)}`);
    console.log(`load and announcements: ${seconds.toFixed(1)} s, ${(seconds * 1e6 / ATTRIBUTES).toFixed(1)} us per attribute`);
    if (peak > PEAK_LIMIT) failed = true;
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
