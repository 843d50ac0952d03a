// The page in a real browser against `wexmidi serve` of the examples.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import {
  startServer, openPage, screenshot, shownValue, waitForValue, selectPatch, runWexmidi,
} from "./harness.mjs";

const LOOPBACK = "wexmidi Loopback";
const cc = (controller, value) => 0xb00000 | (controller << 8) | value; // channel 1
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The receiver's panel row of a source.
const loopbackRow = (panel) => panel.tables[0].rows.find((cells) => cells[0] === LOOPBACK);

async function waitForPanel(id, done) {
  // Up to about 10 s: a loaded machine evaluates the composition late.
  for (let i = 0; i < 200; i++) {
    // 409 until the page has opened the panel.
    const panel = await server.get(`api/patches/${id}/panel`);
    if (!panel.error && done(panel)) return;
    await sleep(50);
  }
  assert.fail(`the panel of ${id} did not change`);
}

// Clicks the tick box of the settings table row that names `name`.
async function clickTick(page, name) {
  // Found and clicked in one step: the panel is redrawn whenever it changes.
  await page.waitForFunction((n) => {
    const box = [...document.querySelectorAll("#settings tr")]
      .find((row) => row.cells[0]?.textContent === n)?.querySelector("input[type=checkbox]");
    box?.click();
    return !!box;
  }, {}, name);
}

// The selector of a patch's box.
async function boxOf(page, id) {
  const node = await page.waitForFunction((i) => [...document.querySelectorAll(".drawflow-node")]
    .find((n) => n.querySelector(".box-title small")?.textContent === i)?.id, {}, id);
  return `#${await node.jsonValue()}`;
}

// Where each port's circle is drawn against its label's row: the circle's
// middle less the row's, for every port of every box.
function circleOffsets(page) {
  return page.evaluate(() => [...document.querySelectorAll(".drawflow-node")].flatMap((box) =>
    [["in", ".input"], ["out", ".output"]].flatMap(([side, dots]) => {
      const circles = [...box.querySelectorAll(dots)];
      return [...box.querySelectorAll(`.port.${side}`)].map((row, i) => {
        const r = row.getBoundingClientRect();
        const c = circles[i].getBoundingClientRect();
        return { port: row.querySelector(".value").dataset.port,
          offset: c.top + c.height / 2 - (r.top + r.height / 2) };
      });
    })));
}

// The middle of the circle drawn beside a port's label, as a person aims.
function circleBeside(page, port) {
  return page.evaluate((p) => {
    const row = document.querySelector(`[data-port="${p}"]`).closest(".port");
    const r = row.getBoundingClientRect();
    const dots = row.classList.contains("in") ? ".input" : ".output";
    for (const circle of row.closest(".drawflow-node").querySelectorAll(dots)) {
      const c = circle.getBoundingClientRect();
      const y = c.top + c.height / 2;
      if (y >= r.top && y < r.bottom) return { x: c.left + c.width / 2, y };
    }
    return null;
  }, port);
}

let server;
let browser;
let page;
let problems;

before(async () => {
  server = await startServer("distributors.wexcomp.json");
  ({ browser, page, problems } = await openPage(server.url));
});

after(async () => {
  await browser?.close();
  await server?.stop();
});

test("the page shows the patches and wires of the distributors example", async () => {
  await page.waitForFunction(() => document.querySelectorAll(".drawflow-node").length === 3);
  await page.waitForFunction(() => document.querySelectorAll(".connection").length === 2);
  const titles = await page.$$eval(".box-title", (all) => all.map((t) => t.textContent));
  assert.deepEqual(titles.map((t) => t.split(" ").pop()), ["rx", "cc", "notes"]);
  assert.ok(titles[1].startsWith("wex MIDI CC Message Distributor"));
  const names = await page.$$eval(".drawflow-node", (nodes) =>
    nodes.map((n) => [...n.querySelectorAll(".port .name")].map((p) => p.textContent)));
  assert.ok(names[0].includes("Messages"));
  await screenshot(page, "page-distributors");
  assert.deepEqual(problems, []);
});

