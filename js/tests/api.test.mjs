// What the JavaScript face adds to the core: errors as TavikError with the Python message and
// the C status name, keys and texts carried into the module's memory and out again, the bulk
// calls' options, and a codec's life.
import assert from "node:assert/strict";
import { test } from "node:test";

import { hex, tavik, toHex } from "./package.mjs";

const { createCodec, TavikError } = tavik;

const SEALED = "tavik/1 level=universal mode=sealed bits=128 cipher=feistel8:key check=1 " +
  "case=upper chunk=balanced sep=U+002D";
const PLAIN = "tavik/1 level=universal mode=plain bits=32 cipher=feistel8:public check=1 " +
  "case=upper chunk=balanced sep=U+002D";
const KEY = new TextEncoder().encode("a long random key of your own");
const ID = hex("123e4567e89b12d3a456426614174000");

function throwsTavik(fn, status, message) {
  assert.throws(fn, (e) => {
    assert.ok(e instanceof TavikError, `${e}`);
    assert.equal(e.name, "TavikError");
    assert.equal(e.status, status);
    assert.equal(e.message, message);
    return true;
  });
}

async function rejectsTavik(promise, status, message) {
  await assert.rejects(promise, (e) => {
    assert.ok(e instanceof TavikError, `${e}`);
    assert.equal(e.status, status);
    assert.equal(e.message, message);
    return true;
  });
}

test("keys and settings the Python constructor refuses are refused with its message", async () => {
  await rejectsTavik(createCodec(SEALED), "TAVIK_E_KEY_MISSING",
                     "key is required for sealed and open modes");
  // An empty key is a key, not a missing one.
  await rejectsTavik(createCodec(SEALED, new Uint8Array(0)), "TAVIK_E_KEY_EMPTY",
                     "key must not be empty for sealed/open modes");
  await rejectsTavik(createCodec(SEALED.replace("bits=128", "bits=12"), KEY),
                     "TAVIK_E_SETTINGS_FIELD", "settings field 'bits' must be a number in 16..128");
  await rejectsTavik(createCodec("tavik/2" + SEALED.slice(7), KEY), "TAVIK_E_SETTINGS_OTHER_VERSION",
                     "settings text is of another version: this tavik reads tavik/1");
  // Non-ASCII is refused by the core, not cut or mangled on the way in.
  await rejectsTavik(createCodec(SEALED.replace("level=universal", "level=universäl"), KEY),
                     "TAVIK_E_SETTINGS_NOT_ASCII", "settings text must be one line of printable ASCII");
  await assert.rejects(createCodec(SEALED + "\0 check=2", KEY), RangeError);
  await assert.rejects(createCodec(SEALED, "a string key"), TypeError);
});

test("decode and recover fail with the Python messages and status names", async () => {
  const codec = await createCodec(SEALED.replace("check=1", "check=2"), KEY);
  const word = codec.encode(ID);
  // BOL heard as BOR (the README's example).
  assert.equal(word, "TURGLURFOR-TWANSON-SRULWORBOL-GELTEDRULZER-STONBLA-DOLDOR");
  const typo = word.replace("BOL", "BOR");
  throwsTavik(() => codec.decode(typo), "TAVIK_E_CHECK_FAILED",
              "check verification failed — input may be corrupted");
  throwsTavik(() => codec.decode("NOT A WORD"), "TAVIK_E_NORMALIZATION", "input normalization failed");
  const plain = await createCodec(PLAIN);
  throwsTavik(() => plain.recover(plain.encode(ID)), "TAVIK_E_RECOVERY_NOT_SUPPORTED",
              "recovery not supported in plain mode");
  const modulus = await createCodec(PLAIN.replace("bits=32", "modulus=1000"));
  throwsTavik(() => modulus.encode(hex("03e8")), "TAVIK_E_NOT_BELOW_MODULUS",
              "value must be below the modulus");
  assert.throws(() => codec.encode("123e4567"), TypeError);
  assert.throws(() => codec.decode(ID), TypeError);
});

test("texts cross into the module as UTF-8 and back, whatever their size", async () => {
  const codec = await createCodec(SEALED.replace("sep=U+002D", "sep=U+00B7"), KEY);
  const word = codec.encode(ID);
  assert.match(word, /·/);
  assert.equal(toHex(codec.decode(word)), toHex(ID));
  assert.equal(toHex(codec.decode(` ${word.toLowerCase().replaceAll("·", " — ")}\n`)), toHex(ID));
  assert.deepEqual(codec.encodeMany([ID, ID]), [word, word]);
  // An input of megabytes grows the module's memory during the call: what is read after it
  // must come from the memory as it is then.
  const big = new Uint8Array(8 << 20);
  big.set(ID);
  assert.equal(codec.encode(big), word);
  assert.equal(toHex(codec.decode(word + "-".repeat(4 << 20))), toHex(ID));
  assert.equal(codec.encode(ID.buffer.slice(0)), word);
  assert.equal(codec.encode(new DataView(ID.buffer)), word);
});

