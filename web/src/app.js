// The page of `wexmidi serve`: the composition as boxes and wires, live
// values, the selected patch's settings, a MIDI monitor. Everything it knows
// comes from the API; every change it makes is one command.
"use strict";

const $ = (id) => document.getElementById(id);
const MONITOR_LINES = 200;
const LOG_LINES = 200;

const state = {
  composition: { patches: [], connections: [] },
  nodeOf: new Map(), // patch id -> editor node id
  patchOf: new Map(), // editor node id -> patch
  selected: null, // patch id
  quiet: 0, // while > 0, editor events are ours, not the user's
  dropped: 0,
  logShown: 0, // the number of the last log line shown
  logRun: null, // which run of the server numbered it
};

const editor = new Drawflow($("editor"));
editor.reroute = false;
// The editor takes Delete (a selected wire or box) only while it has the
// keyboard: a click anywhere on the graph gives it the keyboard.
$("editor").tabIndex = 0;
$("editor").addEventListener("pointerdown", () => $("editor").focus({ preventScroll: true }));
editor.start();

// ---- talking to the server

async function api(path, options = {}) {
  const response = await fetch(path, options);
  const body = await response.json().catch(() => ({}));
  if (!response.ok) throw new Error(body.error || `${response.status} ${response.statusText}`);
  return body;
}

async function command(body) {
  try {
    return await api("api/commands", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(body),
    });
  } catch (error) {
    showError(error.message);
    throw error;
  }
}

function showError(text) {
  $("error-text").textContent = text;
  $("error").hidden = false;
}
$("error-close").onclick = () => ($("error").hidden = true);

// A line of the program's log: listed, and shown at the top until closed,
// since the log is where the MIDI services and the patches report trouble.
// Lines the user has not looked at yet are counted beside the heading.
function logLine(entry) {
  if (entry.run !== state.logRun) {  // a server started again numbers from 1
    state.logRun = entry.run;
    state.logShown = 0;
  }
  if (entry.number <= state.logShown) return;
  state.logShown = entry.number;
  const list = $("log");
  const item = document.createElement("li");
  item.className = "new";
  item.textContent = `${entry.time.toFixed(3)}  ${entry.line.trim()}`;
  list.append(item);
  while (list.children.length > LOG_LINES) list.firstChild.remove();
  list.parentElement.scrollTop = list.parentElement.scrollHeight;
  const unread = list.querySelectorAll("li.new").length;
  $("log-unread").textContent = `(${unread} new)`;
  showError(`Log: ${entry.line.trim()}`);
}
$("log-section").onclick = () => {
  for (const item of $("log").querySelectorAll("li.new")) item.classList.remove("new");
  $("log-unread").textContent = "";
};

// ---- the graph

const BLACK_KEYS = new Set([1, 3, 6, 8, 10]);
const NOTE_NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"];
const SYSTEM_NAMES = { 0xf6: "tune", 0xf8: "clock", 0xfa: "start", 0xfb: "continue", 0xfc: "stop",
  0xfe: "sensing", 0xff: "reset" };

function noteName(note) {
  return `${NOTE_NAMES[note % 12]}${Math.floor(note / 12) - 1}`;
}

// A message value, (status << 16) | (data1 << 8) | data2, in the words of
// `wexmidi send` (channels from 1): "on 1 C4 100", "cc 1 7 64".
function messageText(value) {
  const status = value >> 16, data1 = (value >> 8) & 0x7f, data2 = value & 0x7f;
  const channel = (status & 0x0f) + 1;
  switch (status >> 4) {
    case 0x8: return `off ${channel} ${noteName(data1)} ${data2}`;
    case 0x9: return `on ${channel} ${noteName(data1)} ${data2}`;
    case 0xa: return `at ${channel} ${noteName(data1)} ${data2}`;
    case 0xb: return `cc ${channel} ${data1} ${data2}`;
    case 0xc: return `pc ${channel} ${data1}`;
    case 0xd: return `cp ${channel} ${data1}`;
    case 0xe: return `pb ${channel} ${data1 | (data2 << 7)}`;
    default: return SYSTEM_NAMES[status] ?? `0x${value.toString(16)}`;
  }
}

// What a port shows: a message in words, an item of its menu by name, a
// switch as on or off, a sysex by its length; the exact value is its title.
function shortValue(value, port) {
  if (value === null || value === undefined) return "";
  if (typeof value === "boolean") return value ? "on" : "off";
  if (typeof value === "number") {
    const items = port?.attributes?.menuItems;
    if (items && Number.isInteger(value) && items[value] !== undefined) return items[value];
    if (Number.isInteger(value) && value >= 0x800000 && value <= 0xffffff) return messageText(value);
    return Number.isInteger(value) ? String(value) : value.toFixed(3);
  }
  if (typeof value === "string" && /^\d+(,\d+)+$/.test(value)) return `sysex ${value.split(",").length}`;
  if (Array.isArray(value)) {
    return value.length ? `[${value.length}] ${value.map((v) => shortValue(v)).join(", ")}` : "[]";
  }
  if (typeof value === "object") return JSON.stringify(value);
  return String(value);
}

function portOf(address) {
  const [id, key] = split(address);
  const patch = state.composition.patches.find((p) => p.id === id);
  return patch && [...patch.inputs, ...patch.outputs].find((p) => p.key === key);
}

