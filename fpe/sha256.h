#ifndef TAVIK_FPE_SHA256_H_
#define TAVIK_FPE_SHA256_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavik::fpe {

inline constexpr size_t kSha256BlockLen = 64;
inline constexpr size_t kSha256DigestLen = 32;
// The length field of HMAC-SHA-256's outer block: the key block and the inner digest, in bits.
inline constexpr uint32_t kHmacOuterBits = (kSha256BlockLen + kSha256DigestLen) * 8;

// The initial value and the round constants of SHA-256.
inline constexpr uint32_t kSha256InitialValue[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372,
                                                    0xa54ff53a, 0x510e527f, 0x9b05688c,
                                                    0x1f83d9ab, 0x5be0cd19};
alignas(64) inline constexpr uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// Sha256State is a SHA-256 chaining value after some whole blocks: eight 32-bit words and the
// number of 64-byte blocks compressed so far. The message buffer is always empty.
struct Sha256State {
  uint32_t h[8];
  uint64_t num_blocks;
};

// sha256_initial_state is the FIPS 180-4 initial value with no block compressed.
Sha256State sha256_initial_state();

// The block functions, and the HMAC finishes below, run through the backend table
// (fpe/backend.h), chosen once per process: the processor's SHA instructions where it has
// them (x86 SHA extensions, ARMv8 SHA-2), else our own portable SHA-256. All give the same
// results; OpenSSL serves the tests as the independent reference.

// sha256_compress runs one compression of `block` on the chaining value h[0..7].
void sha256_compress(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// Sha256BlockFn is a block function: one compression of a block on a chaining value.
using Sha256BlockFn = void (*)(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_hmac_block finishes HMAC-SHA-256 from absorbed key states (inner and outer chaining
// values after one key block each) when the padded rest of the message is the one block
// `block`, its length field counting the key block: a copy of `inner` compresses `block`, and
// a copy of `outer` compresses the inner digest with its padding. mac receives the MAC as
// eight words (A .. H); it may alias neither state.
void sha256_hmac_block(const uint32_t inner[8], const uint32_t outer[8],
                       const uint8_t block[kSha256BlockLen], uint32_t mac[8]);

// sha256_hmac_outer is the second half of sha256_hmac_block, for a caller that runs the inner
// compression itself (sha256_compress on a copy of the inner state) and has other work to do
// while it runs: a copy of `outer` compresses the inner digest, given as eight words, with its
// padding. mac receives the MAC as eight words; it may alias neither input.
void sha256_hmac_outer(const uint32_t outer[8], const uint32_t inner_digest[8], uint32_t mac[8]);

// sha256_digest hashes a whole message (used for keys longer than one block).
void sha256_digest(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]);

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_SHA256_H_
