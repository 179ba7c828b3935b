// The README's example for JavaScript runs as written against the installed package, and
// prints what its comments say.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";

import { consumer, root } from "./package.mjs";

test("the README's example prints what it shows", () => {
  const readme = readFileSync(join(root, "README.md"), "utf8");
  const section = readme.split("\n## JavaScript and the browser\n")[1].split("\n## ")[0];
  const example = /```js\n([\s\S]*?)```/.exec(section)[1];
  const expected = [...example.matchAll(/\/\/ -> (.*)$/gm)].map((m) => m[1]);
  assert.ok(expected.length >= 3);
  writeFileSync(join(consumer, "readme.mjs"), example);
  const printed = execFileSync("node", ["readme.mjs"], { cwd: consumer, encoding: "utf8" });
  assert.deepEqual(printed.trimEnd().split("\n"), expected);
});