function escapeHtml(text) {
  return String(text).replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);
}

const NOTE_DISTRIBUTOR = "MIDI_NoteDistributorPlugIn";
const NOTE_PORT = /^(note|velocity)(\d+)$/;

function portRow(patch, port, direction) {
  const address = `${patch.id}.${port.key}`;
  const value = `<span class="value" data-port="${escapeHtml(address)}">${escapeHtml(shortValue(port.value, port))}</span>`;
  const number = patch.class === NOTE_DISTRIBUTOR && port.key.match(NOTE_PORT)?.[2];
  const note = number ? ` <span class="port-note">${noteName(Number(number))}</span>` : "";
  const name = `<span class="name" title="${escapeHtml(port.key)} (${port.type})">${escapeHtml(port.name)}${note}</span>`;
  return direction === "in"
    ? `<span class="port in">${name}${value}</span>`
    : `<span class="port out">${value}${name}</span>`;
}

function boxHtml(patch) {
  return `<div class="box-title">${escapeHtml(patch.name)} <small>${escapeHtml(patch.id)}</small></div>
    <div class="box-ports"><div>${patch.inputs.map((p) => portRow(patch, p, "in")).join("")}</div>
    <div>${patch.outputs.map((p) => portRow(patch, p, "out")).join("")}</div></div>${noteStrip(patch)}`;
}

// The note distributor's notes as a strip of keys, whole octaves from the
// lowest note it has ports for to the highest: a note on lights its key to
// the height of its velocity.
function noteStrip(patch) {
  if (patch.class !== NOTE_DISTRIBUTOR) return "";
  const notes = patch.outputs.map((p) => p.key.match(/^note(\d+)$/)).filter(Boolean).map((m) => Number(m[1]));
  if (!notes.length) return "";
  const low = Math.min(...notes) - (Math.min(...notes) % 12);
  const high = Math.max(...notes) + 11 - (Math.max(...notes) % 12);
  let keys = "";
  for (let note = low; note <= high; note++) {
    const kind = `${BLACK_KEYS.has(note % 12) ? " black" : ""}${notes.includes(note) ? "" : " unused"}`;
    keys += `<div class="strip-key${kind}" data-strip="${escapeHtml(patch.id)}.${note}" title="${noteName(note)} (${note})"><div class="level"></div>${note % 12 === 0 ? `<small>${noteName(note)}</small>` : ""}</div>`;
  }
  return `<div class="note-strip">${keys}</div>`;
}

// What a rebuild must redraw: everything but values.
function shape(composition) {
  return JSON.stringify({
    patches: composition.patches.map((p) => [p.id, p.position, p.inputs.map((i) => i.key + i.name),
      p.outputs.map((o) => o.key + o.name)]),
    connections: composition.connections,
  });
}

function draw(composition) {
  state.quiet++;
  try {
    editor.clear();
    state.nodeOf.clear();
    state.patchOf.clear();
    const places = defaultPlaces(composition);
    composition.patches.forEach((patch) => {
      const [x, y] = patch.position ?? places.get(patch.id);
      const node = editor.addNode(patch.id, patch.inputs.length, patch.outputs.length, x, y,
        "patch", { id: patch.id }, boxHtml(patch));
      state.nodeOf.set(patch.id, node);
      state.patchOf.set(String(node), patch);
    });
    for (const { from, to } of composition.connections) {
      const [source, output] = split(from);
      const [target, input] = split(to);
      const sourcePatch = composition.patches.find((p) => p.id === source);
      const targetPatch = composition.patches.find((p) => p.id === target);
      if (!sourcePatch || !targetPatch) continue;
      editor.addConnection(state.nodeOf.get(source), state.nodeOf.get(target),
        `output_${sourcePatch.outputs.findIndex((p) => p.key === output) + 1}`,
        `input_${targetPatch.inputs.findIndex((p) => p.key === input) + 1}`);
    }
    const selected = state.nodeOf.get(state.selected);
    if (selected) document.getElementById(`node-${selected}`)?.classList.add("selected");
    state.composition = composition;
    composition.patches.forEach((p) => [...p.inputs, ...p.outputs].forEach((port) =>
      showValue(`${p.id}.${port.key}`, port.value)));
    reachableByKeyboard(composition);
  } finally {
    state.quiet--;
  }
}

// Where a patch without a saved place is drawn: in a column by how many
// patches lie before it on the longest path of wires, so that wires run
// left to right between neighbouring columns, and below the ones before it
// in its column.
function defaultPlaces(composition) {
  const depth = new Map();
  const depthOf = (id, seen = new Set()) => {
    if (depth.has(id)) return depth.get(id);
    if (seen.has(id)) return 0;
    seen.add(id);
    const sources = composition.connections.filter((c) => split(c.to)[0] === id)
      .map((c) => split(c.from)[0]);
    const d = sources.length ? 1 + Math.max(...sources.map((s) => depthOf(s, seen))) : 0;
    depth.set(id, d);
    return d;
  };
  const places = new Map();
  const columnBottom = [];
  for (const patch of composition.patches) {
    const column = depthOf(patch.id);
    const y = columnBottom[column] ?? 40;
    places.set(patch.id, [40 + column * 400, y]);
    const rows = Math.max(patch.inputs.length, patch.outputs.length);
    columnBottom[column] = y + 30 + rows * 20 + 40;
  }
  return places;
}

