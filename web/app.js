// The playground page: a form of settings that writes a settings text, a codec built from it in
// this page (the tavik package, its WebAssembly bundled into this file: nothing is fetched),
// and the encode and decode panes over it. tools/build_js.sh bundles this file with esbuild.
import { coreVersion, createCodec, init, TavikError } from "tavik";
import wasm from "tavik/tavik.wasm";

const $ = (id) => document.getElementById(id);
const form = $("settings");

// ---- The settings text of the form ----

function separatorField(text) {
  if (text === "") { return "none"; }
  const code = text.codePointAt(0);
  return "U+" + code.toString(16).toUpperCase().padStart(4, "0");
}

// settingsText writes the form's settings in the text's order; the core judges them.
function settingsText() {
  const v = (name) => form.elements[name].value.trim();
  const parts = ["tavik/1", `level=${v("level")}`, `mode=${v("mode")}`];
  parts.push(v("width-kind") === "bits" ? `bits=${v("bits")}` : `modulus=${v("modulus")}`);
  parts.push(`cipher=${v("cipher")}`, `check=${v("check")}`, `case=${v("case")}`);
  const chunk = v("chunk");
  if (chunk === "fixed" || chunk === "pattern") {
    parts.push(`chunk=${chunk}:${v("chunk-arg").replace(/\s+/g, "")}`, "sep=U+002D");
  } else {
    parts.push(`chunk=${chunk}`, chunk === "none" ? "sep=none" : `sep=${separatorField(form.elements.sep.value)}`);
  }
  if (v("mode") === "open") { parts.push(`epoch_ms=${v("epoch")}`, `granularity=${v("granularity")}`); }
  return parts.join(" ");
}

let lastChunk = "balanced";

// The fields that a setting makes meaningless are hidden or fixed, so that the form only
// offers what the settings text can say.
function syncForm() {
  const mode = $("mode").value;
  const plain = mode === "plain";
  const cipher = $("cipher");
  cipher.querySelector('[value="feistel8:key"]').disabled = plain;
  if (plain && cipher.value === "feistel8:key") { cipher.value = "feistel8:public"; }
  if (!plain && cipher.value === "feistel8:public" && cipher.dataset.auto === "1") { cipher.value = "feistel8:key"; }
  cipher.dataset.auto = plain ? "1" : "";
  $("key-field").hidden = plain;
  $("cipher-key-field").hidden = cipher.value !== "feistel8:cipher_key";
  for (const el of document.querySelectorAll(".open-only")) { el.hidden = mode !== "open"; }
  const bits = $("width-kind").value === "bits";
  $("bits-field").hidden = !bits;
  $("modulus-field").hidden = bits;
  $("bits-value").value = $("bits").value;
  const chunk = $("chunk").value;
  $("chunk-arg-field").hidden = chunk !== "fixed" && chunk !== "pattern";
  $("chunk-arg-label").textContent = chunk === "pattern" ? "Group sizes (comma-separated)" : "Letters a group";
  if (chunk !== lastChunk) {  // a new kind of grouping starts from an example of its own
    if (chunk === "fixed") { $("chunk-arg").value = "4"; }
    if (chunk === "pattern") { $("chunk-arg").value = "3,4,3,4"; }
    lastChunk = chunk;
  }
  $("sep-field").hidden = chunk !== "balanced";
  $("decode-result").dataset.keyed = plain ? "no" : "yes";
}

function keyBytes(input, format) {
  const text = input.value;
  if (format.value === "text") { return new TextEncoder().encode(text); }
  const digits = text.replace(/\s+/g, "");
  if (!/^([0-9a-fA-F]{2})*$/.test(digits)) { throw new Error("the key is not hex: pairs of 0-9 and a-f"); }
  return Uint8Array.from(digits.match(/../g) ?? [], (b) => parseInt(b, 16));
}

// ---- The codec ----

let codec = null;
let building = 0;

async function rebuild() {
  syncForm();
  const text = settingsText();
  $("settings-text").textContent = text;
  const status = $("settings-status");
  const turn = ++building;
  let next = null;
  try {
    const plain = $("mode").value === "plain";
    const key = plain ? undefined : keyBytes($("key"), $("key-format"));
    const cipherKey = $("cipher").value === "feistel8:cipher_key"
      ? keyBytes($("cipher-key"), $("cipher-key-format")) : undefined;
    next = await createCodec(text, key, cipherKey);
    status.textContent = "";
  } catch (e) {
    status.textContent = e instanceof TavikError || e instanceof Error ? e.message : String(e);
  }
  if (turn !== building) { next?.dispose(); return; }  // a later change won
  codec?.dispose();
  codec = next;
  encodePane();
  decodePane();
}

// ---- Encode ----

function parseIdentifier(text) {
  const digits = text.trim().replace(/^0x/i, "").replace(/[-\s{}]/g, "");
  if (digits === "" || digits.length % 2 !== 0 || !/^[0-9a-fA-F]+$/.test(digits) || digits.length > 32) {
    throw new Error("enter a UUID or up to 16 bytes of hex");
  }
  return Uint8Array.from(digits.match(/../g), (b) => parseInt(b, 16));
}

