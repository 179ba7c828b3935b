// tavik for JavaScript: the core of tavik, built as WebAssembly through its C interface
// (include/tavik.h), behind a small ES module. The same module runs in Node and in browsers:
// the .wasm has no imports of its own, so WebAssembly.instantiate needs nothing from us but
// the bytes. No logic of the codec lives here: this file moves bytes in and out of the
// module's memory and turns statuses into errors.

import { MAX_WORD_LEN, MAX_SETTINGS_LEN, ID_LEN, statusName } from "./statuses.js";

const encoder = new TextEncoder();
const decoder = new TextDecoder("utf-8");

// Items per bulk call into the module: enough to keep the lanes full, small enough that the
// buffers of one batch stay well under a megabyte of the module's memory. A batch of long
// items is cut shorter, to about BATCH_BYTES of input (one item at the least).
const BATCH = 2048;
const BATCH_BYTES = 1 << 20;

// TavikError is what every failure of the codec throws. `status` is the C status name
// ("TAVIK_E_CHECK_FAILED"), `code` its number and `message` exactly the message that the Python
// module raises for it. A bulk call in mode errors: "raise" also gives the failing item's
// `index`.
export class TavikError extends Error {
  constructor(code, message, index) {
    super(message);
    this.name = "TavikError";
    this.status = statusName(code);
    this.code = code;
    if (index !== undefined) { this.index = index; }
  }
}

// ---- Loading the module ----

let loading = null;  // Promise<Runtime>, made once

// init loads and instantiates the WebAssembly module once; createCodec calls it. A caller may
// call it first to hand in the module another way: its bytes (ArrayBuffer or a view), a
// compiled WebAssembly.Module, a Response (or a promise of one), or a URL. Without an argument
// the module is read next to this file: from the file system under Node, with fetch elsewhere.
export function init(source) {
  if (loading === null) {
    loading = load(source);
    loading.catch(() => { loading = null; });  // a failed load may be tried again
  }
  return loading.then(() => undefined);
}

async function load(source) {
  const module = await compile(source ?? new URL("./tavik.wasm", import.meta.url));
  // The module asks for next to nothing: a notice when its memory grows (every view of it is
  // made anew after each call anyway), and the routine that would end a process, which only a
  // broken invariant reaches; it throws here instead. Anything else it might ask for fails
  // loudly in the same way.
  const imports = {};
  for (const { module: from, name, kind } of WebAssembly.Module.imports(module)) {
    if (kind !== "function") { throw new Error(`tavik.wasm imports ${from}.${name} (${kind})`); }
    imports[from] ??= {};
    imports[from][name] = name === "emscripten_notify_memory_growth" ? () => {} : () => {
      throw new Error(`tavik.wasm called ${from}.${name}: the module stopped`);
    };
  }
  const instance = await WebAssembly.instantiate(module, imports);
  return new Runtime(instance.exports);
}

async function compile(source) {
  if (source instanceof WebAssembly.Module) { return source; }
  if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) {
    return WebAssembly.compile(source);
  }
  if (typeof source === "string" || source instanceof URL) {
    const url = new URL(source, import.meta.url);
    if (url.protocol === "file:") { return WebAssembly.compile(await readFile(url)); }
    source = fetch(url);
  }
  const response = await source;
  if (typeof Response !== "undefined" && response instanceof Response) {
    if (!response.ok) { throw new Error(`tavik.wasm: ${response.status} ${response.url}`); }
    if (typeof WebAssembly.compileStreaming === "function" &&
        response.headers.get("Content-Type") === "application/wasm") {
      return WebAssembly.compileStreaming(response);
    }
    return WebAssembly.compile(await response.arrayBuffer());
  }
  throw new TypeError("init: the module source must be bytes, a WebAssembly.Module, a Response or a URL");
}

async function readFile(url) {
  // Only under Node: a bundler for browsers leaves an import by a computed name alone.
  const fs = "node:fs/promises";
  const { readFile: read } = await import(/* webpackIgnore: true */ /* @vite-ignore */ fs);
  return read(url);
}