function split(address) {
  const dot = address.indexOf(".");
  return [address.slice(0, dot), address.slice(dot + 1)];
}

function portKey(nodeId, slot, direction) {
  const patch = state.patchOf.get(String(nodeId));
  const index = Number(slot.split("_")[1]) - 1;
  const port = (direction === "in" ? patch.inputs : patch.outputs)[index];
  return `${patch.id}.${port.key}`;
}

async function refresh() {
  const composition = await api("api/composition");
  $("unsaved").hidden = !composition.unsaved;
  showHistory(composition);
  if (shape(composition) !== shape(state.composition)) draw(composition);
  else composition.patches.forEach((p) => [...p.inputs, ...p.outputs].forEach((port) =>
    showValue(`${p.id}.${port.key}`, port.value)));
  state.composition = composition;
  fillAddMenu();
  // A first view on a small screen shows every box.
  if (!state.fitted) {
    state.fitted = true;
    if (window.innerWidth <= 800) zoomToFit();
  }
}

function showValue(address, value) {
  const port = portOf(address);
  const level = barLevel(value, port);
  for (const element of document.querySelectorAll(`[data-port="${CSS.escape(address)}"]`)) {
    element.textContent = shortValue(value, port);
    element.title = JSON.stringify(value);
    if (typeof value === "boolean") element.dataset.light = value ? "on" : "off";
    else delete element.dataset.light;
    element.classList.toggle("bar", level !== null);
    if (level !== null) element.style.setProperty("--level", level);
  }
  const [id, key] = split(address);
  const strip = key.match(NOTE_PORT);
  const stripKey = strip && document.querySelector(`[data-strip="${CSS.escape(`${id}.${strip[2]}`)}"]`);
  if (!stripKey) return;
  if (strip[1] === "note") stripKey.classList.toggle("lit", value === true);
  else if (typeof value === "number") stripKey.style.setProperty("--velocity", `${Math.round(value / 127 * 100)}%`);
}

// How full a number's bar is: MIDI's 0 to 127, or a fraction of 1; null for
// what has no bar (menus, messages, values out of those ranges).
function barLevel(value, port) {
  if (typeof value !== "number" || port?.attributes?.menuItems) return null;
  if (value >= 0 && value <= 1 && !Number.isInteger(value)) return value;
  if (value >= 0 && value <= 127) return value / 127;
  return null;
}

// ---- the user's edits in the graph

editor.on("nodeMoved", (node) => {
  const patch = state.patchOf.get(String(node));
  const data = editor.getNodeFromId(node);
  patch.position = [Math.round(data.pos_x), Math.round(data.pos_y)];
  command({ move: patch.id, position: patch.position }).catch(() => {});
});

editor.on("connectionCreated", async (c) => {
  if (state.quiet) return;
  const from = portKey(c.output_id, c.output_class, "out");
  const to = portKey(c.input_id, c.input_class, "in");
  try {
    await command({ connect: from, to });
  } catch {
    state.quiet++;
    editor.removeSingleConnection(c.output_id, c.input_id, c.output_class, c.input_class);
    state.quiet--;
  }
});

// A box removed takes its wires along: the editor reports each wire first,
// then the box, and the removal of the patch alone is the user's edit (one
// step to undo).
editor.on("connectionRemoved", (c) => {
  if (state.quiet) return;
  const to = portKey(c.input_id, c.input_class, "in");
  queueMicrotask(() => {
    const nodes = editor.drawflow.drawflow.Home.data;
    if (!nodes[c.input_id] || !nodes[c.output_id]) return;
    command({ disconnect: to }).catch(refresh);
  });
});

editor.on("nodeRemoved", (node) => {
  if (state.quiet) return;
  const patch = state.patchOf.get(String(node));
  if (state.selected === patch.id) select(null);
  command({ remove: patch.id }).catch(refresh);
});

editor.on("nodeSelected", (node) => select(state.patchOf.get(String(node))?.id ?? null));
editor.on("nodeUnselected", () => {
  if (!state.quiet) select(null);
});

// ---- the graph from the keyboard

// Tab goes from box to box and wire to wire; a focused box is selected,
// arrows move it (Shift: further), Delete removes it; Delete on a focused
// wire disconnects it.
function reachableByKeyboard(composition) {
  for (const [id, node] of state.nodeOf) {
    const element = document.getElementById(`node-${node}`);
    const patch = state.patchOf.get(String(node));
    element.tabIndex = 0;
    element.setAttribute("aria-label", `${patch.name} ${id}: arrows move it, Delete removes it`);
  }
  for (const path of document.querySelectorAll("#editor .connection .main-path")) {
    const wire = wireOf(path);
    path.setAttribute("tabindex", "0");
    path.setAttribute("aria-label", `wire from ${wire.from} to ${wire.to}: Delete disconnects it`);
  }
}

// What the editor says of a wire's path, from its classes: node_in_node-I
// node_out_node-O output_N input_M.
function wireOf(path) {
  const classes = path.parentElement.classList;
  const wire = { inputId: classes[1].slice(13), outputId: classes[2].slice(14),
    outputClass: classes[3], inputClass: classes[4] };
  wire.from = portKey(wire.outputId, wire.outputClass, "out");
  wire.to = portKey(wire.inputId, wire.inputClass, "in");
  return wire;
}