test("MIDI sent into the loopback changes the distributors' values on the page", async () => {
  await server.post({ send: [cc(7, 64)], to: [LOOPBACK] });
  await waitForValue(page, "cc.controller7", "64");
  await server.post({ send: [cc(7, 99)], to: [LOOPBACK] });
  await waitForValue(page, "cc.controller7", "99");
  await page.waitForFunction(() => document.querySelector("#monitor")?.textContent.includes("Ctrl, ch.0, ctrl.7, val.99"));
  // A note held shows as on, as a person reads it.
  await server.post({ send: [0x903c64], to: [LOOPBACK] });
  await waitForValue(page, "notes.note60", "on");
  await screenshot(page, "page-live-values");
});

test("unticking a source in the receiver's panel stops its messages", async () => {
  await selectPatch(page, "rx");
  await clickTick(page, LOOPBACK);
  await waitForPanel("rx", (panel) => loopbackRow(panel)[1] === 0);
  await server.post({ send: [cc(7, 5)], to: [LOOPBACK] });
  await sleep(500);
  assert.equal(await shownValue(page, "cc.controller7"), "99");
  await screenshot(page, "page-unticked-source");
  // Ticked again, messages flow again.
  await clickTick(page, LOOPBACK);
  await waitForPanel("rx", (panel) => loopbackRow(panel)[1] === 1);
  await server.post({ send: [cc(7, 6)], to: [LOOPBACK] });
  await waitForValue(page, "cc.controller7", "6");
});

test("learning adds the new controllers' ports to the box", async () => {
  await selectPatch(page, "cc");
  const learn = '#settings input[data-switch="learn"]';
  await page.waitForSelector(learn);
  // Found and clicked in one step: the panel is redrawn whenever it changes.
  await page.$eval(learn, (input) => input.click());
  await waitForPanel("cc", (panel) => panel.switches[0].state === "on");
  await server.post({ send: [cc(21, 11), cc(22, 12)], to: [LOOPBACK] });
  await sleep(300);
  // Clicked once it shows learning, in the same step as the redraw-proof find.
  await page.waitForFunction((l) => {
    const box = document.querySelector(l);
    if (!box?.checked) return false;
    box.click();
    return true;
  }, {}, learn);
  await waitForPanel("cc", (panel) => panel.switches[0].state === "off");
  await page.waitForSelector('[data-port="cc.controller21"]', { timeout: 5000 });
  await page.waitForSelector('[data-port="cc.controller22"]', { timeout: 5000 });
  await screenshot(page, "page-learned");
});

test("dragging from an output to an input connects the two ports", async () => {
  await server.post({ add: "MIDI_GroupPlugIn", id: "group", position: [700, 380] });
  await page.waitForFunction(() => document.querySelectorAll(".drawflow-node").length === 4);
  for (const { port, offset } of await circleOffsets(page)) {
    assert.ok(Math.abs(offset) <= 2, `the circle of ${port} is ${offset} px off its row`);
  }
  // From beside the distributor's "Controller 7" to beside the collector's "Message 1".
  const from = await circleBeside(page, "cc.controller7");
  const to = await circleBeside(page, "group.message0");
  assert.ok(from && to, "a circle beside each label");
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  await page.mouse.move(to.x, to.y, { steps: 10 });
  await page.mouse.up();
  let connections = [];
  for (let i = 0; i < 50; i++) {
    connections = (await server.get("api/composition")).connections;
    if (connections.some((c) => c.to === "group.message0")) break;
    await sleep(50);
  }
  assert.ok(connections.some((c) => c.from === "cc.controller7" && c.to === "group.message0"),
    JSON.stringify(connections));
  await screenshot(page, "page-wired");
});

