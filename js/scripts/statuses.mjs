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
// A number may have two names, the first one for a range that starts there
// (TAVIK_E_SETTINGS = TAVIK_E_SETTINGS_NOT_ASCII = 200): the later, particular one is kept.
const names = {};
const values = {};
for (const [, name, value] of header.matchAll(/^\s*(TAVIK_(?:OK|E_[A-Z0-9_]+)) = (\d+),?/gm)) {
  names[Number(value)] = name;
  values[name] = Number(value);
}
for (const name of ["TAVIK_OK", "TAVIK_E_CHECK_FAILED", "TAVIK_E_AMBIGUOUS", "TAVIK_E_SETTINGS",
                    "TAVIK_E_SETTINGS_END"]) {
  if (!(name in values)) { throw new Error(`${process.argv[2]}: no status ${name}`); }
}
const ambiguous = values.TAVIK_E_AMBIGUOUS;
const settings = values.TAVIK_E_SETTINGS;
const field = values.TAVIK_E_SETTINGS_FIELD ?? values.TAVIK_E_SETTINGS_END;
const end = values.TAVIK_E_SETTINGS_END;
delete names[end];
process.stdout.write(`// Generated from include/tavik.h by js/scripts/statuses.mjs: do not edit.
export const MAX_WORD_LEN = ${define("TAVIK_MAX_WORD_LEN")};
export const ID_LEN = ${define("TAVIK_ID_LEN")};
export const MAX_SETTINGS_LEN = ${define("TAVIK_MAX_SETTINGS_LEN")};
const NAMES = ${JSON.stringify(names, null, 1).replace(/\n */g, " ")};

// statusName is the C name of a status: its own name, or the name of its range (recover's N
// candidates, the failures of one settings field, the other settings failures).
export function statusName(code) {
  if (Object.hasOwn(NAMES, code)) { return NAMES[code]; }
  if (code >= ${ambiguous + 2} && code < ${ambiguous + 100}) { return "TAVIK_E_AMBIGUOUS"; }
  if (code >= ${field} && code <= ${end}) { return "TAVIK_E_SETTINGS_FIELD"; }
  if (code >= ${settings} && code <= ${end}) { return "TAVIK_E_SETTINGS"; }
  return "TAVIK_E_UNKNOWN";
}
`);