$("editor").addEventListener("focusin", (event) => {
  const element = event.target;
  if (!element.classList?.contains("drawflow-node")) return;
  if (editor.node_selected !== element) {
    editor.node_selected?.classList.remove("selected");
    editor.connection_selected?.classList.remove("selected");
    editor.connection_selected = null;
    editor.node_selected = element;
    editor.first_click = element;
    element.classList.add("selected");
  }
  const id = state.patchOf.get(element.id.slice(5))?.id;
  if (id && state.selected !== id) select(id);
});

const ARROWS = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] };
let keyMoveTimer = null;

// In the capture phase, before the editor's own Delete (which acts on what
// was clicked last, not on what has the keyboard).
$("editor").addEventListener("keydown", (event) => {
  const element = event.target;
  const remove = event.key === "Delete" || (event.key === "Backspace" && event.metaKey);
  if (element.classList?.contains("main-path") && remove) {
    event.stopPropagation();
    event.preventDefault();
    const wire = wireOf(element);
    editor.connection_selected = null;
    editor.removeSingleConnection(wire.outputId, wire.inputId, wire.outputClass, wire.inputClass);
    $("editor").focus({ preventScroll: true });
    return;
  }
  if (!element.classList?.contains("drawflow-node")) return;
  if (remove) {
    event.stopPropagation();
    event.preventDefault();
    editor.node_selected = null;
    editor.removeNodeId(element.id);
    $("editor").focus({ preventScroll: true });
  } else if (ARROWS[event.key] && !event.ctrlKey && !event.metaKey && !event.altKey) {
    event.preventDefault();
    const [dx, dy] = ARROWS[event.key].map((d) => d * (event.shiftKey ? 50 : 10));
    const node = editor.drawflow.drawflow.Home.data[element.id.slice(5)];
    node.pos_x += dx;
    node.pos_y += dy;
    element.style.left = `${node.pos_x}px`;
    element.style.top = `${node.pos_y}px`;
    editor.updateConnectionNodes(element.id);
    // A run of arrow presses is one move (one step to undo).
    clearTimeout(keyMoveTimer);
    keyMoveTimer = setTimeout(() => editor.dispatch("nodeMoved", element.id.slice(5)), 400);
  }
}, true);

// Zoom and scroll so that every box is in view (no closer than the usual size).
function zoomToFit() {
  const nodes = Object.values(editor.drawflow.drawflow.Home.data);
  if (!nodes.length) return;
  const boxes = nodes.map((node) => {
    const element = document.getElementById(`node-${node.id}`);
    return { left: node.pos_x, top: node.pos_y, right: node.pos_x + element.offsetWidth,
      bottom: node.pos_y + element.offsetHeight };
  });
  const left = Math.min(...boxes.map((b) => b.left)), top = Math.min(...boxes.map((b) => b.top));
  const right = Math.max(...boxes.map((b) => b.right)), bottom = Math.max(...boxes.map((b) => b.bottom));
  const margin = 30;
  const view = $("editor").getBoundingClientRect();
  const zoom = Math.max(editor.zoom_min, Math.min(1,
    (view.width - 2 * margin) / (right - left), (view.height - 2 * margin) / (bottom - top)));
  // The canvas scales about its middle.
  const middleX = editor.precanvas.clientWidth / 2, middleY = editor.precanvas.clientHeight / 2;
  editor.zoom = zoom;
  editor.zoom_last_value = zoom;
  editor.canvas_x = margin - left * zoom - middleX * (1 - zoom);
  editor.canvas_y = margin - top * zoom - middleY * (1 - zoom);
  editor.precanvas.style.transform =
    `translate(${editor.canvas_x}px, ${editor.canvas_y}px) scale(${zoom})`;
}
$("fit").onclick = zoomToFit;

// ---- the settings of the selected patch

async function select(id) {
  state.selected = id;
  const section = $("settings");
  if (!id) {
    section.innerHTML = `<h2>Settings</h2><p class="hint">Select a patch to see its settings.</p>`;
    return;
  }
  const patch = state.composition.patches.find((p) => p.id === id);
  let panel = null;
  try {
    // Opening a panel is an action (a receiver's panel listens to every
    // source), so it is a command; GET only reads a panel already open.
    panel = (
      await api("api/commands", {
        method: "POST",
        headers: { "Content-Type": "application/json" },
        body: JSON.stringify({ panel: id }),
      })
    ).panel;
  } catch {
    // A patch without a settings panel still has its inputs.
  }
  if (state.selected === id) renderSettings(patch, panel);
}

function renderSettings(patch, panel) {
  const section = $("settings");
  const scroll = section.scrollTop;
  section.replaceChildren();
  const title = document.createElement("h2");
  title.textContent = `${patch.name} (${patch.id})`;
  section.append(title);
  if (panel) renderPanel(section, patch.id, panel);
  renderInputs(section, patch);
  section.scrollTop = scroll;
}

function control(label, input) {
  const row = document.createElement("label");
  row.className = "control";
  row.append(input, document.createTextNode(label));
  return row;
}

