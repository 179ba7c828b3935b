#ifndef TAVIK_BASE_BIG_ENDIAN_H_
#define TAVIK_BASE_BIG_ENDIAN_H_

// Whatever is hashed is laid out big-endian: these store and load words that way. Each is one
// load or store of the whole word, with a byte swap on a little-endian host: the compiler does
// not always merge the bytes of a word written one at a time (it wrote a 16-byte identifier
// as sixteen byte stores), and a later wide load of narrow stores waits for them.

#include <bit>
#include <cstdint>
#include <cstring>

namespace tavik {

inline uint32_t big_endian32(uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) { return __builtin_bswap32(v); }
  return v;
}

inline uint64_t big_endian64(uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) { return __builtin_bswap64(v); }
  return v;
}

inline void store_be32(uint32_t v, uint8_t* out) {
  const uint32_t be = big_endian32(v);
  std::memcpy(out, &be, sizeof be);
}

inline void store_be64(uint64_t v, uint8_t* out) {
  const uint64_t be = big_endian64(v);
  std::memcpy(out, &be, sizeof be);
}

inline uint32_t load_be32(const uint8_t* in) {
  uint32_t be = 0;
  std::memcpy(&be, in, sizeof be);
  return big_endian32(be);
}

inline uint64_t load_be64(const uint8_t* in) {
  uint64_t be = 0;
  std::memcpy(&be, in, sizeof be);
  return big_endian64(be);
}

}  // namespace tavik

#endif  // TAVIK_BASE_BIG_ENDIAN_H_
