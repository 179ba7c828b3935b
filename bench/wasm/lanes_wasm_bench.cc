// The hashing of the WebAssembly build, on its own: the portable SHA-256 compression on one
// chain, and the bulk forms' HMACs and Feistel passes on the single chain against the SIMD
// lanes. Built by js/CMakeLists.txt as bench-lanes.wasm; bench/js_bench.mjs times its exports
// in Node beside the package's calls. Each function returns a word of its results, so that
// no work can be left out.

#include <cstdint>
#include <vector>

#include "base/u128.h"
#include "fpe/cipher_key.h"
#include "fpe/hmac.h"
#include "fpe/lanes.h"
#include "fpe/sha256.h"

namespace {

using tavik::U128;
using namespace tavik::fpe;  // NOLINT(build/namespaces): a benchmark of this layer

constexpr uint8_t kKey[] = {'b', 'e', 'n', 'c', 'h', ' ', 'k', 'e', 'y'};

LanePath path_of(uint32_t lanes) { return lanes == 0 ? LanePath::kSingle : lane_path(); }

}  // namespace

extern "C" {

// bench_compress runs n compressions on one chain.
__attribute__((export_name("bench_compress"))) uint32_t bench_compress(uint32_t n) {
  Sha256State state = sha256_initial_state();
  uint8_t block[kSha256BlockLen] = {1, 2, 3};
  for (uint32_t i = 0; i < n; ++i) {
    block[0] = static_cast<uint8_t>(i);
    sha256_compress(state.h, block);
  }
  return state.h[0];
}

// bench_hmac_blocks computes n one-block HMACs, 64 per call, on the single chain (lanes 0) or
// on this build's lanes (lanes 1).
__attribute__((export_name("bench_hmac_blocks"))) uint32_t bench_hmac_blocks(uint32_t n,
                                                                             uint32_t lanes) {
  const HmacKey key = HmacKey::derive(kKey);
  static uint8_t blocks[64][kSha256BlockLen];
  static uint32_t macs[64][8];
  uint32_t sum = 0;
  for (uint32_t done = 0; done < n; done += 64) {
    blocks[0][0] = static_cast<uint8_t>(done);
    hmac_blocks_many(key, blocks, 64, macs, path_of(lanes));
    sum += macs[63][0];
  }
  return sum;
}

// bench_encrypt_many enciphers n 128-bit values, 256 per call, single chain or lanes.
__attribute__((export_name("bench_encrypt_many"))) uint32_t bench_encrypt_many(uint32_t n,
                                                                               uint32_t lanes) {
  const CipherKeyState state = derive_cipher_key(kKey, CipherDomain::bits(128));
  const uint8_t tweak[4] = {0, 0, 128, 0};
  std::vector<U128> values(256);
  uint32_t sum = 0;
  for (uint32_t done = 0; done < n; done += 256) {
    for (size_t i = 0; i < values.size(); ++i) { values[i] = U128(done, i); }
    feistel_encrypt_many(state, tweak, values, values, path_of(lanes));
    sum += static_cast<uint32_t>(values[255].lo());
  }
  return sum;
}

}  // extern "C"