function renderPanel(section, id, panel) {
  const notes = state.composition.patches.find((p) => p.id === id)?.class === NOTE_DISTRIBUTOR;
  const named = (number) => (notes ? `${number} ${noteName(Number(number))}` : String(number));
  for (const number of panel.numbers) {
    const input = Object.assign(document.createElement("input"),
      { type: "number", min: number.minimum, max: number.maximum, value: number.value });
    input.dataset.number = number.name;
    input.onchange = () => command({ panel: id, number: number.name, value: Number(input.value) })
      .catch(() => select(id));
    section.append(control(number.title, input));
  }
  for (const item of panel.switches) {
    const input = Object.assign(document.createElement("input"),
      { type: "checkbox", checked: item.state === "on" });
    input.dataset.switch = item.name;
    input.onchange = () => command({ panel: id, switch: item.name, state: input.checked ? "on" : "off" })
      .catch(() => select(id));
    section.append(control(item.title, input));
  }
  // What the switch above has learned so far, while it learns.
  if (panel.learned) {
    const learned = document.createElement("p");
    learned.className = "learned";
    learned.textContent = panel.learned.length
      ? `Learned so far: ${panel.learned.map(named).join(", ")}`
      : `Learning: play the ${notes ? "notes" : "controllers"} to learn.`;
    section.append(learned);
  }
  let tickable = true; // the API ticks the first table with tick boxes
  for (const table of panel.tables) {
    const element = document.createElement("table");
    element.dataset.table = table.name;
    const head = element.createTHead().insertRow();
    for (const column of table.columns) head.insertCell().outerHTML = `<th>${escapeHtml(column.title)}</th>`;
    const hasBoxes = table.columns.some((c) => c.kind === "checkbox");
    table.rows.forEach((cells, row) => {
      const line = element.insertRow();
      cells.forEach((cell, index) => {
        const column = table.columns[index];
        const td = line.insertCell();
        if (column.kind !== "checkbox") {
          td.textContent = column.identifier === "number" && cell !== null ? named(cell) : cell ?? "";
          return;
        }
        const box = Object.assign(document.createElement("input"),
          { type: "checkbox", checked: Number(cell) === 1, disabled: !tickable || !column.editable });
        box.dataset.row = row;
        box.onchange = () => command({ panel: id, [box.checked ? "tick" : "untick"]: row })
          .catch(() => select(id));
        td.append(box);
      });
    });
    if (hasBoxes) tickable = false;
    section.append(element);
  }
}

function renderInputs(section, patch) {
  const open = patch.inputs.filter((p) => !p.connected && ["number", "index", "boolean", "string"].includes(p.type));
  if (!open.length) return;
  const heading = document.createElement("h2");
  heading.textContent = "Inputs";
  section.append(heading);
  for (const port of open) {
    const input = document.createElement("input");
    if (port.type === "boolean") Object.assign(input, { type: "checkbox", checked: !!port.value });
    else if (port.type === "string") Object.assign(input, { type: "text", value: port.value ?? "" });
    else Object.assign(input, { type: "number", value: port.value ?? 0, min: port.type === "index" ? 0 : undefined });
    input.dataset.input = port.key;
    input.onchange = () => {
      const value = port.type === "boolean" ? input.checked
        : port.type === "string" ? input.value : Number(input.value);
      command({ set: `${patch.id}.${port.key}`, value }).catch(() => select(patch.id));
    };
    section.append(control(port.name, input));
  }
}

// ---- the top bar

// The theme: the system's (auto), or dark or light as chosen here.
const THEMES = ["auto", "dark", "light"];
function applyTheme(theme) {
  if (theme === "auto") delete document.documentElement.dataset.theme;
  else document.documentElement.dataset.theme = theme;
  $("theme").textContent = `Theme: ${theme}`;
  localStorage.setItem("wexmidi-theme", theme);
}
$("theme").onclick = () => {
  const now = localStorage.getItem("wexmidi-theme") ?? "auto";
  applyTheme(THEMES[(THEMES.indexOf(now) + 1) % THEMES.length]);
};
applyTheme(THEMES.includes(localStorage.getItem("wexmidi-theme")) ? localStorage.getItem("wexmidi-theme") : "auto");

async function fillAddMenu() {
  const menu = $("add-class");
  if (menu.options.length) return;
  state.classes = await api("api/classes");
  for (const item of state.classes) menu.add(new Option(item.name, item.class));
}

// Quick add: typing part of a class's name (or of its description) lists
// the classes that match, each with its description; Enter adds the one
// marked, arrows move the mark, Escape closes. "/" gets there from anywhere.
const quick = { matches: [], marked: 0 };

function showQuickList() {
  const text = $("quick-add").value.trim().toLowerCase();
  const list = $("quick-list");
  quick.matches = !text ? [] : (state.classes ?? []).filter((c) =>
    [c.name, c.class, c.description].some((t) => t?.toLowerCase().includes(text)));
  quick.marked = Math.min(quick.marked, Math.max(quick.matches.length - 1, 0));
  list.replaceChildren(...quick.matches.map((c, index) => {
    const item = document.createElement("li");
    item.setAttribute("role", "option");
    item.setAttribute("aria-selected", String(index === quick.marked));
    const name = document.createElement("strong");
    name.textContent = c.name;
    const description = document.createElement("small");
    description.textContent = c.description;
    item.append(name, description);
    item.onpointerdown = (event) => {
      event.preventDefault();
      addQuick(c);
    };
    return item;
  }));
  list.hidden = !quick.matches.length;
}

