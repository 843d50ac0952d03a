// A performer's evening with the page, in order: edits taken back and done
// again, and nothing lost when the page or the server is closed too early.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import {
  startServer, openPage, screenshot, selectPatch, runWexmidiFully,
} from "./harness.mjs";

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

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

// Polls the API until `done` holds of the composition.
async function composition(done, what) {
  let last;
  for (let i = 0; i < 100; i++) {
    last = await server.get("api/composition");
    if (done(last)) return last;
    await sleep(50);
  }
  assert.fail(`${what}: ${JSON.stringify(last).slice(0, 400)}`);
}

const patch = (c, id) => c.patches.find((p) => p.id === id);
const box = (id) => page.waitForFunction((i) => [...document.querySelectorAll(".box-title")]
  .find((t) => t.querySelector("small")?.textContent === i), {}, id);

test("undo and redo take back and do again a move, a removal and its wires", async () => {
  const start = await composition((c) => c.patches.length === 3, "three patches");
  assert.equal(patch(start, "cc").position, null);
  // A box dragged by its title, then Ctrl+Z, then Ctrl+Shift+Z.
  const title = await (await box("cc")).asElement().boundingBox();
  await page.mouse.move(title.x + 20, title.y + 10);
  await page.mouse.down();
  await page.mouse.move(title.x + 120, title.y + 90, { steps: 8 });
  await page.mouse.up();
  const moved = patch(await composition((c) => patch(c, "cc").position, "moved"), "cc").position;
  await page.keyboard.down("Control");
  await page.keyboard.press("z");
  await composition((c) => patch(c, "cc").position === null, "move undone");
  await page.keyboard.down("Shift");
  await page.keyboard.press("Z");
  await page.keyboard.up("Shift");
  await page.keyboard.up("Control");
  await composition((c) => String(patch(c, "cc").position) === String(moved), "move redone");

  // Removed with the Delete key, brought back whole by the Undo button, once
  // the page has drawn the box where it now is.
  await page.waitForFunction((x) => [...document.querySelectorAll(".drawflow-node")]
    .some((n) => n.querySelector(".box-title small")?.textContent === "cc" && n.style.left === `${x}px`),
  {}, moved[0]);
  await selectPatch(page, "cc");
  await page.keyboard.press("Delete");
  await composition((c) => !patch(c, "cc") && c.connections.length === 1, "removed");
  await page.waitForSelector("#undo:not([disabled])");
  await page.click("#undo");
  const back = await composition((c) => patch(c, "cc") && c.connections.length === 2, "back");
  assert.deepEqual(patch(back, "cc").outputs.map((o) => o.key),
    patch(start, "cc").outputs.map((o) => o.key), "its learned controllers too");
  assert.deepEqual(patch(back, "cc").position, moved);
  await page.waitForFunction(() => document.querySelectorAll(".drawflow-node").length === 3);
  await screenshot(page, "stage-undone");
  assert.deepEqual(problems, []);
});

test("from the keyboard alone: Tab to a box, arrows move it, quick add, Delete, zoom to fit", async () => {
  const before = await composition((c) => c.patches.length === 3, "three patches");
  // The graph's background, then Tab: the first box has the keyboard.
  const view = await page.$eval("#editor", (e) => { const r = e.getBoundingClientRect(); return { x: r.x, y: r.bottom }; });
  await page.mouse.click(view.x + 20, view.y - 20);
  await page.keyboard.press("Tab");
  assert.equal(await page.evaluate(() => document.activeElement.querySelector(".box-title small")?.textContent), "rx");
  const drawnAt = await page.evaluate(() => parseFloat(document.activeElement.style.left));
  for (let i = 0; i < 3; i++) await page.keyboard.press("ArrowRight");
  const moved = await composition((c) => patch(c, "rx").position, "moved by keys");
  assert.deepEqual(patch(moved, "rx").position[0], Math.round(drawnAt + 30));
  assert.equal(moved.undo, before.undo + 1, "three presses, one edit");

  // Quick add: "/" then part of a name; each class shows its description.
  await page.keyboard.press("/");
  await page.keyboard.type("collector");
  const offered = await page.waitForFunction(() => [...document.querySelectorAll("#quick-list li")]
    .map((li) => li.textContent).filter((t) => t.includes("Collector")));
  assert.ok((await offered.jsonValue()).every((t) => t.length > 40), "a description beside the name");
  await page.keyboard.press("Enter");
  const added = await composition((c) => c.patches.length === 4, "added");
  const id = added.patches[3].id;
  assert.equal(added.patches[3].class, "MIDI_GroupPlugIn");
  await page.waitForFunction((i) => document.activeElement.querySelector(".box-title small")?.textContent === i, {}, id);
  await page.keyboard.press("Delete");
  await composition((c) => c.patches.length === 3, "removed by Delete");

  await page.click("#fit");
  const outside = await page.evaluate(() => {
    const view = document.querySelector("#editor").getBoundingClientRect();
    return [...document.querySelectorAll(".drawflow-node")].filter((n) => {
      const r = n.getBoundingClientRect();
      return r.left < view.left || r.top < view.top || r.right > view.right || r.bottom > view.bottom;
    }).length;
  });
  assert.equal(outside, 0);
  await screenshot(page, "stage-keyboard");
});

