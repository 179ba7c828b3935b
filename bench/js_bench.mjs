// The JavaScript face against the native library, in one run: per item, encode, decode and the
// bulk forms through the packed package in Node (WebAssembly), and the same calls of the C
// interface natively (native_rounds, the best SHA path of this processor); and the hashing
// alone: the portable SHA-256 compression in WebAssembly and natively, and the one-block HMACs
// of the bulk forms on one chain against the WebAssembly SIMD lanes. Each round times every
// kind on both sides in turn (CPU time); a ratio is the median of the rounds' ratios, so that a
// busy machine disturbs both sides alike. Prints a Markdown table.
//   node js_bench.mjs PACKAGE_ENTRY BENCH_LANES_WASM NATIVE_ROUNDS [ROUNDS]
import { execFileSync } from "node:child_process";
import { readFileSync } from "node:fs";
import { pathToFileURL } from "node:url";

const [entry, lanesWasm, native, roundsArg] = process.argv.slice(2);
const rounds = Number(roundsArg ?? 15);
const { createCodec } = await import(pathToFileURL(entry).href);

const SETTINGS = "tavik/1 level=universal mode=sealed bits=128 cipher=feistel8:key check=1 " +
  "case=upper chunk=balanced sep=U+002D";
const N = 2048;
const HASHES = 20000;

const codec = await createCodec(SETTINGS, new TextEncoder().encode("bench key"));
const ids = Array.from({ length: N }, (_, i) => {
  const id = new Uint8Array(16);
  for (let j = 0; j < 16; ++j) { id[j] = ((i * 16 + j) * 2654435761) >>> 13; }
  return id;
});
const words = codec.encodeMany(ids);

const module = new WebAssembly.Module(readFileSync(lanesWasm));
const imports = { env: { emscripten_notify_memory_growth() {} }, wasi_snapshot_preview1: { proc_exit() {} } };
const lanes = new WebAssembly.Instance(module, imports).exports;
lanes._initialize?.();

function cpuNs() {
  const { user, system } = process.cpuUsage();
  return (user + system) * 1000;
}
function perItem(n, block) {
  const start = cpuNs();
  block();
  return (cpuNs() - start) / n;
}
let sink = 0;

function nodeRound() {
  return {
    encode: perItem(N, () => { for (const id of ids) { sink += codec.encode(id).length; } }),
    decode: perItem(N, () => { for (const w of words) { sink += codec.decode(w)[0]; } }),
    encodeMany: perItem(N, () => { sink += codec.encodeMany(ids).length; }),
    decodeMany: perItem(N, () => { sink += codec.decodeMany(words, { asBuffer: true })[0]; }),
    compress: perItem(HASHES, () => { sink += lanes.bench_compress(HASHES); }),
    hmacSingle: perItem(HASHES, () => { sink += lanes.bench_hmac_blocks(HASHES, 0); }),
    hmacLanes: perItem(HASHES, () => { sink += lanes.bench_hmac_blocks(HASHES, 1); }),
  };
}

const median = (v) => [...v].sort((a, b) => a - b)[v.length >> 1];
const samples = [];
nodeRound();  // the compiler's tiers warmed up
for (let r = 0; r < rounds; ++r) {
  const node = nodeRound();
  const nat = JSON.parse(execFileSync(native, [String(N)], { encoding: "utf8" }));
  samples.push({ node, nat });
}

const rows = [
  ["encode, one call per item", "encode", "encode"],
  ["decode, one call per item", "decode", "decode"],
  ["encodeMany / tavik_encode_many, per item", "encodeMany", "encodeMany"],
  ["decodeMany / tavik_decode_many, per item", "decodeMany", "decodeMany"],
  ["SHA-256 compression, portable code", "compress", "compressPortable"],
  ["one-block HMAC: WebAssembly one chain / native portable", "hmacSingle", "hmacPortable"],
  ["one-block HMAC: WebAssembly SIMD lanes / native best lanes", "hmacLanes", "hmacLanes"],
  ["SHA-256 compression: WebAssembly / native SHA instructions", "compress", "compress"],
];
const cpu = (() => {
  try { return execFileSync("lscpu", { encoding: "utf8" }).match(/Model name:\s*(.*)/)[1]; } catch { return "?"; }
})();
console.log(`Node ${process.version}, ${cpu}; ${rounds} rounds of ${N} items (hashing: ${HASHES}), CPU time.\n`);
console.log("| what | Node, WebAssembly ns | native ns | WebAssembly / native |");
console.log("|---|---:|---:|---:|");
for (const [name, js, nat] of rows) {
  const ratio = median(samples.map((s) => s.node[js] / s.nat[nat]));
  console.log(`| ${name} | ${median(samples.map((s) => s.node[js])).toFixed(0)} | ` +
              `${median(samples.map((s) => s.nat[nat])).toFixed(0)} | ${ratio.toFixed(2)} |`);
}
const simd = median(samples.map((s) => s.node.hmacSingle / s.node.hmacLanes));
const bulk = median(samples.map((s) => s.node.encode / s.node.encodeMany));
console.log(`\nWebAssembly SIMD: the lanes take ${(1 / simd).toFixed(2)} of one chain's time per HMAC; ` +
            `encodeMany takes ${(1 / bulk).toFixed(2)} of encode's time per item.`);
if (sink === 0.5) { console.log(""); }
