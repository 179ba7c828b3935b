#include "core/crc_clmul.h"

#if defined(__x86_64__)

#if !defined(__PCLMUL__) || !defined(__SSE4_1__)
#error "core/crc_clmul.cc needs -mpclmul and -msse4.1"
#endif

#include "core/crc_clmul_pieces.h"

namespace tavik::core {

uint32_t crc32_register_clmul64(const uint8_t block[64]) {
  const auto piece = [&](int k) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * k));
  };
  return crc32_register_of_pieces(piece(0), piece(1), piece(2), piece(3));
}

}  // namespace tavik::core

#endif
