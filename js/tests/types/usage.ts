// Compiled (never run) by tools/test_js.sh against the installed package's tavik.d.ts, with
// --strict: the calls of the README type-check, and misuse does not.
import { createCodec, init, coreVersion, TavikError, type Codec } from "tavik";
import wasm from "tavik/tavik.wasm";

declare const wasmBytes: Uint8Array;

async function main(): Promise<void> {
  await init(wasmBytes);
  const version: string = await coreVersion();
  const codec: Codec = await createCodec("tavik/1 ...", new TextEncoder().encode("key"));
  const word: string = codec.encode(new Uint8Array(16));
  const id: Uint8Array = codec.decode(word);
  const fixed: Uint8Array = codec.recover(word);
  const words: string[] = codec.encodeMany([id, fixed]);
  const maybe: (string | null)[] = codec.encodeMany(new Uint8Array(32), { itemLength: 16, errors: "none" });
  const ids: Uint8Array[] = codec.decodeMany(words);
  const flat: Uint8Array = codec.recoverMany(words, { asBuffer: true });
  const { buffer, failed }: { buffer: Uint8Array; failed: number[] } =
    codec.decodeMany(words, { errors: "none", asBuffer: true });
  const settings: string = codec.settings;
  codec[Symbol.dispose]();
  codec.dispose();
  try {
    codec.decode(word);
  } catch (e) {
    if (e instanceof TavikError) {
      const status: string = e.status;
      const index: number | undefined = e.index;
      console.log(status, index, e.code, e.message);
    }
  }
  // @ts-expect-error: a word is a string, not bytes
  codec.decode(id);
  // @ts-expect-error: errors is "raise" or "none"
  codec.decodeMany(words, { errors: "ignore" });
  // @ts-expect-error: with errors "none" an item may be null
  const strict: string[] = codec.encodeMany([id], { errors: "none" });
  // @ts-expect-error: the codec is made by createCodec only
  new Codec();
  console.log(version, maybe, ids, flat, buffer, failed, settings, strict, wasm);
}
void main();
