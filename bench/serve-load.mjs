// What serving costs the evaluation: the evaluation rate of `wexmidi serve`
// with no client against 8 clients of the event stream that do what the page
// does (read every event, parse its data, fetch the composition again when
// its shape changes), while MIDI flows.
//
//   node bench/serve-load.mjs [ROUNDS] [SECONDS]     (after a build)
//
// The composition runs at the highest --rate (10000 evaluations a second, so
// that any time taken from the evaluation thread shows as fewer
// evaluations), a control change goes into the loopback every 5 ms (on a
// schedule, whatever the answers take) through
// the API in both phases alike, and the phases alternate ROUNDS times so that
// a change of the machine's load falls on both. Eight chromium pages would
// measure chromium on a machine with few cores; these clients cost what the
// server does for a page and little more. On a loaded machine the rate moves
// with the load more than with the clients: the server's own CPU time with
// and without them (from /proc) shows what serving takes from the machine.
import { readFileSync } from "node:fs";
import { startServer } from "../web/tests/harness.mjs";

const rounds = Number(process.argv[2] ?? 5);
const seconds = Number(process.argv[3] ?? 3);
const CLIENTS = 8;
const SEND_EVERY_MS = 5;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// One client of the event stream, as the page uses it.
function client(server, counts) {
  const controller = new AbortController();
  const done = (async () => {
    const response = await fetch(new URL("api/events", server.url), { signal: controller.signal });
    const decoder = new TextDecoder();
    let buffer = "";
    for await (const chunk of response.body) {
      buffer += decoder.decode(chunk, { stream: true });
      let end;
      while ((end = buffer.indexOf("\n\n")) >= 0) {
        const block = buffer.slice(0, end);
        buffer = buffer.slice(end + 2);
        const name = /^event: (.*)$/m.exec(block)?.[1];
        const data = /^data: (.*)$/m.exec(block)?.[1];
        if (!name || data === undefined) continue;
        JSON.parse(data);
        counts[name] = (counts[name] ?? 0) + 1;
        if (name === "composition") await server.get("api/composition");
      }
    }
  })().catch((error) => {
    if (error.name !== "AbortError") throw error;
  });
  return { stop: () => controller.abort(), done };
}

// The CPU time the server process has used, in seconds (user and system).
function cpuSeconds(pid) {
  const fields = readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ");
  return (Number(fields[11]) + Number(fields[12])) / 100; // clock ticks of 10 ms
}

// Evaluations a second, and the server's CPU use in cores, over one phase.
async function measure(server) {
  const before = (await server.get("api/composition")).ticks;
  const cpuBefore = cpuSeconds(server.child.pid);
  const start = performance.now();
  // On a schedule, not after each answer: a request's round trip must not
  // slow the rate of messages down.
  const sent = [];
  for (let i = 0; performance.now() - start < seconds * 1000; i++) {
    const wait = start + i * SEND_EVERY_MS - performance.now();
    if (wait > 0) await sleep(wait);
    sent.push(server.post({ send: [0xb00700 | (i % 128)], to: ["wexmidi Loopback"] }));
  }
  const elapsed = (performance.now() - start) / 1000;
  const after = (await server.get("api/composition")).ticks;
  await Promise.all(sent);
  return {
    rate: (after - before) / elapsed,
    cores: (cpuSeconds(server.child.pid) - cpuBefore) / elapsed,
    messages: sent.length / elapsed,
  };
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const server = await startServer("distributors.wexcomp.json", ["--rate", "10000"]);
const alone = [];
const served = [];
const counts = {};
await measure(server); // warm up
for (let round = 0; round < rounds; round++) {
  alone.push(await measure(server));
  const clients = Array.from({ length: CLIENTS }, () => client(server, counts));
  await sleep(200);
  served.push(await measure(server));
  for (const c of clients) c.stop();
  await Promise.all(clients.map((c) => c.done));
  await sleep(200);
}
await server.stop();
const a = median(alone.map((m) => m.rate));
const s = median(served.map((m) => m.rate));
// Each round's two phases ran next to each other: their ratio is the least
// disturbed by the machine's other work.
const paired = median(served.map((m, i) => m.rate / alone[i].rate));
console.log(`evaluations per second at --rate 10000, median of ${rounds} rounds of ${seconds} s: ` +
  `${a.toFixed(0)} with no client, ${s.toFixed(0)} with ${CLIENTS} event-stream clients ` +
  `(${((1 - s / a) * 100).toFixed(1)}% less; median of the rounds' ratios ` +
  `${((1 - paired) * 100).toFixed(1)}% less)`);
console.log(`  rounds without: ${alone.map((m) => m.rate.toFixed(0)).join(" ")}`);
console.log(`  rounds with:    ${served.map((m) => m.rate.toFixed(0)).join(" ")}`);
const cores = median(alone.map((m) => m.cores));
const servedCores = median(served.map((m) => m.cores));
console.log(`  the server's CPU, in cores: ${cores.toFixed(3)} without, ${servedCores.toFixed(3)} ` +
  `with (serving takes ${(((servedCores - cores) / cores) * 100).toFixed(1)}% more)`);
console.log(`  events the clients read: ${JSON.stringify(counts)}`);
console.log(`  messages sent a second: ${median([...alone, ...served].map((m) => m.messages)).toFixed(0)} ` +
  `(one every ${SEND_EVERY_MS} ms is ${(1000 / SEND_EVERY_MS).toFixed(0)})`);
