#ifndef TAVIK_BASE_BIG_ENDIAN_H_
#define TAVIK_BASE_BIG_ENDIAN_H_

// Whatever is hashed is laid out big-endian: these store and load words that way.

#include <cstdint>

namespace tavik {

inline void store_be32(uint32_t v, uint8_t* out) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

inline void store_be64(uint64_t v, uint8_t* out) {
  store_be32(static_cast<uint32_t>(v >> 32), out);
  store_be32(static_cast<uint32_t>(v), out + 4);
}

inline uint32_t load_be32(const uint8_t* in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

inline uint64_t load_be64(const uint8_t* in) {
  return (uint64_t{load_be32(in)} << 32) | load_be32(in + 4);
}

}  // namespace tavik

#endif  // TAVIK_BASE_BIG_ENDIAN_H_
