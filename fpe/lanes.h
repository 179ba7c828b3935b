#ifndef TAVIK_FPE_LANES_H_
#define TAVIK_FPE_LANES_H_

// Bulk forms of the cipher and of the one-block HMAC: many independent values at once, their
// hashes computed in lanes (several SHA-256 chains interleaved, or one chain per vector
// element), which on one core costs far less per value than one chain after another. The
// results are those of the single chain, bit for bit.

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/u128.h"
#include "fpe/backend.h"
#include "fpe/cipher_key.h"
#include "fpe/hmac.h"

namespace tavik::fpe {

// lane_path is the lanes of the backend table (fpe/backend.h): the path that measured fastest
// on first use.
LanePath lane_path();

// feistel_encrypt_many writes to out[i] what Feistel8(state).encrypt(in[i], tweak) gives, for
// every i < in.size(): the same 8 rounds, the same cycle walk with the same stop after 256
// further passes, bit for bit. feistel_decrypt_many does the same for decrypt.
// Values in lanes run round by round in lockstep; a value that needs further walking passes
// keeps its lane while the other lanes take the next values, so walks do not hold up the rest.
// - Preconditions: out.size() == in.size() (only min(in.size(), out.size()) values are
//   written); out is either in itself or does not overlap it. As with encrypt, values above
//   state.max_value are permuted but not restored.
// - path: the default is lane_path(); a path the processor lacks (lane_path_available false)
//   is replaced by lane_path(). Tweaks longer than 7 bytes always take kSingle.
// - Never fails and never allocates: the lanes' state has a fixed size, on the stack, and is
//   wiped before return.
void feistel_encrypt_many(const CipherKeyState& state, std::span<const uint8_t> tweak,
                          std::span<const U128> in, std::span<U128> out,
                          LanePath path = lane_path());
void feistel_decrypt_many(const CipherKeyState& state, std::span<const uint8_t> tweak,
                          std::span<const U128> in, std::span<U128> out,
                          LanePath path = lane_path());

// hmac_blocks_many computes, for every i < n, sha256_hmac_block(key.inner_state().h,
// key.outer_state().h, blocks[i], macs[i]): n independent HMAC finishes under one key, each
// of a message whose padded rest is the one block blocks[i] (its length field counting the
// key block), MACs as eight words A .. H. For the check syllables of a batch and for the
// candidates of a recovery. macs may not overlap blocks. path as above. Never fails, never
// allocates.
void hmac_blocks_many(const HmacKey& key, const uint8_t (*blocks)[kSha256BlockLen], size_t n,
                      uint32_t (*macs)[8], LanePath path = lane_path());

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_LANES_H_