// ---- The module's memory ----

// Runtime is one instance of the module: its exports and one work area in its memory, which
// every call borrows for its arguments and results (calls are synchronous and never re-enter,
// so one area serves them all).
class Runtime {
  constructor(exports) {
    this.x = exports;
    if (typeof exports._initialize === "function") { exports._initialize(); }
    this.u8 = new Uint8Array(exports.memory.buffer);
    this.dv = new DataView(exports.memory.buffer);
    this.area = 0;
    this.areaLen = 0;
    this.scratch = 0;
    this.version = this.text(exports.tavik_version());
  }

  // bytes and view see the memory as it is now: a call that grows the memory replaces its
  // buffer (and detaches the old one), and the views are made anew over the new one.
  bytes() {
    const buffer = this.x.memory.buffer;
    if (this.u8.buffer !== buffer) { this.u8 = new Uint8Array(buffer); }
    return this.u8;
  }

  view() {
    const buffer = this.x.memory.buffer;
    if (this.dv.buffer !== buffer) { this.dv = new DataView(buffer); }
    return this.dv;
  }

  // reserve makes the work area at least len bytes and returns its address.
  reserve(len) {
    if (len > this.areaLen) {
      const size = Math.max(len, 4096, this.areaLen * 2);
      // malloc takes a 32-bit size: a larger one would wrap around to a small block.
      if (size > 0x7fffffff) { throw new TavikError(3, this.statusText(3)); }
      if (this.area !== 0) { this.x.free(this.area); }
      this.area = 0;
      this.areaLen = 0;
      const p = this.x.malloc(size);
      if (p === 0) { throw new TavikError(3, this.statusText(3)); }
      this.area = p;
      this.areaLen = size;
    }
    return this.area;
  }

  bulkScratch() {
    if (this.scratch === 0) {
      const out = this.reserve(8);
      this.check(this.x.tavik_scratch_new(out));
      this.scratch = this.view().getUint32(out, true);
    }
    return this.scratch;
  }

  // text reads a NUL-terminated UTF-8 string at p.
  text(p) {
    const bytes = this.bytes();
    let end = p;
    while (bytes[end] !== 0) { ++end; }
    return decoder.decode(bytes.subarray(p, end));
  }

  statusText(code) { return this.text(this.x.tavik_status_text(code)); }

  error(code, index) { return new TavikError(code, this.statusText(code), index); }

  check(code) {
    if (code !== 0) { throw this.error(code); }
  }

  // word reads len bytes of UTF-8 at p.
  word(bytes, p, len) { return decoder.decode(bytes.subarray(p, p + len)); }
}

// putText writes s as UTF-8 at p (at most cap bytes) and returns the number of bytes written;
// a text that does not fit is refused, never cut.
function putText(bytes, s, p, cap) {
  const { read, written } = encoder.encodeInto(s, bytes.subarray(p, p + cap));
  if (read !== s.length) { throw new RangeError("text too long"); }
  return written;
}

function asBytes(data, what) {
  if (data instanceof Uint8Array) { return data; }
  if (ArrayBuffer.isView(data)) { return new Uint8Array(data.buffer, data.byteOffset, data.byteLength); }
  if (data instanceof ArrayBuffer) { return new Uint8Array(data); }
  throw new TypeError(`${what} must be a Uint8Array, another ArrayBuffer view or an ArrayBuffer`);
}

function asText(s, what) {
  if (typeof s !== "string") { throw new TypeError(`${what} must be a string`); }
  return s;
}

// utf8Cap is a size that the UTF-8 of s never exceeds.
const utf8Cap = (s) => 3 * s.length;