function encodePane() {
  const out = $("word-output");
  const status = $("encode-status");
  out.textContent = "";
  status.textContent = "";
  if (!codec) { status.textContent = "fix the settings first"; return; }
  try {
    out.textContent = codec.encode(parseIdentifier($("id-input").value));
  } catch (e) {
    status.textContent = e.message;
  }
}

function randomUuid(version) {
  const b = crypto.getRandomValues(new Uint8Array(16));
  if (version === 7) {
    let ms = Date.now();
    for (let i = 5; i >= 0; --i) { b[i] = ms % 256; ms = Math.floor(ms / 256); }
  }
  b[6] = (b[6] & 0x0f) | (version << 4);
  b[8] = (b[8] & 0x3f) | 0x80;
  return uuidText(b);
}

const hexOf = (bytes) => Array.from(bytes, (x) => x.toString(16).padStart(2, "0")).join("");

function uuidText(bytes) {
  const h = hexOf(bytes);
  return `${h.slice(0, 8)}-${h.slice(8, 12)}-${h.slice(12, 16)}-${h.slice(16, 20)}-${h.slice(20)}`;
}

// idText shows 16 decoded bytes as a UUID at 128 bits, else as the hex of the bytes the width
// covers.
function idText(bytes) {
  const modulus = $("width-kind").value === "modulus";
  let bits = Number($("bits").value);
  if (modulus) {
    try { bits = BigInt($("modulus").value.trim()).toString(2).length; } catch { bits = 128; }
  }
  if (bits >= 128 && !modulus) { return uuidText(bytes); }
  return "0x" + hexOf(bytes.subarray(16 - Math.ceil(bits / 8)));
}

// ---- Decode ----

// marked shows `word` with the letters that differ from `typed` (letters only, compared in
// order) marked.
function marked(word, typed) {
  const letters = typed.replace(/[^A-Za-z]/g, "").toUpperCase();
  const wordLetters = word.replace(/[^A-Za-z]/g, "").toUpperCase();
  const offset = letters.length - wordLetters.length;  // a typed prefix, say
  const span = document.createDocumentFragment();
  let k = 0;
  for (const ch of word) {
    if (/[A-Za-z]/.test(ch)) {
      const other = letters[k + offset];
      ++k;
      if (other !== ch.toUpperCase()) {
        const m = document.createElement("mark");
        m.textContent = ch;
        span.append(m);
        continue;
      }
    }
    span.append(ch);
  }
  return span;
}

function decodePane() {
  const typed = $("word-input").value;
  const box = $("decode-result");
  const message = $("decode-message");
  const id = $("decoded-id");
  const corrected = $("corrected-word");
  id.textContent = "";
  corrected.textContent = "";
  if (typed.trim() === "") {
    box.dataset.state = "empty";
    message.textContent = "Type or paste a code word.";
    return;
  }
  if (!codec) {
    box.dataset.state = "error";
    message.textContent = "Fix the settings first.";
    return;
  }
  try {
    const bytes = codec.decode(typed);
    box.dataset.state = "ok";
    message.textContent = "Check passed";
    id.textContent = idText(bytes);
    return;
  } catch (e) {
    if (!(e instanceof TavikError)) { throw e; }
    box.dataset.state = "error";
    message.textContent = e.message;
    if (e.status !== "TAVIK_E_CHECK_FAILED" || $("mode").value === "plain") { return; }
  }
  try {
    const bytes = codec.recover(typed);
    box.dataset.state = "recovered";
    message.textContent = "One misheard sound corrected";
    id.textContent = idText(bytes);
    const word = codec.encode(bytes.subarray(16 - Math.ceil(Number($("bits").value) / 8)));
    corrected.replaceChildren("Meant: ", marked(word, typed));
  } catch (e) {
    if (!(e instanceof TavikError)) { throw e; }
    message.textContent = `check verification failed, and recover says: ${e.message}`;
  }
}

// ---- Wiring ----

function copy(id, button) {
  const text = $(id).textContent;
  if (!text) { return; }
  navigator.clipboard?.writeText(text).then(() => {
    const was = button.textContent;
    button.textContent = "Copied";
    setTimeout(() => { button.textContent = was; }, 1200);
  }, () => {});
}

async function main() {
  await init(wasm);
  $("version").textContent = await coreVersion();
  form.addEventListener("input", rebuild);
  form.addEventListener("change", rebuild);
  form.addEventListener("submit", (e) => e.preventDefault());
  $("id-input").addEventListener("input", encodePane);
  $("word-input").addEventListener("input", decodePane);
  $("random-v4").addEventListener("click", () => { $("id-input").value = randomUuid(4); encodePane(); });
  $("random-v7").addEventListener("click", () => { $("id-input").value = randomUuid(7); encodePane(); });
  $("copy-word").addEventListener("click", (e) => copy("word-output", e.currentTarget));
  $("copy-settings").addEventListener("click", (e) => copy("settings-text", e.currentTarget));
  // A key of the page's own, so that the sealed default works at once; it is only an example.
  if ($("key").value === "") { $("key").value = "playground key"; }
  await rebuild();
  document.body.dataset.ready = "yes";
}

main().catch((e) => {
  $("settings-status").textContent = `tavik could not start: ${e.message}`;
});
