#ifndef TAVIK_TESTS_SUPPORT_OPENSSL_SHA256_H_
#define TAVIK_TESTS_SUPPORT_OPENSSL_SHA256_H_

// OpenSSL's SHA-256 in the shape of fpe/sha256.h, for tests and benchmarks only: the module
// itself carries no libcrypto.

#include <cstdint>
#include <span>

#include "fpe/sha256.h"

namespace tavik::openssl_reference {

// sha256_compress_openssl runs one compression with OpenSSL's block function.
void sha256_compress_openssl(uint32_t h[8], const uint8_t block[fpe::kSha256BlockLen]);

// sha256_hmac_block_openssl is fpe::sha256_hmac_block on OpenSSL's block function.
void sha256_hmac_block_openssl(const uint32_t inner[8], const uint32_t outer[8],
                               const uint8_t block[fpe::kSha256BlockLen], uint32_t mac[8]);

// sha256_digest hashes a whole message with OpenSSL.
void sha256_digest(std::span<const uint8_t> message, uint8_t out[fpe::kSha256DigestLen]);

}  // namespace tavik::openssl_reference

#endif  // TAVIK_TESTS_SUPPORT_OPENSSL_SHA256_H_