// utf8Length is the length of the UTF-8 of s, as TextEncoder writes it (a lone surrogate as
// U+FFFD, three bytes).
function utf8Length(s) {
  let n = s.length;
  for (let i = 0; i < s.length; ++i) {
    const c = s.charCodeAt(i);
    if (c < 0x80) { continue; }
    if (c < 0x800) { n += 1; continue; }
    if (c >= 0xd800 && c < 0xdc00 && i + 1 < s.length) {
      const d = s.charCodeAt(i + 1);
      if (d >= 0xdc00 && d < 0xe000) { n += 2; ++i; continue; }  // a pair: 4 bytes for 2 units
    }
    n += 2;
  }
  return n;
}

const align8 = (n) => (n + 7) & ~7;

// errorsOption reads the bulk calls' { errors } option: "raise" (the default) or "none".
function errorsOption(options) {
  const errors = options?.errors ?? "raise";
  if (errors !== "raise" && errors !== "none") {
    throw new RangeError(`errors must be "raise" or "none", not ${JSON.stringify(errors)}`);
  }
  return errors;
}

// ---- Codecs ----

// A forgotten codec is freed when it is collected; dispose() frees it at once.
const registry = new FinalizationRegistry(({ rt, ptr }) => rt.x.tavik_codec_free(ptr));

const disposeSymbol = Symbol.dispose ?? Symbol.for("Symbol.dispose");

// createCodec builds a codec from a settings text (what Tavik.settings writes in Python) and
// its keys: key is the constructor's key, cipherKey the key of with_cipher("feistel", key);
// undefined or null for none.
export async function createCodec(settings, key, cipherKey) {
  await init();
  return new Codec(await loading, settings, key, cipherKey);
}

// canonicalSettings reads the settings text of a codec.
function canonicalSettings(rt, codec) {
  const lenAt = align8(MAX_SETTINGS_LEN);
  const base = rt.reserve(lenAt + 8);
  rt.check(rt.x.tavik_codec_settings(codec, base, MAX_SETTINGS_LEN, base + lenAt));
  return rt.word(rt.bytes(), base, rt.view().getUint32(base + lenAt, true));
}

export class Codec {
  #rt;
  #ptr;
  #settings;

