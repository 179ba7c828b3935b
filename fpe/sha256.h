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

// Sha256State is a SHA-256 chaining value after some whole blocks: eight 32-bit words and the
// number of 64-byte blocks compressed so far. The message buffer is always empty.
struct Sha256State {
  uint32_t h[8];
  uint64_t num_blocks;
};

// sha256_initial_state is the FIPS 180-4 initial value with no block compressed.
Sha256State sha256_initial_state();

// sha256_compress_openssl runs one compression with OpenSSL's block function: the SHA-256 of
// record, used on every processor.
void sha256_compress_openssl(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_compress_shani runs one compression with the x86 SHA instructions. Call it only
// when sha256_has_shani() is true.
void sha256_compress_shani(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_has_shani tells whether this processor has the SHA, SSSE3 and SSE4.1 instructions
// (decided once per process).
bool sha256_has_shani();

// sha256_compress uses the SHA instructions where present, else OpenSSL's block function.
void sha256_compress(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_hmac_block_* finish HMAC-SHA-256 from absorbed key states (inner and outer chaining
// values after one key block each) when the padded rest of the message is the one block
// `block`, its length field counting the key block: a copy of `inner` compresses `block`, and
// a copy of `outer` compresses the inner digest with its padding. mac receives the MAC as
// eight words (A .. H); it may alias neither state. The SHA-instruction form keeps the inner
// digest in registers; call it only when sha256_has_shani() is true.
void sha256_hmac_block_openssl(const uint32_t inner[8], const uint32_t outer[8],
                               const uint8_t block[kSha256BlockLen], uint32_t mac[8]);
void sha256_hmac_block_shani(const uint32_t inner[8], const uint32_t outer[8],
                             const uint8_t block[kSha256BlockLen], uint32_t mac[8]);
// sha256_hmac_block uses the SHA instructions where present, else OpenSSL's block function.
void sha256_hmac_block(const uint32_t inner[8], const uint32_t outer[8],
                       const uint8_t block[kSha256BlockLen], uint32_t mac[8]);

// sha256_hmac_block_pair computes two independent sha256_hmac_block finishes (each with its
// own states, block and output) side by side where the SHA instructions allow, which costs
// little more than one.
void sha256_hmac_block_pair(const uint32_t inner0[8], const uint32_t outer0[8],
                            const uint8_t block0[kSha256BlockLen], uint32_t mac0[8],
                            const uint32_t inner1[8], const uint32_t outer1[8],
                            const uint8_t block1[kSha256BlockLen], uint32_t mac1[8]);
void sha256_hmac_block_pair_shani(const uint32_t inner0[8], const uint32_t outer0[8],
                                  const uint8_t block0[kSha256BlockLen], uint32_t mac0[8],
                                  const uint32_t inner1[8], const uint32_t outer1[8],
                                  const uint8_t block1[kSha256BlockLen], uint32_t mac1[8]);

// sha256_digest hashes a whole message (used for keys longer than one block).
void sha256_digest(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]);

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_SHA256_H_
