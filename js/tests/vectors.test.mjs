// Every known answer of tests/vectors, replayed through the packed package: each code word
// written and read from its settings text and keys, by the single calls and by the bulk calls
// (the SIMD lanes), its typo recovered; and every listed failure, with the Python message.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";

import { hex, root, tavik, toHex } from "./package.mjs";

const { createCodec, TavikError } = tavik;
const vectors = join(root, "tests/vectors");

const known = readFileSync(join(vectors, "codewords.jsonl"), "utf8").split("\n")
  .map((text, i) => ({ line: i + 1, text })).filter(({ text }) => text.trim() !== "")
  .map(({ line, text }) => ({ line, ...JSON.parse(text) })).filter((entry) => !entry.comment);

const keyOf = (text) => (text == null ? undefined : hex(text));

// The 16 bytes decode returns: the input's first ceil(bits/8) bytes, or its last ones with a
// modulus, right-aligned and cut to the width (the modulus's bit length).
function expectedId(settings, input) {
  const modulus = / modulus=(\d+)/.exec(settings);
  const bits = modulus ? BigInt(modulus[1]).toString(2).length : Number(/ bits=(\d+)/.exec(settings)[1]);
  const numBytes = Math.ceil(bits / 8);
  const taken = modulus ? input.subarray(Math.max(0, input.length - numBytes))
                        : input.subarray(0, numBytes);
  const block = new Uint8Array(16);
  block.set(taken, 16 - (modulus ? taken.length : numBytes));
  const value = BigInt("0x" + (toHex(block) || "0")) & ((1n << BigInt(bits)) - 1n);
  return value.toString(16).padStart(32, "0");
}

test("the known answers are all there, each with its settings text", () => {
  assert.ok(known.length >= 500, `${known.length} known words`);
  for (const entry of known) { assert.equal(typeof entry.settings, "string", `line ${entry.line}`); }
});

// One codec for each settings text and keys, with its lines.
const groups = new Map();
for (const entry of known) {
  const id = JSON.stringify([entry.settings, entry.key, entry.cipher_key ?? null]);
  if (!groups.has(id)) { groups.set(id, []); }
  groups.get(id).push(entry);
}

test("every known word: encode, decode, recover and the typo, one call at a time", async () => {
  for (const entries of groups.values()) {
    const { settings, key, cipher_key: cipherKey } = entries[0];
    const codec = await createCodec(settings, keyOf(key), keyOf(cipherKey));
    const keyed = !/ mode=plain/.test(settings);
    for (const entry of entries) {
      const where = `codewords.jsonl line ${entry.line}`;
      const input = hex(entry.input);
      const want = expectedId(settings, input);
      assert.equal(codec.encode(input), entry.word, where);
      assert.equal(toHex(codec.decode(entry.word)), want, where);
      if (keyed) { assert.equal(toHex(codec.recover(entry.word)), want, where); }
      if (entry.typo !== undefined) {
        assert.throws(() => codec.decode(entry.typo), TavikError, where);
        assert.equal(toHex(codec.recover(entry.typo)), entry.recovered, where);
      }
    }
    codec.dispose();
  }
});

test("every known word through the bulk calls, in batches as the lanes take them", async () => {
  for (const entries of groups.values()) {
    const { settings, key, cipher_key: cipherKey } = entries[0];
    const codec = await createCodec(settings, keyOf(key), keyOf(cipherKey));
    const inputs = entries.map((entry) => hex(entry.input));
    const words = entries.map((entry) => entry.word);
    // Repeated, so that even a group of one line fills the lanes and leaves a remainder.
    const times = Math.ceil(11 / entries.length);
    const repeat = (list) => Array.from({ length: times }, () => list).flat();
    assert.deepEqual(codec.encodeMany(repeat(inputs)), repeat(words), settings);
    const want = repeat(entries.map((entry, i) => expectedId(settings, inputs[i])));
    assert.deepEqual(codec.decodeMany(repeat(words)).map(toHex), want, settings);
    const typos = entries.filter((entry) => entry.typo !== undefined);
    if (typos.length > 0) {
      assert.deepEqual(codec.recoverMany(repeat(typos.map((entry) => entry.typo))).map(toHex),
                       repeat(typos.map((entry) => entry.recovered)), settings);
    }
    codec.dispose();
  }
});

test("every listed failure gives the Python message", async () => {
  const rows = readFileSync(join(vectors, "failures.tsv"), "utf8").split("\n")
    .filter((row) => row !== "" && !row.startsWith("#")).map((row) => row.split("\t"));
  assert.ok(rows.length >= 20);
  const text = (h) => new TextDecoder().decode(hex(h));
  for (const [op, settings, key, cipherKey, argument, message] of rows) {
    const where = `${op} ${text(settings)} -> ${message}`;
    const make = () => createCodec(text(settings), key === "-" ? undefined : hex(key),
                                   cipherKey === "-" ? undefined : hex(cipherKey));
    const failure = (e) => e instanceof TavikError && e.message === message && /^TAVIK_E_/.test(e.status);
    if (op === "new") {
      await assert.rejects(make(), failure, where);
      continue;
    }
    const codec = await make();
    if (op === "encode") {
      assert.throws(() => codec.encode(hex(argument)), failure, where);
    } else {
      assert.throws(() => codec[op](text(argument)), failure, where);
      assert.throws(() => codec[`${op}Many`]([text(argument)]), failure, where);
    }
  }
});