  constructor(rt, settings, key, cipherKey) {
    if (!(rt instanceof Runtime)) { throw new TypeError("use createCodec() to make a codec"); }
    asText(settings, "settings");
    if (settings.includes("\0")) { throw new RangeError("settings must not contain U+0000"); }
    const keyBytes = key == null ? null : asBytes(key, "key");
    const cipherBytes = cipherKey == null ? null : asBytes(cipherKey, "cipherKey");
    const keyAt = 8;
    const cipherAt = align8(keyAt + (keyBytes?.length ?? 0));
    const settingsAt = align8(cipherAt + (cipherBytes?.length ?? 0));
    const base = rt.reserve(settingsAt + utf8Cap(settings) + 1);
    const bytes = rt.bytes();
    // A key given as empty bytes is not "no key": it needs a pointer that is not NULL.
    if (keyBytes) { bytes.set(keyBytes, base + keyAt); }
    if (cipherBytes) { bytes.set(cipherBytes, base + cipherAt); }
    const n = putText(bytes, settings, base + settingsAt, utf8Cap(settings));
    bytes[base + settingsAt + n] = 0;
    let code;
    try {
      code = rt.x.tavik_codec_new(base + settingsAt,
                                  keyBytes ? base + keyAt : 0, keyBytes?.length ?? 0,
                                  cipherBytes ? base + cipherAt : 0, cipherBytes?.length ?? 0,
                                  base);
    } finally {
      // The keys are the codec's now; no copy stays in the work area.
      rt.bytes().fill(0, base + keyAt, base + settingsAt);
    }
    rt.check(code);
    this.#rt = rt;
    this.#ptr = rt.view().getUint32(base, true);
    registry.register(this, { rt, ptr: this.#ptr }, this);
    this.#settings = canonicalSettings(rt, this.#ptr);
  }

  // settings is the codec's canonical settings text (what Tavik.settings writes in Python),
  // whatever order and spacing of its fields the text it was built from had.
  get settings() { return this.#settings; }

  #live() {
    if (this.#ptr === 0) { throw new TypeError("this tavik codec has been disposed"); }
    return this.#ptr;
  }

  // encode returns the code word of data (the bytes the codec's width needs: the first ones,
  // or the last ones with a modulus).
  encode(data) {
    const codec = this.#live();
    const input = asBytes(data, "data");
    const rt = this.#rt;
    const wordAt = align8(input.length);
    const lenAt = wordAt + align8(MAX_WORD_LEN);
    const base = rt.reserve(lenAt + 8);
    rt.bytes().set(input, base);
    rt.check(rt.x.tavik_encode(codec, base, input.length, base + wordAt, MAX_WORD_LEN,
                               base + lenAt));
    const len = rt.view().getUint32(base + lenAt, true);
    return rt.word(rt.bytes(), base + wordAt, len);
  }

  // decode returns the 16 bytes of a code word; case and non-letters do not matter.
  decode(word) { return this.#readOne(word, "decode"); }

  // recover is decode that first corrects one confused onset or nucleus, where exactly one
  // correction passes the check (modes sealed and open).
  recover(word) { return this.#readOne(word, "recover"); }

  #readOne(word, how) {
    const codec = this.#live();
    asText(word, "word");
    const rt = this.#rt;
    const cap = utf8Cap(word);
    const base = rt.reserve(ID_LEN + cap);
    const len = putText(rt.bytes(), word, base + ID_LEN, cap);
    const call = how === "decode" ? rt.x.tavik_decode : rt.x.tavik_recover;
    rt.check(call(codec, base + ID_LEN, len, base));
    return rt.bytes().slice(base, base + ID_LEN);
  }

  // encodeMany encodes every item of an iterable of byte arrays, or of one flat array of
  // identifiers of options.itemLength bytes each, in one pass on the lanes. It returns the
  // words; with { errors: "none" } a failed item gives null instead of throwing.
  encodeMany(items, options) {
    const codec = this.#live();
    const errors = errorsOption(options);
    const rt = this.#rt;
    let list;
    if (items instanceof Uint8Array || items instanceof ArrayBuffer) {
      const flat = asBytes(items, "items");
      const itemLength = options?.itemLength;
      if (!Number.isInteger(itemLength) || itemLength <= 0) {
        throw new TypeError("encodeMany of one flat array needs options.itemLength, a positive integer");
      }
      if (flat.length % itemLength !== 0) {
        throw new RangeError(`items holds ${flat.length} bytes: not a whole number of ${itemLength}-byte identifiers`);
      }
      list = { length: flat.length / itemLength, at: (i) => flat.subarray(i * itemLength, (i + 1) * itemLength) };
    } else {
      const array = Array.from(items, (item) => asBytes(item, "each item"));
      list = { length: array.length, at: (i) => array[i] };
    }
    const out = new Array(list.length);
    const scratch = rt.bulkScratch();
    for (let start = 0; start < list.length;) {
      // One call takes a run of items of one length.
      const itemLen = list.at(start).length;
      const most = Math.max(1, Math.min(BATCH, Math.floor(BATCH_BYTES / Math.max(1, itemLen))));
      let end = start + 1;
      while (end < list.length && end - start < most && list.at(end).length === itemLen) { ++end; }
      const count = end - start;
      const wordsAt = align8(count * itemLen);
      const lensAt = wordsAt + align8(count * MAX_WORD_LEN);
      const statusesAt = lensAt + 4 * count;
      const base = rt.reserve(statusesAt + 4 * count);
      let bytes = rt.bytes();
      for (let i = 0; i < count; ++i) { bytes.set(list.at(start + i), base + i * itemLen); }
      rt.check(rt.x.tavik_encode_many(codec, scratch, base, itemLen, count, base + wordsAt,
                                      MAX_WORD_LEN, base + lensAt, base + statusesAt));
      bytes = rt.bytes();
      const view = rt.view();
      for (let i = 0; i < count; ++i) {
        const status = view.getInt32(base + statusesAt + 4 * i, true);
        if (status !== 0) {
          if (errors === "raise") { throw rt.error(status, start + i); }
          out[start + i] = null;
          continue;
        }
        const len = view.getUint32(base + lensAt + 4 * i, true);
        out[start + i] = rt.word(bytes, base + wordsAt + i * MAX_WORD_LEN, len);
      }
      start = end;
    }
    return out;
  }

  // decodeMany decodes every word of an iterable of strings in one pass on the lanes. It
  // returns one Uint8Array of 16 bytes a word; with { errors: "none" } a failed word gives null.
  // With { asBuffer: true } it returns one Uint8Array of 16 bytes per word instead (and with
  // errors "none" { buffer, failed }, the failed words' 16 bytes zero and their indices in
  // failed).
  decodeMany(words, options) { return this.#readMany(words, options, "decode"); }

  // recoverMany is decodeMany with recover for every word.
  recoverMany(words, options) { return this.#readMany(words, options, "recover"); }

  #readMany(words, options, how) {
    const codec = this.#live();
    const errors = errorsOption(options);
    const asBuffer = options?.asBuffer === true;
    const rt = this.#rt;
    const list = Array.from(words, (w) => asText(w, "each word"));
    const buffer = new Uint8Array(ID_LEN * list.length);
    const failed = [];
    const call = how === "decode" ? rt.x.tavik_decode_many : rt.x.tavik_recover_many;
    const scratch = rt.bulkScratch();
    const lengths = list.map(utf8Length);
    for (let start = 0, count = 0; start < list.length; start += count) {
      // Words at one stride, the longest's: as many as fit in BATCH_BYTES (one at the least).
      let stride = Math.max(1, lengths[start]);
      count = 1;
      while (start + count < list.length && count < BATCH &&
             (count + 1) * Math.max(stride, lengths[start + count]) <= BATCH_BYTES) {
        stride = Math.max(stride, lengths[start + count]);
        ++count;
      }
      const lensAt = align8(count * stride);
      const outAt = lensAt + align8(4 * count);
      const statusesAt = outAt + ID_LEN * count;
      const base = rt.reserve(statusesAt + 4 * count);
      const bytes = rt.bytes();
      const view = rt.view();
      for (let i = 0; i < count; ++i) {
        const len = putText(bytes, list[start + i], base + i * stride, stride);
        view.setUint32(base + lensAt + 4 * i, len, true);
      }
      rt.check(call(codec, scratch, base, stride, base + lensAt, count, base + outAt,
                    base + statusesAt));
      const after = rt.view();
      for (let i = 0; i < count; ++i) {
        const status = after.getInt32(base + statusesAt + 4 * i, true);
        if (status !== 0) {
          if (errors === "raise") { throw rt.error(status, start + i); }
          failed.push(start + i);
        }
      }
      buffer.set(rt.bytes().subarray(base + outAt, base + outAt + ID_LEN * count), ID_LEN * start);
    }
    for (const i of failed) { buffer.fill(0, ID_LEN * i, ID_LEN * (i + 1)); }
    if (asBuffer) { return errors === "none" ? { buffer, failed } : buffer; }
    const out = new Array(list.length);
    for (let i = 0; i < list.length; ++i) { out[i] = buffer.slice(ID_LEN * i, ID_LEN * (i + 1)); }
    for (const i of failed) { out[i] = null; }
    return out;
  }

  // dispose frees the codec's memory (its keys wiped) at once; calls after it throw.
  // Calling it again does nothing.
  dispose() {
    if (this.#ptr === 0) { return; }
    registry.unregister(this);
    this.#rt.x.tavik_codec_free(this.#ptr);
    this.#ptr = 0;
  }

  [disposeSymbol]() { this.dispose(); }
}

// version is the release of the core inside (e.g. "0.1.0"), once the module is loaded.
export async function coreVersion() {
  await init();
  return (await loading).version;
}
