// What TypeScript older than 5.2 lacks (tsc of Debian bookworm is 4.8): Symbol.dispose. And the
// .wasm module as a bundler's binary import gives it.
interface SymbolConstructor { readonly dispose: unique symbol; }
declare module "*.wasm" { const bytes: Uint8Array; export default bytes; }
