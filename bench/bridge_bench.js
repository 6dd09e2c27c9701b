// The cost of one page call through the bridge, measured from headless
// Chromium: synchronous callc and queued asyncallc against the bridge test
// host, and as the reference a bare keep-alive request from the same page
// to a minimal loopback server that answers at once. Prints the three
// figures and the ratios: the goal is at most 1.5 bare requests a call,
// and a call that costs more than two fails the run.
'use strict';
const http = require('node:http');
const path = require('node:path');
const { openHostPage } = require(path.join(__dirname, '..', 'tests', 'page', 'harness'));

const CALLS = 300;
const GOAL = 1.5;
const LIMIT = 2;

function minimalServer() {
  const server = http.createServer((req, res) => {
    res.writeHead(200, { 'Content-Type': 'text/plain', 'Content-Length': 2, 'Access-Control-Allow-Origin': '*' });
    res.end('ok');
  });
  server.keepAliveTimeout = 60000;
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// Milliseconds per call, the best of three rounds so that a burst of load
// from elsewhere on the machine does not decide the figure.
async function perCall(page, fn, arg) {
  let best = Infinity;
  for (let round = 0; round < 3; round++) best = Math.min(best, await page.evaluate(fn, arg));
  return best;
}

function bareRequests([url, calls]) {
  const start = performance.now();
  for (let i = 0; i < calls; i++) {
    const xhr = new XMLHttpRequest();
    xhr.open('GET', url, false);
    xhr.send(null);
  }
  return (performance.now() - start) / calls;
}

function syncCalls(calls) {
  const start = performance.now();
  for (let i = 0; i < calls; i++) window.external.callc('get_data', 'x' + i, undefined, undefined, undefined);
  return (performance.now() - start) / calls;
}

function queuedCalls(calls) {
  return new Promise((resolve) => {
    const start = performance.now();
    let answered = 0;
    for (let i = 0; i < calls; i++) {
      window.external.asyncallc(function () {
        if (++answered === calls) resolve((performance.now() - start) / calls);
      }, 'get_data', 'x' + i, undefined, undefined, undefined);
    }
  });
}

async function main() {
  const server = await minimalServer();
  const opened = await openHostPage(process.env.BRIDGE_HOST, [process.env.FIXTURES], {});
  let failed = false;
  try {
    const { page } = opened;
    const bare = await perCall(page, bareRequests, [`http://127.0.0.1:${server.address().port}/`, CALLS]);
    const sync = await perCall(page, syncCalls, CALLS);
    const queued = await perCall(page, queuedCalls, CALLS);
    console.log(`bare keep-alive request: ${bare.toFixed(3)} ms`);
    for (const [name, ms] of [['callc', sync], ['queued asyncallc', queued]]) {
      const ratio = ms / bare;
      console.log(`${name}: ${ms.toFixed(3)} ms per call, ${ratio.toFixed(2)}x the bare request ` +
                  `(goal <= ${GOAL}x, fails above ${LIMIT}x)`);
      if (ratio > LIMIT) failed = true;
    }
  } finally {
    await opened.close();
    server.closeAllConnections();
    server.close();
  }
  if (failed) process.exitCode = 1;
}

main().catch((e) => {
  console.error(e);
  process.exitCode = 1;
});
