#ifndef TAVIK_CORE_CHECK_H_
#define TAVIK_CORE_CHECK_H_

// The check syllables that end a code word: HMAC-SHA-256 under the configuration key in modes
// sealed and open, CRC-32 in mode plain, both over the canonical text of the data units, so
// they never depend on level, case, separators, chunking or prefix.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/result.h"
#include "core/normalize.h"
#include "core/render.h"
#include "core/types.h"
#include "fpe/hmac.h"
#include "fpe/sha256.h"

namespace tavik::core {

// crc32 is the CRC-32 of zlib and PNG (reflected 0xEDB88320, init and final XOR 0xFFFFFFFF).
uint32_t crc32(std::span<const uint8_t> bytes);

// keyed_check_units writes 2 * min(count, 8) units taken from HMAC-SHA-256(key, canonical
// text): per syllable four digest bytes, two big-endian 16-bit numbers mod 35 and mod 20.
// `out` must hold 2 * min(count, 8) units. Returns the number of units written.
size_t keyed_check_units(const fpe::HmacKey& key, std::span<const uint8_t> data_units, size_t count,
                         uint8_t* out);

// plain_check_units writes 2 * count units: the base-700 digits of the CRC-32 of the canonical
// text, least significant first (from the fifth on they are all "ma"). `out` must hold
// 2 * count units.
size_t plain_check_units(std::span<const uint8_t> data_units, size_t count, uint8_t* out);

// plain_check_digits writes, for every word of n data digits (each below 700, n at most
// kMaxDataSyllables), the digits (onset + 35 * nucleus) of its first `count` plain check
// syllables (at most kMaxCheckSyllables) to out[i]: those of plain_check_units for the data
// units of the digits, spelled from the digits, several words at a time.
void plain_check_digits(std::span<const std::array<uint16_t, kMaxDataSyllables>> words, size_t n,
                        size_t count, std::array<uint16_t, kMaxCheckSyllables>* out);

// plain_check_digits_of_text is plain_check_digits for one word given as its canonical text,
// len letters (at most 64) at the end of a 64-byte block with zeros before them, as normalize
// hands it out (DataText with at_end).
void plain_check_digits_of_text(const uint8_t block[64], size_t len, size_t count,
                                uint16_t* out);
// plain_check_digits_of_texts is plain_check_digits_of_text for the words which[t]: the text
// in blocks[which[t]] of length lens[which[t]], into out[which[t]].
void plain_check_digits_of_texts(const std::array<uint8_t, 64>* blocks, const uint8_t* lens,
                                 std::span<const uint32_t> which, size_t count,
                                 std::array<uint16_t, kMaxCheckSyllables>* out);

// plain_check_matches tells whether a word's check units (at most kMaxCheckUnits) are the
// plain check syllables whose digits are `expected`.
inline bool plain_check_matches(const std::array<uint16_t, kMaxCheckSyllables>& expected,
                                std::span<const uint8_t> check_units) {
  for (size_t k = 0; k < check_units.size() / 2; ++k) {
    if (syllable_digit(check_units[2 * k], check_units[2 * k + 1]) != expected[k]) {
      return false;
    }
  }
  return true;
}

// compute_check_units picks the digest by mode: plain_check_units in mode plain,
// keyed_check_units with `key` otherwise. `key` must then be non-null; a null key writes
// nothing and returns 0.
size_t compute_check_units(Mode mode, const fpe::HmacKey* key, std::span<const uint8_t> data_units,
                           size_t count, uint8_t* out);

// verify_check recomputes the check units for floor(received.size() / 2) syllables and
// accepts exactly when they equal the received units in number and content. In the keyed
// modes more than 8 received syllables, and an odd number of received units, never verify;
// neither does anything without a key. Keyed units are compared in constant time. Any number
// of data and received units is handled without allocating.
bool verify_check(Mode mode, const fpe::HmacKey* key, std::span<const uint8_t> data_units,
                  std::span<const uint8_t> received_check_units);

// layout_check_block lays out the canonical text of data units in the padded block that the
// keyed check digest hashes after the key (text, 0x80, zeros, the length in bits counting the
// key block). It returns false, leaving the block undefined, when the text is longer than one
// block may hold (more than 55 letters, which no value below 2^128 spells).
bool layout_check_block(std::span<const uint8_t> data_units, uint8_t block[fpe::kSha256BlockLen]);
// The same, where normalize may have written the text of the data units into the block
// already (data_text.bytes is block): then only the padding is added.
bool layout_check_block(const DataText& data_text, std::span<const uint8_t> data_units,
                        uint8_t block[fpe::kSha256BlockLen]);
// What the callers report when layout_check_block refuses a text they have read.
inline constexpr Error kCheckTextTooLong = {ErrorCode::kInternal,
                                            "check text longer than one block"};

// layout_digits_check_block is layout_check_block for the data units of digits (each below
// 700), spelled from the digits.
bool layout_digits_check_block(std::span<const uint16_t> digits,
                               uint8_t block[fpe::kSha256BlockLen]);

// check_units_from_mac writes the first num_syllables keyed check syllables (at most 8) of a
// MAC given as eight words: per syllable digest bytes 4k .. 4k + 3, two big-endian 16-bit
// numbers, mod 35 and mod 20.
void check_units_from_mac(const uint32_t mac[8], size_t num_syllables, uint8_t* out);

// keyed_check_digit is the digit (onset + 35 * nucleus) of keyed check syllable k (below 8) of
// a MAC given as eight words: that of the units check_units_from_mac writes.
uint32_t keyed_check_digit(const uint32_t mac[8], size_t k);

// KeyedCheckDigest computes keyed check units in steps, so that a caller can do other work
// while each of the digest's two compressions runs (their instructions wait on one another,
// and independent instructions issued after them execute alongside): start() starts the inner
// compression of a check block (as layout_check_block lays it out), outer() the outer one, and
// syllable_digit() reads the result. start and outer go in this order, each once. The
// intermediate digests are wiped on destruction.
class KeyedCheckDigest {
 public:
  explicit KeyedCheckDigest(const fpe::HmacKey& key) : key_(key) {}
  KeyedCheckDigest(const KeyedCheckDigest&) = delete;
  KeyedCheckDigest& operator=(const KeyedCheckDigest&) = delete;
  ~KeyedCheckDigest();