async function addQuick(chosen) {
  $("quick-add").value = "";
  showQuickList();
  $("add-class").value = chosen.class;
  $("add").click();
}

$("quick-add").addEventListener("input", () => {
  quick.marked = 0;
  showQuickList();
});
$("quick-add").addEventListener("keydown", (event) => {
  if (event.key === "ArrowDown" || event.key === "ArrowUp") {
    event.preventDefault();
    const count = quick.matches.length;
    if (count) quick.marked = (quick.marked + (event.key === "ArrowDown" ? 1 : count - 1)) % count;
    showQuickList();
  } else if (event.key === "Enter" && quick.matches.length) {
    event.preventDefault();
    addQuick(quick.matches[quick.marked]);
  } else if (event.key === "Escape") {
    $("quick-add").value = "";
    showQuickList();
    $("quick-add").blur();
  }
});
$("quick-add").addEventListener("blur", () => ($("quick-list").hidden = true));
$("quick-add").addEventListener("focus", showQuickList);
document.addEventListener("keydown", (event) => {
  if (event.key !== "/" || typing(event) || event.target.tagName === "SELECT") return;
  event.preventDefault();
  $("quick-add").focus();
});

// A new patch goes near the top left of what is in view, stepped down and
// right past every box already there, so that none lands on another.
$("add").onclick = async () => {
  const rect = editor.precanvas.getBoundingClientRect();
  let x = Math.round((40 - rect.x) / editor.zoom + 100);
  let y = Math.round((40 - rect.y) / editor.zoom + 100);
  const taken = Object.values(editor.drawflow.drawflow.Home.data);
  while (taken.some((node) => Math.abs(node.pos_x - x) < 30 && Math.abs(node.pos_y - y) < 30)) {
    x += 30;
    y += 30;
  }
  const answer = await command({ add: $("add-class").value, position: [x, y] }).catch(() => null);
  // The new box has the keyboard once it is drawn.
  if (answer) await refresh().then(() => document.getElementById(`node-${state.nodeOf.get(answer.added)}`)?.focus());
};

$("save").onclick = () => command({ save: true }).catch(() => {});

// Undo and redo are the server's: they take back edits whoever made them.
// The selected patch's settings are drawn again, since an input set back
// sends no panel of its own.
async function undoOrRedo(step) {
  await command({ [step]: true }).catch(() => {});
  if (state.selected) select(state.selected);
}
$("undo").onclick = () => undoOrRedo("undo");
$("redo").onclick = () => undoOrRedo("redo");

function showHistory(s) {
  if (s.undo === undefined) return;
  $("undo").disabled = !s.undo;
  $("redo").disabled = !s.redo;
}

// Text fields keep their own Ctrl+Z.
function typing(event) {
  const target = event.target;
  return target.isContentEditable || target.tagName === "TEXTAREA" ||
    (target.tagName === "INPUT" && !["checkbox", "range", "button"].includes(target.type));
}

document.addEventListener("keydown", (event) => {
  if (!(event.ctrlKey || event.metaKey)) return;
  const key = event.key.toLowerCase();
  if (key === "s") {
    event.preventDefault();
    $("save").click();
  } else if ((key === "z" || key === "y") && !typing(event)) {
    event.preventDefault();
    undoOrRedo(key === "y" || event.shiftKey ? "redo" : "undo");
  }
});

// Closing or reloading the page with changes the file does not hold asks
// first (the server keeps them in a recovery file only when it is stopped).
window.addEventListener("beforeunload", (event) => {
  if ($("unsaved").hidden) return;
  event.preventDefault();
  event.returnValue = "";
});

// ---- playing from the page

// Two octaves of keys and a few controller faders that send to a chosen
// destination through the API. Messages go out one request at a time, in
// order (a note off never overtakes its note on), gathered while one is on
// its way; a fader's value waiting to go is replaced by a newer one.
const play = {
  base: 48, // the lowest key: C3
  sounding: new Map(), // what holds a note (a pointer, a computer key) -> {note, channel, to}
  outbox: [], // {value, to, cc}
  sending: false,
};
const KEY_CODES = ["KeyA", "KeyW", "KeyS", "KeyE", "KeyD", "KeyF", "KeyT", "KeyG", "KeyY", "KeyH",
  "KeyU", "KeyJ", "KeyK", "KeyO", "KeyL", "KeyP", "Semicolon"];
const FADERS = [1, 7, 10, 74];

function queueMidi(value, cc) {
  const to = $("play-to").value;
  if (!to) {
    showError("There is no MIDI destination to play to.");
    return;
  }
  const waiting = cc !== undefined && play.outbox.find((m) => m.cc === cc && m.to === to);
  if (waiting) waiting.value = value;
  else play.outbox.push({ value, to, cc });
  flushMidi();
}

async function flushMidi() {
  if (play.sending || !play.outbox.length) return;
  play.sending = true;
  const to = play.outbox[0].to;
  let count = play.outbox.findIndex((m) => m.to !== to);
  if (count < 0) count = play.outbox.length;
  const batch = play.outbox.splice(0, count).map((m) => m.value);
  try {
    // keepalive: the note offs of a page being closed still go.
    const response = await fetch("api/commands", {
      method: "POST", keepalive: true, headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ send: batch, to: [to] }),
    });
    if (!response.ok) showError((await response.json().catch(() => ({}))).error ?? response.statusText);
  } catch (error) {
    showError(error.message);
  } finally {
    play.sending = false;
    flushMidi();
  }
}

