#ifndef TAVIK_FPE_BACKEND_H_
#define TAVIK_FPE_BACKEND_H_

// The backend table: every function of the fpe layer whose best form depends on the
// processor, chosen once per process. Every caller goes through backend(); nothing else tests
// processor features on the way.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/u128.h"
#include "fpe/cipher.h"
#include "fpe/cipher_key.h"
#include "fpe/hmac.h"
#include "fpe/sha256.h"

namespace tavik::fpe {

// LanePath is a way to run the lanes of the bulk functions (fpe/lanes.h):
//   kSingle     one value after another on the single chain (the backend's hmac_block);
//   kSha1..4    1 to 4 interleaved chains on the SHA instructions (x86 SHA with SSE4.1 and
//               SSSE3, or ARMv8 SHA-2);
//   kSha4Vl     4 such chains on x86, built with AVX-512VL for its extra registers (also needs
//               the operating system to keep the AVX-512 state);
//   kAvx2x8     8 lanes on AVX2 vectors, for processors without the SHA instructions;
//   kAvx512x16  16 lanes on AVX-512F vectors, for processors without the SHA instructions;
//   kWasm4      4 lanes on WebAssembly SIMD vectors (only in a WebAssembly build with SIMD).
// The SHA paths finish the last values with fewer chains (never an empty lane); the vector
// paths run the last few values on the single chain.
enum class LanePath : uint8_t {
  kSingle, kSha1, kSha2, kSha3, kSha4, kSha4Vl, kAvx2x8, kAvx512x16, kWasm4
};

inline constexpr LanePath kAllLanePaths[] = {
    LanePath::kSingle, LanePath::kSha1,    LanePath::kSha2,   LanePath::kSha3,
    LanePath::kSha4,   LanePath::kSha4Vl,  LanePath::kAvx2x8, LanePath::kAvx512x16,
    LanePath::kWasm4};

using HmacBlockFn = void (*)(const uint32_t inner[8], const uint32_t outer[8],
                             const uint8_t block[kSha256BlockLen], uint32_t mac[8]);
using HmacOuterFn = void (*)(const uint32_t outer[8], const uint32_t inner_digest[8],
                             uint32_t mac[8]);
using FeistelFn = U128 (*)(const CipherKeyState& state, U128 value,
                           std::span<const uint8_t> tweak);
using DecryptWithMacFn = U128 (*)(const CipherKeyState& state, U128 value,
                                  std::span<const uint8_t> tweak, const HmacKey& other,
                                  const BlockWriter& write_block, uint32_t mac[8],
                                  const MacFilter& walk_on);

// Backend is one complete set of those functions. All backends compute the same results bit
// for bit; they differ in speed and in the instructions they need.
struct Backend {
  // A short fixed name for reports and tests: the block functions' form ("sha", "bmi2",
  // "generic"), then the lanes (lane_path_name), e.g. "sha/sha2".
  std::string_view name;
  // sha256_compress, sha256_hmac_block and sha256_hmac_outer of fpe/sha256.h.
  Sha256BlockFn compress;
  HmacBlockFn hmac_block;
  HmacOuterFn hmac_outer;
  // Feistel8's encrypt, decrypt and decrypt_with_mac for tweaks of up to
  // feistel::kShaMaxTweakLen bytes, the key states and the block kept in registers; null
  // where the backend has no such form (Feistel8 then runs its round function on hmac_block).
  FeistelFn encrypt;
  FeistelFn decrypt;
  DecryptWithMacFn decrypt_with_mac;
  // The lanes of the bulk functions, and so their number.
  LanePath lanes;
};

// backend is the table this process runs on: detect_backend(), decided the first time it is
// needed (thread-safe), then fixed. The test program links its own backend() instead, so that
// tests can run every backend; the library has no way to change it.
const Backend& backend();

// detect_backend is the best backend for this processor: the SHA instructions where it has
// them, else our own rounds (the BMI2 form where present), with the lanes that a short
// measurement finds fastest (fastest_lanes): SHA chains or vector lanes, and how many. It
// measures each time it is called: call it once.
Backend detect_backend();

// available_backends lists every backend this processor can run: each form of the block
// functions with each lane path it can drive. For tests and benchmarks.
std::span<const Backend> available_backends();

// lane_path_available tells whether this processor (and its operating system) can run a path.
bool lane_path_available(LanePath path);

// lane_path_name is a short fixed name for reports: "single", "sha1" .. "sha4", "sha4-vl",
// "avx2x8", "avx512x16", "wasm-simd4".
std::string_view lane_path_name(LanePath path);

// LaneTiming is one measured lane path: its cost per HMAC relative to the single chain's.
struct LaneTiming {
  LanePath path;
  double relative_cost;
};

// fastest_lanes times every lane path this processor runs (HMAC finishes of one block under
// one key; each path against the others, interleaved and repeated; a fraction of a
// millisecond in all) and returns the one with the lowest cost per HMAC, preferring fewer
// lanes where another is within 5 % of it, so that noise does not flip the choice between
// near equals; kSingle where no path beats `single`, the single chain's HMAC finish, which
// it must be given directly (it runs while the table is being chosen). timings, when given,
// receives every path's cost against the single chain (at most std::size(kAllLanePaths)) and
// *num_timings their number.
LanePath fastest_lanes(HmacBlockFn single, LaneTiming* timings = nullptr,
                       size_t* num_timings = nullptr);

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_BACKEND_H_
