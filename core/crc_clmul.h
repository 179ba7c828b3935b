#ifndef TAVIK_CORE_CRC_CLMUL_H_
#define TAVIK_CORE_CRC_CLMUL_H_

// The CRC-32 of the check syllables (reflected 0xEDB88320) by carry-less multiplication, for
// processors with PCLMULQDQ and SSE4.1 (core/crc_clmul.cc is compiled for them; check.cc calls
// it only where the processor has them).

#include <cstdint>

namespace tavik::core {

// crc32_register_clmul64 is the CRC register after the 64 bytes of a block from a register of
// 0, without the final XOR: what the byte tables give for the same bytes.
uint32_t crc32_register_clmul64(const uint8_t block[64]);

// crc32_registers_vpclmul64 is crc32_register_clmul64 of four blocks at once, for processors
// with AVX-512BW and VPCLMULQDQ (core/crc_vpclmul.cc is compiled for them).
void crc32_registers_vpclmul64(const uint8_t* const blocks[4], uint32_t registers[4]);

}  // namespace tavik::core

#endif  // TAVIK_CORE_CRC_CLMUL_H_