function channel() {
  return Number($("play-channel").value) - 1;
}

function keyElement(note) {
  return $("keyboard").querySelector(`[data-note="${note}"]`);
}

function noteOn(holder, note) {
  noteOff(holder);
  const velocity = Number($("play-velocity").value);
  const held = { note, channel: channel(), to: $("play-to").value };
  play.sounding.set(holder, held);
  queueMidi(((0x90 | held.channel) << 16) | (note << 8) | velocity);
  keyElement(note)?.classList.add("down");
}

function noteOff(holder) {
  const held = play.sounding.get(holder);
  if (!held) return;
  play.sounding.delete(holder);
  if (held.to) play.outbox.push({ value: ((0x80 | held.channel) << 16) | (held.note << 8) | 64, to: held.to });
  flushMidi();
  if (![...play.sounding.values()].some((h) => h.note === held.note)) {
    keyElement(held.note)?.classList.remove("down");
  }
}

function releaseAll() {
  for (const holder of [...play.sounding.keys()]) noteOff(holder);
}

function drawKeyboard() {
  const keyboard = $("keyboard");
  keyboard.replaceChildren();
  const whites = [];
  for (let note = play.base; note <= play.base + 24; note++) {
    const key = document.createElement("div");
    key.dataset.note = note;
    const black = BLACK_KEYS.has(note % 12);
    key.className = black ? "key black" : "key white";
    key.title = `${noteName(note)} (${note})`;
    const letter = KEY_CODES[note - play.base];
    const label = document.createElement("span");
    label.textContent = `${note % 12 === 0 ? noteName(note) : ""}${letter ? `\n${letter.replace("Key", "").replace("Semicolon", ";")}` : ""}`;
    key.append(label);
    if (black) key.style.left = `calc(${whites.length} * var(--white) - var(--white) * 0.3)`;
    else whites.push(key);
    keyboard.append(key);
  }
  keyboard.style.setProperty("--whites", whites.length);
  $("octave").textContent = `${noteName(play.base)}–${noteName(play.base + 24)}`;
  for (const held of play.sounding.values()) keyElement(held.note)?.classList.add("down");
}

// A pointer (mouse, pen, finger) holds the key it is on: pressed, it plays;
// slid onto another key, that one; lifted, left, or taken by the browser,
// it lets go.
function noteAt(event) {
  const key = event.target.closest?.(".key");
  return key ? Number(key.dataset.note) : null;
}
$("keyboard").addEventListener("pointerdown", (event) => {
  const note = noteAt(event);
  if (note === null) return;
  event.preventDefault();
  // A finger is held by the key it touched first; let go, it slides on.
  if (event.target.hasPointerCapture?.(event.pointerId)) event.target.releasePointerCapture(event.pointerId);
  noteOn(`pointer${event.pointerId}`, note);
});
$("keyboard").addEventListener("pointerover", (event) => {
  const holder = `pointer${event.pointerId}`;
  const note = noteAt(event);
  if (!play.sounding.has(holder) || note === null || play.sounding.get(holder).note === note) return;
  noteOn(holder, note);
});
for (const name of ["pointerup", "pointercancel", "pointerleave"]) {
  $("keyboard").addEventListener(name, (event) => noteOff(`pointer${event.pointerId}`));
}
$("keyboard").addEventListener("contextmenu", (event) => event.preventDefault());

// Computer keys play while no field has the keyboard; Z and X change octave.
document.addEventListener("keydown", (event) => {
  if (event.ctrlKey || event.metaKey || event.altKey || typing(event) ||
    event.target.tagName === "SELECT") return;
  const index = KEY_CODES.indexOf(event.code);
  if (index >= 0) {
    event.preventDefault();
    if (!event.repeat) noteOn(`key${event.code}`, play.base + index);
  } else if (event.code === "KeyZ" || event.code === "KeyX") {
    moveOctave(event.code === "KeyZ" ? -12 : 12);
  }
});
document.addEventListener("keyup", (event) => noteOff(`key${event.code}`));

function moveOctave(step) {
  const base = play.base + step;
  if (base < 0 || base + 24 > 127) return;
  releaseAll();
  play.base = base;
  drawKeyboard();
}
$("octave-down").onclick = () => moveOctave(-12);
$("octave-up").onclick = () => moveOctave(12);

// Nothing is left sounding when the page loses the keyboard or the view.
window.addEventListener("blur", releaseAll);
window.addEventListener("pagehide", releaseAll);
document.addEventListener("visibilitychange", () => {
  if (document.hidden) releaseAll();
});

function drawFaders() {
  for (const [index, controller] of FADERS.entries()) {
    const row = document.createElement("label");
    row.className = "fader";
    const number = Object.assign(document.createElement("input"),
      { type: "number", min: 0, max: 127, value: controller, title: "Controller number" });
    const slider = Object.assign(document.createElement("input"),
      { type: "range", min: 0, max: 127, value: 0 });
    slider.dataset.fader = index;
    const shown = document.createElement("output");
    shown.textContent = "0";
    slider.oninput = () => {
      shown.textContent = slider.value;
      const cc = Number(number.value) & 0x7f;
      queueMidi(((0xb0 | channel()) << 16) | (cc << 8) | Number(slider.value),
        `${channel()}.${cc}`);
    };
    row.append("CC", number, slider, shown);
    $("faders").append(row);
  }
}