test("a line of the program's log shows on the page where the user sees it", async () => {
  // A data byte above 127 in a sysex string: the message model logs it (two
  // lines), and the command is refused.
  await assert.rejects(server.post({ send: ["67,200,1"], to: [LOOPBACK] }), /yields no message/);
  const line = "err: bailing, val in passed sysex array (C8) was > 0x7F";
  await page.waitForFunction((l) => document.querySelector("#log")?.textContent.includes(l), {}, line);
  await page.waitForFunction(() => document.querySelectorAll("#log li").length === 2);
  assert.equal(await page.$eval("#error", (e) => e.hidden), false);
  assert.equal(await page.$eval("#error-text", (e) => e.textContent),
    "Log: err: -[OrvMIDIMessage initWithSysexArray:] - BAIL");
  assert.equal(await page.$eval("#log-unread", (e) => e.textContent), "(2 new)");
  assert.ok(server.errors().includes(line), "the log still goes to standard error");
  await screenshot(page, "page-log");
  await page.click("#error-close");
  await page.click("#log-section");
  assert.equal(await page.$eval("#log-unread", (e) => e.textContent), "");
});

test("Save writes a file that run loads with the same patches, connections and settings", async () => {
  await page.waitForSelector("#unsaved:not([hidden])");
  await page.click("#save");
  await page.waitForSelector("#unsaved[hidden]");
  const saved = JSON.parse(readFileSync(server.file, "utf8"));
  assert.deepEqual(saved.patches.map((p) => p.id), ["rx", "cc", "notes", "group"]);
  assert.deepEqual(saved.patches[3].position, [700, 380]);
  const resaved = join(server.folder, "resaved.json");
  runWexmidi(["run", server.file, "--for", "0.2", "--save", resaved]);
  const again = JSON.parse(readFileSync(resaved, "utf8"));
  assert.deepEqual(again.connections, saved.connections);
  assert.deepEqual(again.patches.map((p) => [p.id, p.class, p.settings]),
    saved.patches.map((p) => [p.id, p.class, p.settings]));
  await screenshot(page, "page-saved");
  assert.deepEqual(problems, []);
});

test("a page whose server was stopped and started again heals itself", async () => {
  const address = new URL(server.url).host;
  await server.stop();
  server = await startServer("distributors.wexcomp.json", [], address);
  await page.waitForFunction(() => document.querySelector("#connection").textContent === "connected"
    && document.querySelectorAll(".drawflow-node").length === 3, { timeout: 20000 });
  // The new run numbers its log from 1 again: its lines are shown all the same.
  await assert.rejects(server.post({ send: ["67,200,1"], to: [LOOPBACK] }), /yields no message/);
  await page.waitForFunction(() => document.querySelectorAll("#log li").length === 4);
  await screenshot(page, "page-healed");
});

test("patches added one after another each get a place of their own", async () => {
  for (const count of [4, 5]) {
    await page.click("#add");
    await page.waitForFunction((n) => document.querySelectorAll(".drawflow-node").length === n, {},
      count);
  }
  const added = (await server.get("api/composition")).patches.slice(3).map((p) => p.position);
  assert.notDeepEqual(added[0], added[1]);
});

test("a wire clicked and then deleted with the Delete key is disconnected", async () => {
  const before = (await server.get("api/composition")).connections.length;
  // A point of a wire that no box covers, where a person would click.
  const spot = await page.$eval(".connection .main-path", (path) => {
    const matrix = path.getScreenCTM();
    for (let f = 0.1; f < 1; f += 0.1) {
      const point = path.getPointAtLength(path.getTotalLength() * f);
      const x = point.x * matrix.a + matrix.e, y = point.y * matrix.d + matrix.f;
      if (document.elementFromPoint(x, y) === path) return { x, y };
    }
    return null;
  });
  assert.ok(spot, "a wire in sight");
  await page.mouse.click(spot.x, spot.y);
  await page.keyboard.press("Delete");
  let after = before;
  for (let i = 0; i < 50 && after === before; i++) {
    await sleep(50);
    after = (await server.get("api/composition")).connections.length;
  }
  assert.equal(after, before - 1);
});
