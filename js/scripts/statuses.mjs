// Writes statuses.js, the package's table of the C interface's statuses and sizes, from
// include/tavik.h, so that the names in JavaScript are the header's and never drift from it.
// Usage: node statuses.mjs include/tavik.h > statuses.js
import { readFileSync } from "node:fs";

const header = readFileSync(process.argv[2], "utf8");
const define = (name) => {
  const m = header.match(new RegExp(`#define ${name} (\\d+)`));
  if (!m) { throw new Error(`${process.argv[2]}: no #define ${name}`); }
  return Number(m[1]);
};
const names = {};
for (const [, name, value] of header.matchAll(/^\s*(TAVIK_(?:OK|E_[A-Z0-9_]+)) = (\d+),?/gm)) {
  names[Number(value)] = name;
}
if (names[0] !== "TAVIK_OK" || !Object.values(names).includes("TAVIK_E_CHECK_FAILED")) {
  throw new Error(`${process.argv[2]}: the status enum was not found`);
}
const ambiguous = Object.keys(names).find((k) => names[k] === "TAVIK_E_AMBIGUOUS");
const settings = Object.keys(names).find((k) => names[k] === "TAVIK_E_SETTINGS");
const settingsEnd = Object.keys(names).find((k) => names[k] === "TAVIK_E_SETTINGS_END");
process.stdout.write(`// Generated from include/tavik.h by js/scripts/statuses.mjs: do not edit.
export const MAX_WORD_LEN = ${define("TAVIK_MAX_WORD_LEN")};
export const ID_LEN = ${define("TAVIK_ID_LEN")};
const NAMES = ${JSON.stringify(names, null, 1).replace(/\n */g, " ")};

// statusName is the C name of a status: one name for each number, and one for each range
// (recover's N candidates, the settings texts' failures).
export function statusName(code) {
  if (code in NAMES && Number(code) !== ${settingsEnd}) { return NAMES[code]; }
  if (code >= ${Number(ambiguous) + 2} && code < ${Number(ambiguous) + 100}) { return "TAVIK_E_AMBIGUOUS"; }
  if (code >= ${settings} && code <= ${settingsEnd}) { return "TAVIK_E_SETTINGS"; }
  return "TAVIK_E_UNKNOWN";
}
`);
