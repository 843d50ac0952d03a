// Starts `wexmidi --midi embedded serve` on a copy of an example and a
// headless chromium on its page; helpers for what the tests do there.
import { spawn, spawnSync, execFileSync } from "node:child_process";
import { copyFileSync, mkdtempSync, mkdirSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import { createInterface } from "node:readline";
import puppeteer from "puppeteer-core";

const here = dirname(fileURLToPath(import.meta.url));
export const sourceDir = join(here, "..", "..");
export const wexmidi = process.env.WEXMIDI ?? join(sourceDir, "build", "wexmidi");
const chromium = process.env.CHROMIUM ?? "/usr/bin/chromium";
export const screenshots = process.env.WEX_SCREENSHOTS ?? join(sourceDir, "build", "screenshots");

// `served`: a file to serve as it is, instead of a copy of an example.
export async function startServer(example, options = [], listen = "127.0.0.1:0", served = null) {
  const folder = served ? dirname(served) : mkdtempSync(join(tmpdir(), "wexmidi-page-"));
  const file = served ?? join(folder, "composition.wexcomp.json");
  if (example) copyFileSync(join(sourceDir, "examples", example), file);
  const web = process.env.WEX_WEB ? ["--web", process.env.WEX_WEB] : [];
  const child = spawn(wexmidi, ["--midi", "embedded", "serve", file, "--listen", listen, ...web,
    ...options],
    { stdio: ["ignore", "pipe", "pipe"] });
  let errors = "";
  child.stderr.on("data", (data) => (errors += data));
  const url = await new Promise((resolve, reject) => {
    const lines = createInterface({ input: child.stdout });
    lines.once("line", resolve);
    child.once("exit", (code) => reject(new Error(`wexmidi serve ended (${code}): ${errors}`)));
  });
  const server = {
    url, file, folder, child,
    errors: () => errors,
    async post(command) {
      const response = await fetch(new URL("api/commands", url), {
        method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(command),
      });
      const body = await response.json();
      if (!response.ok) throw new Error(`${JSON.stringify(command)}: ${body.error}`);
      return body;
    },
    async get(path) {
      return (await fetch(new URL(path, url))).json();
    },
    // Stopped as with Ctrl-C; its folder is kept. Resolves to its standard error.
    async interrupt() {
      child.kill("SIGINT");
      await new Promise((resolve) => (child.exitCode !== null ? resolve() : child.once("exit", resolve)));
      return errors;
    },
    async stop() {
      child.kill("SIGTERM");
      await new Promise((resolve) => (child.exitCode !== null ? resolve() : child.once("exit", resolve)));
      rmSync(folder, { recursive: true, force: true });
    },
  };
  return server;
}

export async function openPage(url) {
  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"],
  });
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 720 });
  const problems = [];
  page.on("pageerror", (error) => problems.push(error.message));
  await page.goto(url);
  await page.waitForSelector(".drawflow-node");
  return { browser, page, problems };
}

export async function screenshot(page, name) {
  mkdirSync(screenshots, { recursive: true });
  const path = join(screenshots, `${name}.png`);
  await page.screenshot({ path });
  return path;
}

// The text the page shows beside a port.
export async function shownValue(page, address) {
  return page.$eval(`[data-port="${address}"]`, (element) => element.textContent);
}

export async function waitForValue(page, address, text) {
  await page.waitForFunction(
    (a, t) => document.querySelector(`[data-port="${a}"]`)?.textContent === t,
    { timeout: 5000 }, address, text);
}

// Clicks a patch's box on its title, which selects it.
export async function selectPatch(page, id) {
  const title = await page.waitForFunction((i) => [...document.querySelectorAll(".box-title")]
    .find((t) => t.querySelector("small")?.textContent === i), {}, id);
  await title.asElement().click();
  await page.waitForFunction((i) => document.querySelector("#settings h2")?.textContent.includes(`(${i})`),
    {}, id);
}

export function runWexmidi(args) {
  return execFileSync(wexmidi, ["--midi", "embedded", ...args], { encoding: "utf8" });
}

// Standard error too.
export function runWexmidiFully(args) {
  return spawnSync(wexmidi, ["--midi", "embedded", ...args], { encoding: "utf8" });
}