async function fillDestinations() {
  const select = $("play-to");
  const chosen = select.value || localStorage.getItem("wexmidi-play-to");
  const { destinations } = await api("api/destinations");
  select.replaceChildren(...destinations.map((name) => new Option(name, name)));
  select.value = destinations.includes(chosen) ? chosen
    : destinations.find((name) => name.includes("Loopback")) ?? destinations[0] ?? "";
}
$("play-to").addEventListener("pointerdown", () => fillDestinations().catch(() => {}));
$("play-to").addEventListener("focus", () => fillDestinations().catch(() => {}));
$("play-to").onchange = () => {
  releaseAll();
  localStorage.setItem("wexmidi-play-to", $("play-to").value);
};
$("play-channel").onchange = releaseAll;
for (let c = 1; c <= 16; c++) $("play-channel").add(new Option(String(c), String(c)));
$("play-velocity").oninput = () => ($("play-velocity-value").textContent = $("play-velocity").value);
drawKeyboard();
drawFaders();

// ---- the event stream

// Lines that come faster than the screen is drawn (a feedback loop, a
// controller swept) are put on it once a frame, only the last of them. The
// latest lines are kept, so that a filter typed or a pause ended shows them.
const monitor = { kept: [], pending: 0, paused: false, waiting: 0, filter: "" };

function monitorLine(line) {
  const text = (line.text ?? JSON.stringify(line.value))
    .replace(/note\.(\d+)/, (whole, note) => `${whole} (${noteName(Number(note))})`);
  monitor.kept.push(`${line.time.toFixed(3)}  ${line.source}  ${text}`);
  if (monitor.kept.length > MONITOR_LINES) monitor.kept.splice(0, monitor.kept.length - MONITOR_LINES);
  if (monitor.paused) {
    monitor.waiting++;
    $("monitor-pause").textContent = `Resume (${monitor.waiting} new)`;
    return;
  }
  monitor.pending = Math.min(monitor.pending + 1, MONITOR_LINES);
  if (monitor.pending === 1) requestAnimationFrame(showMonitorLines);
}

function shownInMonitor(text) {
  return !monitor.filter || text.toLowerCase().includes(monitor.filter);
}

function showMonitorLines() {
  const list = $("monitor");
  const items = monitor.kept.slice(-monitor.pending).filter(shownInMonitor).map((text) => {
    const item = document.createElement("li");
    item.textContent = text;
    return item;
  });
  monitor.pending = 0;
  list.append(...items);
  const extra = list.children.length - MONITOR_LINES;
  for (let i = 0; i < extra; i++) list.firstChild.remove();
  list.parentElement.scrollTop = list.parentElement.scrollHeight;
}

function redrawMonitor() {
  $("monitor").replaceChildren();
  monitor.pending = monitor.kept.length;
  showMonitorLines();
}

$("monitor-pause").onclick = () => {
  monitor.paused = !monitor.paused;
  monitor.waiting = 0;
  $("monitor-pause").textContent = monitor.paused ? "Resume" : "Pause";
  $("monitor-pause").setAttribute("aria-pressed", String(monitor.paused));
  if (!monitor.paused) redrawMonitor();
};
$("monitor-filter").addEventListener("input", () => {
  monitor.filter = $("monitor-filter").value.trim().toLowerCase();
  if (!monitor.paused) redrawMonitor();
});

// The browser retries a dropped stream by itself, but gives up for good on
// an answer other than 200 (a server that is stopping answers 503, one that
// has as many pages as it takes answers 503 too): then the page tries again.
let retryDelay = 1000;
function listen() {
  const events = new EventSource("api/events");
  const on = (name, handle) => events.addEventListener(name, (e) => handle(JSON.parse(e.data)));
  events.onopen = () => {
    retryDelay = 1000;
    $("connection").textContent = "connected";
    refresh().catch((error) => showError(error.message));
    fillDestinations().catch(() => {});
  };
  events.onerror = () => {
    $("connection").textContent = "reconnecting…";
    if (events.readyState !== EventSource.CLOSED) return;
    setTimeout(listen, retryDelay);
    retryDelay = Math.min(retryDelay * 2, 8000);
  };
  on("values", (values) => {
    for (const [address, value] of Object.entries(values)) showValue(address, value);
  });
  on("composition", () => refresh().catch((error) => showError(error.message)));
  on("panel", (panel) => {
    if (panel.id !== state.selected) return;
    const patch = state.composition.patches.find((p) => p.id === panel.id);
    if (patch) renderSettings(patch, panel);
  });
  on("state", (s) => {
    $("unsaved").hidden = !s.unsaved;
    showHistory(s);
  });
  on("midi", monitorLine);
  on("log", logLine);
  on("failure", (e) => showError(e.error));
  on("dropped", (d) => {
    state.dropped += d.count;
    $("dropped").textContent = `(${state.dropped} dropped)`;
  });
}

listen();
// The graph is shown even while the stream is refused.
refresh().catch((error) => showError(error.message));