  void start(const uint8_t block[fpe::kSha256BlockLen]);
  void outer();
  // syllable_digit is the digit (onset + 35 * nucleus) of keyed check syllable k, k below 8:
  // that of the units keyed_check_units writes.
  uint32_t syllable_digit(size_t k) const;

 private:
  const fpe::HmacKey& key_;
  uint32_t inner_[8];
  uint32_t mac_[8];
};

// A keyed check syllable from one word of the MAC: its high 16 bits pick the onset, its low 16
// bits the nucleus.
inline uint8_t mac_onset(uint32_t word) { return static_cast<uint8_t>((word >> 16) % kNumOnsets); }
inline uint8_t mac_nucleus(uint32_t word) {
  return static_cast<uint8_t>((word & 0xFFFF) % kNumNuclei);
}

// keyed_check_matches tells whether received check units are the keyed check units of a
// digest given as eight words (the MAC of the canonical text), by the rules of verify_check:
// an odd number of units or more than 8 syllables never match, none always does. It compares
// every unit without stopping at the first difference, so timing does not reveal how many
// units a guess got right. Inline: the bulk decodes ask it for every word.
inline bool keyed_check_matches(const uint32_t mac[8],
                                std::span<const uint8_t> received_check_units) {
  const size_t num_syllables = received_check_units.size() / 2;
  if (received_check_units.size() % 2 != 0 || num_syllables > kMaxCheckSyllables) {
    return false;
  }
  uint32_t diff = 0;
  for (size_t k = 0; k < num_syllables; ++k) {
    diff |= static_cast<uint32_t>(mac_onset(mac[k]) ^ received_check_units[2 * k]) |
            static_cast<uint32_t>((kNucleusFlag | mac_nucleus(mac[k])) ^
                                  received_check_units[2 * k + 1]);
  }
  return diff == 0;
}

// KeyedCheckBlock holds the canonical text of data units laid out, padded, in the one block
// that the keyed check digest hashes after the key, so that recovery can try substitutions by
// rewriting a unit's letters in place instead of spelling and padding the text for each.
// fits() is false when the text needs more than one block (more than 55 letters, which no
// 128-bit value has) or there are more than kMaxDataUnits units; only the constructor may be
// used then.
class KeyedCheckBlock {
 public:
  KeyedCheckBlock() = default;  // fits() is false
  explicit KeyedCheckBlock(std::span<const uint8_t> data_units);
  bool fits() const { return fits_; }
  // set_unit spells `unit` in place of data unit k. Precondition: both units are spelled with
  // the same number of letters, as units joined in the confusion graph are.
  void set_unit(size_t k, uint8_t unit);
  // bytes is the padded block, for a caller that computes the digest itself.
  const uint8_t* bytes() const { return block_; }

 private:
  uint8_t block_[fpe::kSha256BlockLen] = {};
  uint8_t offsets_[kMaxDataUnits] = {};
  bool fits_ = false;
};

}  // namespace tavik::core

#endif  // TAVIK_CORE_CHECK_H_
