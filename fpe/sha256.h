#ifndef TAVIK_FPE_SHA256_H_
#define TAVIK_FPE_SHA256_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavik::fpe {

inline constexpr size_t kSha256BlockLen = 64;
inline constexpr size_t kSha256DigestLen = 32;

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

// sha256_digest hashes a whole message (used for keys longer than one block).
void sha256_digest(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]);

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_SHA256_H_
