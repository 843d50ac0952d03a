// Builds the page into a folder (the first argument, default "dist"): our
// sources and the node editor's files from node_modules, nothing else.
import { cpSync, mkdirSync, rmSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const out = process.argv[2] ?? join(here, "dist");
rmSync(out, { recursive: true, force: true });
mkdirSync(join(out, "assets"), { recursive: true });
cpSync(join(here, "src", "index.html"), join(out, "index.html"));
for (const file of ["app.js", "style.css"]) {
  cpSync(join(here, "src", file), join(out, "assets", file));
}
const drawflow = join(here, "node_modules", "drawflow", "dist");
cpSync(join(drawflow, "drawflow.min.js"), join(out, "assets", "drawflow.min.js"));
cpSync(join(drawflow, "drawflow.min.css"), join(out, "assets", "drawflow.min.css"));
console.log(`page built in ${out}`);
