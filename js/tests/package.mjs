// The tests run against the packed package (build/js/tavik-<version>.tgz, from
// tools/build_js.sh), installed with npm into an empty folder as a user installs it, and
// imported by its name: never against js/src.
import { execFileSync } from "node:child_process";
import { mkdtempSync, readdirSync, rmSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

export const root = fileURLToPath(new URL("../../", import.meta.url));

function install() {
  const tarballs = readdirSync(join(root, "build/js")).filter((f) => /^tavik-.*\.tgz$/.test(f));
  if (tarballs.length !== 1) {
    throw new Error(`build/js holds ${tarballs.length} packed packages: run bash tools/build_js.sh`);
  }
  const dir = mkdtempSync(join(root, "build/js/consumer-"));
  process.on("exit", () => rmSync(dir, { recursive: true, force: true }));
  writeFileSync(join(dir, "package.json"), '{"private": true, "type": "module"}\n');
  execFileSync("npm", ["install", "--offline", "--no-audit", "--no-fund", "--silent",
                       "--cache", join(root, "build/js/npm-cache"),
                       join(root, "build/js", tarballs[0])], { cwd: dir, stdio: "inherit" });
  // A module of the consumer's own, so that "tavik" resolves through the package's exports.
  writeFileSync(join(dir, "entry.js"), 'export * from "tavik";\n');
  return join(dir, "entry.js");
}

const entry = install();
// consumer is the folder the package is installed in, as an application of its own.
export const consumer = join(entry, "..");
export const tavik = await import(pathToFileURL(entry).href);

export const hex = (text) => Uint8Array.from(text.match(/../g) ?? [], (b) => parseInt(b, 16));
export const toHex = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join("");
