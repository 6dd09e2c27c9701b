// What a person sees on the check tab and in the program's boxes, read from
// the page; and the program opened on a machine of the test's making.
'use strict';
const assert = require('node:assert/strict');
const { openHostPage } = require('./harness');

// Opens a host program's page with prepare(machine) run first, in a browser
// of its own or in `chrome`; every script error of the page is kept in
// `errors`. close() ends what it started.
async function openPage(program, { args = [], env = {}, prepare, machine, chrome } = {}) {
  const opened = await openHostPage(program, args, env, { prepare, machine, chrome });
  const errors = [];
  opened.page.on('pageerror', (e) => errors.push(e.message));
  opened.errors = errors;
  return opened;
}

// A row of the check or key tab: its name, state text, style and button.
function row(page, id) {
  return page.evaluate((rowId) => {
    const li = document.getElementById(rowId) || document.querySelector('li.' + rowId);
    if (!li) return null;
    const text = (selector) => {
      const cell = li.querySelector(selector);
      return cell ? cell.textContent : null;
    };
    return {
      name: text('.span1, .span4'),
      state: text('.span2, .span5'),
      style: li.classList.contains('wrong') ? 'wrong' : li.classList.contains('right') ? 'right' : '',
      button: text('.span3'),
      shown: getComputedStyle(li).display !== 'none',
    };
  }, id);
}

function text(page, id) {
  return page.evaluate((elementId) => document.getElementById(elementId).textContent, id);
}

function waitForText(page, id, expected, timeout = 30000) {
  return page.waitForFunction(([elementId, want]) => {
    const element = document.getElementById(elementId);
    return element && element.textContent === want;
  }, [id, expected], { timeout });
}

// The status line at the end of a pass: "检测完成", with eight blanks before
// it when the pass stopped at the first key driver.
function waitForPassEnd(page, timeout = 60000) {
  return page.waitForFunction(() => /^\s*检测完成$/.test(document.getElementById('info').textContent),
                              null, { timeout });
}

// The texts of the program's boxes shown so far, oldest first; each is
// dismissed with its button when dismiss is set.
async function boxes(page, { dismiss = false } = {}) {
  const texts = await page.$$eval('#zentrovak-box .zentrovak-box-text', (list) => list.map((b) => b.textContent));
  if (dismiss) {
    while (await page.$('#zentrovak-box .zentrovak-box-button')) {
      await page.click('#zentrovak-box .zentrovak-box-button');
    }
  }
  return texts;
}

async function waitForBox(page, expected, timeout = 15000) {
  await page.waitForFunction((want) => [...document.querySelectorAll('#zentrovak-box .zentrovak-box-text')]
    .some((b) => b.textContent === want), expected, { timeout });
}

// Clicks an element as a person does: first away any box of the program
// that is in front of the page.
async function press(page, selector) {
  await boxes(page, { dismiss: true });
  await page.click(selector);
}

function isVisible(page, selector) {
  return page.isVisible(selector);
}

function assertNoScriptErrors(opened) {
  assert.deepEqual(opened.errors, [], 'the page had script errors');
}

module.exports = { openPage, row, text, waitForText, waitForPassEnd, boxes, waitForBox, press, isVisible,
                   assertNoScriptErrors };
