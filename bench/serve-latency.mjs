// How long a MIDI message takes from the loopback to its value on the page of
// `wexmidi serve` (what serving costs the evaluation: serve-load.mjs).
//
//   node bench/serve-latency.mjs [MESSAGES]      (after a build; needs chromium)
//
// Latency: a control change is sent into the loopback through the API; the
// time runs until the page shows the distributor's new value (median and 99th
// percentile).
import { startServer, openPage } from "../web/tests/harness.mjs";

const messages = Number(process.argv[2] ?? 1000);
const cc7 = (value) => 0xb00700 | value;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];
}

async function latency() {
  const server = await startServer("distributors.wexcomp.json");
  const { browser, page } = await openPage(server.url);
  const times = [];
  for (let i = 0; i < messages; i++) {
    const value = i % 2 ? 100 : 27; // always a change
    const shown = page.waitForFunction(
      (v) => document.querySelector('[data-port="cc.controller7"]')?.textContent === String(v),
      { polling: "mutation", timeout: 5000 }, value);
    const start = performance.now();
    await server.post({ send: [cc7(value)], to: ["wexmidi Loopback"] });
    await shown;
    times.push(performance.now() - start);
    // The page shows a port at most about 30 times a second: wait that out so
    // that each message is measured, not the coalescing.
    await sleep(35);
  }
  await browser.close();
  await server.stop();
  times.sort((a, b) => a - b);
  console.log(`MIDI in to value on the page over ${messages} messages: ` +
    `median ${percentile(times, 50).toFixed(1)} ms, p99 ${percentile(times, 99).toFixed(1)} ms`);
}

await latency();
