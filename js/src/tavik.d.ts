// Types of the tavik package: the tavik core as WebAssembly. Written by hand beside tavik.js.

/** The bytes of an identifier: a Uint8Array, another view of an ArrayBuffer, or the buffer. */
export type Bytes = Uint8Array | ArrayBufferView | ArrayBuffer;

/** What a bulk call does with an item that fails: throw (the default) or give null. */
export type Errors = "raise" | "none";

/** The C status names of the failures (include/tavik.h; the settings failures have more). */
export type TavikStatus =
  | "TAVIK_E_NULL_ARGUMENT" | "TAVIK_E_WORD_BUFFER" | "TAVIK_E_NO_MEMORY" | "TAVIK_E_RANGE"
  | "TAVIK_E_BUFFER"
  | "TAVIK_E_KEY_MISSING" | "TAVIK_E_KEY_EMPTY"
  | "TAVIK_E_NOT_BELOW_MODULUS" | "TAVIK_E_NOT_ENCIPHERED"
  | "TAVIK_E_NORMALIZATION" | "TAVIK_E_KEY_REQUIRED" | "TAVIK_E_CHECK_FAILED"
  | "TAVIK_E_RECOVERY_NOT_SUPPORTED" | "TAVIK_E_UNRECOVERABLE" | "TAVIK_E_DECODE_AFTER_RECOVERY"
  | "TAVIK_E_INTERNAL" | "TAVIK_E_AMBIGUOUS" | "TAVIK_E_SETTINGS_FIELD" | "TAVIK_E_SETTINGS"
  | "TAVIK_E_CIPHER_KEY_MISSING" | "TAVIK_E_CIPHER_KEY_UNUSED" | "TAVIK_E_UNKNOWN";

/**
 * Every failure of the codec. `message` is exactly the message of the Python module's
 * exception ("check verification failed — input may be corrupted", "reject: unrecoverable",
 * "ambiguous: 2 candidates", a settings field at fault, ...).
 */
export class TavikError extends Error {
  /** Made by the package for a C status: its number, its text, the bulk item's index. */
  constructor(code: number, message: string, index?: number);
  readonly name: "TavikError";
  /** The C status name, e.g. "TAVIK_E_CHECK_FAILED". */
  readonly status: TavikStatus | (string & {});
  /** The C status number. */
  readonly code: number;
  /** In a bulk call with errors "raise": the index of the item that failed. */
  readonly index?: number;
}

/**
 * The module source for init(): its bytes, a compiled module, a Response (or a promise of
 * one), or a URL. Without one, tavik.wasm is read next to tavik.js.
 */
export type ModuleSource =
  | ArrayBuffer | ArrayBufferView | WebAssembly.Module | Response | PromiseLike<Response>
  | URL | string;

/** Loads the WebAssembly module once (createCodec does so itself). */
export function init(source?: ModuleSource): Promise<void>;

/** The release of the tavik core inside, e.g. "0.1.0". */
export function coreVersion(): Promise<string>;

/**
 * Builds a codec from a settings text (what `Tavik.settings` writes in Python) and its keys:
 * `key` is the constructor's key, `cipherKey` the key of `with_cipher("feistel", key)`;
 * undefined or null for none. Throws TavikError for a settings text or key that Python refuses.
 */
export function createCodec(settings: string, key?: Bytes | null,
                            cipherKey?: Bytes | null): Promise<Codec>;

export interface EncodeManyOptions {
  errors?: Errors;
  /** With one flat array of identifiers: the bytes of each. */
  itemLength?: number;
}

export interface DecodeManyOptions {
  errors?: Errors;
  /** One Uint8Array of 16 bytes per word instead of an array of them. */
  asBuffer?: boolean;
}

/** A codec: immutable; holds memory in the WebAssembly module until dispose() or collection. */
export class Codec {
  private constructor();
  /**
   * The codec's settings text as Python's `Tavik.settings` writes it: its fields in their
   * canonical order, whatever order and spacing the text given to createCodec had.
   */
  readonly settings: string;
  /** The code word of data (the bytes the codec's width needs). */
  encode(data: Bytes): string;
  /** The 16 bytes of a code word; case, separators and other non-letters do not matter. */
  decode(word: string): Uint8Array;
  /** decode after correcting one confused onset or nucleus (modes sealed and open). */
  recover(word: string): Uint8Array;

  encodeMany(items: Iterable<Bytes>, options?: { errors?: "raise" }): string[];
  encodeMany(items: Iterable<Bytes>, options: { errors: "none" }): (string | null)[];
  encodeMany(items: Uint8Array | ArrayBuffer,
             options: { itemLength: number; errors?: "raise" }): string[];
  encodeMany(items: Uint8Array | ArrayBuffer,
             options: { itemLength: number; errors: "none" }): (string | null)[];

  decodeMany(words: Iterable<string>, options?: { errors?: "raise"; asBuffer?: false }): Uint8Array[];
  decodeMany(words: Iterable<string>, options: { errors: "none"; asBuffer?: false }): (Uint8Array | null)[];
  decodeMany(words: Iterable<string>, options: { errors?: "raise"; asBuffer: true }): Uint8Array;
  decodeMany(words: Iterable<string>,
             options: { errors: "none"; asBuffer: true }): { buffer: Uint8Array; failed: number[] };

  recoverMany(words: Iterable<string>, options?: { errors?: "raise"; asBuffer?: false }): Uint8Array[];
  recoverMany(words: Iterable<string>, options: { errors: "none"; asBuffer?: false }): (Uint8Array | null)[];
  recoverMany(words: Iterable<string>, options: { errors?: "raise"; asBuffer: true }): Uint8Array;
  recoverMany(words: Iterable<string>,
              options: { errors: "none"; asBuffer: true }): { buffer: Uint8Array; failed: number[] };

  /** Frees the codec's memory at once, its keys wiped; later calls throw. */
  dispose(): void;
  /** The same as dispose(), for `using codec = await createCodec(...)` (TypeScript 5.2+). */
  [Symbol.dispose](): void;
}