test("the page's keys play a note to the loopback, and let go of it however the finger leaves", async () => {
  const destinations = (await server.get("api/destinations")).destinations;
  assert.ok(destinations.includes("wexmidi Loopback"), JSON.stringify(destinations));
  await page.waitForFunction(() => document.querySelector("#play-to").value === "wexmidi Loopback");
  const note60 = (c) => patch(c, "notes").outputs.find((o) => o.key === "note60").value;
  const velocity60 = (c) => patch(c, "notes").outputs.find((o) => o.key === "velocity60").value;
  const key = await (await page.$('.key[data-note="60"]')).boundingBox();
  // Pressed with the mouse, lifted: the distributor and the monitor saw both.
  await page.mouse.move(key.x + key.width / 2, key.y + key.height - 10);
  await page.mouse.down();
  assert.equal(velocity60(await composition((c) => note60(c) === true, "note on")), 100);
  await page.mouse.up();
  await composition((c) => note60(c) === false, "note off");
  await page.waitForFunction(() => document.querySelector("#monitor").textContent
    .includes("NoteOff, ch.0, note.60"));
  // Held, then slid off the keyboard.
  await page.mouse.down();
  await composition((c) => note60(c) === true, "held");
  await page.mouse.move(key.x + key.width / 2, key.y - 200, { steps: 5 });
  await composition((c) => note60(c) === false, "let go when the pointer left");
  await page.mouse.up();
  // A computer key (K is the C above the lowest C) with its own velocity.
  await page.$eval("#play-velocity", (slider) => {
    slider.value = 64;
    slider.dispatchEvent(new Event("input"));
  });
  await page.keyboard.down("KeyK");
  assert.equal(velocity60(await composition((c) => note60(c) === true, "key down")), 64);
  // Read at arm's length: the note's light, its key lit in the strip, and a dark theme.
  await page.waitForSelector('[data-port="notes.note60"][data-light="on"]');
  await page.waitForSelector('.strip-key.lit[data-strip="notes.60"]');
  await page.click("#theme");
  assert.equal(await page.$eval("html", (html) => html.dataset.theme), "dark");
  await screenshot(page, "stage-playing");
  await page.keyboard.up("KeyK");
  await composition((c) => note60(c) === false, "key up");
  assert.equal(await page.$$eval(".key.down", (keys) => keys.length), 0);
  await page.waitForSelector('.strip-key[data-strip="notes.60"]:not(.lit)');
});

test("the monitor keeps still while paused and shows only what matches its filter", async () => {
  const shown = () => page.$$eval("#monitor li", (items) => items.map((i) => i.textContent));
  await page.type("#monitor-filter", "ctrl.7");
  await server.post({ send: [0xb00705, 0x903c40], to: ["wexmidi Loopback"] });
  await page.waitForFunction(() => document.querySelector("#monitor").textContent.includes("val.5"));
  assert.ok((await shown()).every((line) => line.includes("ctrl.7")), String(await shown()));
  await page.click("#monitor-pause");
  await server.post({ send: [0xb00706], to: ["wexmidi Loopback"] });
  await page.waitForFunction(() => document.querySelector("#monitor-pause").textContent === "Resume (1 new)");
  assert.ok(!(await shown()).some((line) => line.includes("val.6")));
  await page.click("#monitor-pause");
  await page.waitForFunction(() => document.querySelector("#monitor").textContent.includes("val.6"));
  await page.click("#monitor-filter", { count: 3 });
  await page.keyboard.press("Backspace");
  await page.waitForFunction(() => document.querySelector("#monitor").textContent.includes("note.60 (C4)"));
});

test("unsaved edits: the page asks before closing, Ctrl-C keeps them in a recovery file", async () => {
  await page.waitForSelector("#unsaved:not([hidden])");
  const asked = new Promise((resolve) => page.once("dialog", async (dialog) => {
    resolve(dialog.type());
    await dialog.dismiss();
  }));
  // A person has touched the page before a closing page may ask.
  await page.click("header strong");
  await page.close({ runBeforeUnload: true });
  assert.equal(await asked, "beforeunload");

  const errors = await server.interrupt();
  const recovery = `${server.file}.recovery`;
  assert.match(errors, /changes since the last save were not saved to .*; they are kept in .*\.recovery/);
  const kept = JSON.parse(readFileSync(recovery, "utf8"));
  assert.ok(kept.patches.find((p) => p.id === "cc").position, "the move is in it");
  const next = runWexmidiFully(["run", server.file, "--for", "0.1"]);
  assert.equal(next.status, 0, next.stderr);
  assert.ok(next.stderr.includes(`"${recovery}" holds changes that a stopped serve had not saved`),
    next.stderr);
  // Served again and stopped again with other changes: the first recovery
  // file is left as it was, the new changes go beside it.
  server = await startServer(null, [], "127.0.0.1:0", server.file);
  await server.post({ add: "MIDI_GroupPlugIn", id: "later" });
  const again = await server.interrupt();
  assert.ok(again.includes(`"${recovery}" holds changes`), again);
  assert.match(again, /they are kept in .*\.recovery-2\n/);
  assert.deepEqual(JSON.parse(readFileSync(recovery, "utf8")), kept);
  assert.ok(JSON.parse(readFileSync(`${recovery}-2`, "utf8")).patches.some((p) => p.id === "later"));
});