test("bulk calls: per-item failures as the single calls give them, and their options", async () => {
  const codec = await createCodec(SEALED, KEY);
  const ids = Array.from({ length: 5000 }, (_, i) => {
    const id = new Uint8Array(16);
    new DataView(id.buffer).setUint32(12, i * 2654435761);
    return id;
  });
  const words = codec.encodeMany(ids);
  assert.deepEqual(words, ids.map((id) => codec.encode(id)));
  const flat = new Uint8Array(16 * ids.length);
  ids.forEach((id, i) => flat.set(id, 16 * i));
  assert.deepEqual(codec.encodeMany(flat, { itemLength: 16 }), words);
  assert.throws(() => codec.encodeMany(flat), TypeError);
  assert.throws(() => codec.encodeMany(flat, { itemLength: 7 }), RangeError);
  // Items of other lengths in one call, each read as encode reads it.
  assert.deepEqual(codec.encodeMany([ID, ID.subarray(0, 3), ID]),
                   [codec.encode(ID), codec.encode(ID.subarray(0, 3)), codec.encode(ID)]);

  const mixed = [...words];
  mixed[4321] = "NOT A WORD";
  mixed[4500] = words[4500].replace(/-[A-Z]+$/, "-ZA");
  assert.throws(() => codec.decodeMany(mixed), (e) => {
    assert.equal(e.index, 4321);
    assert.equal(e.message, "input normalization failed");
    return true;
  });
  const results = codec.decodeMany(mixed, { errors: "none" });
  assert.equal(results[4321], null);
  assert.equal(results[4500], null);
  assert.equal(toHex(results[4999]), toHex(ids[4999]));
  const { buffer, failed } = codec.decodeMany(mixed, { errors: "none", asBuffer: true });
  assert.deepEqual(failed, [4321, 4500]);
  assert.equal(toHex(buffer.subarray(16 * 4321, 16 * 4322)), "00".repeat(16));
  assert.equal(toHex(buffer.subarray(16 * 4999)), toHex(ids[4999]));
  const readme = await createCodec(SEALED.replace("check=1", "check=2"), KEY);
  const typo = "TURGLURFOR-TWANSON-SRULWORBOR-GELTEDRULZER-STONBLA-DOLDOR";
  const recovered = readme.recoverMany([typo, "NOT A WORD", typo], { errors: "none" });
  assert.deepEqual(recovered.map((r) => r && toHex(r)), [toHex(ID), null, toHex(ID)]);
  assert.throws(() => codec.decodeMany(words, { errors: "ignore" }), RangeError);
  // One word of megabytes among thousands does not set the size of every word's slot.
  const long = [...words];
  long[2500] = `${"é".repeat(1 << 20)} ${words[2500]} ${"·".repeat(1 << 20)}`;
  assert.equal(toHex(codec.decodeMany(long)[2500]), toHex(ids[2500]));
  assert.deepEqual(codec.decodeMany(long, { asBuffer: true }), codec.decodeMany(words, { asBuffer: true }));
  assert.deepEqual(codec.decodeMany([]), []);
});

test("a disposed codec refuses calls; others in the same module go on", async () => {
  const first = await createCodec(SEALED, KEY);
  const word = first.encode(ID);
  const second = await createCodec(SEALED, KEY);
  second[Symbol.dispose ?? Symbol.for("Symbol.dispose")]();  // what `using` calls
  assert.throws(() => second.encode(ID), TypeError);
  second.dispose();
  first.dispose();
  assert.throws(() => first.decode(word), TypeError);
  // Many codecs made and dropped: each freed by dispose or, when forgotten, when collected.
  for (let i = 0; i < 2000; ++i) {
    const codec = await createCodec(SEALED, KEY);
    assert.equal(codec.encode(ID), word);
    if (i % 2 === 0) { codec.dispose(); }
  }
  assert.equal(first.settings, SEALED);
});

test("settings is the canonical text, whatever order and spacing built the codec", async () => {
  const codec = await createCodec("tavik/1  sep=U+002D chunk=balanced case=upper check=1 " +
    "cipher=feistel8:key bits=128 mode=sealed   level=universal", KEY);
  assert.equal(codec.settings, SEALED);
  codec.dispose();
});
