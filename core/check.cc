#include "core/check.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/secure_wipe.h"
#include "core/crc_clmul.h"
#include "core/render.h"
#include "fpe/cpu.h"

namespace tavik::core {
namespace {

// kCrcTables[0] is the byte table of the reflected polynomial 0xEDB88320; kCrcTables[k]
// advances a byte's contribution by k more zero bytes, so that eight bytes are folded in at
// once (slicing by eight) instead of one dependent step per byte.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;
constexpr CrcTables make_crc_tables() {
  CrcTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) { c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1; }
    t[0][i] = c;
  }
  for (size_t k = 1; k < 8; ++k) {
    for (uint32_t i = 0; i < 256; ++i) { t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]; }
  }
  return t;
}

constexpr CrcTables kCrcTables = make_crc_tables();

// Continues a CRC register (before the final XOR) with more bytes.
uint32_t crc32_update(uint32_t crc, std::span<const uint8_t> bytes) {
  const uint8_t* p = bytes.data();
  size_t left = bytes.size();
  for (; left >= 8; p += 8, left -= 8) {
    const uint32_t lo = crc ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                               uint32_t{p[3]} << 24);
    crc = kCrcTables[7][lo & 0xFF] ^ kCrcTables[6][(lo >> 8) & 0xFF] ^
          kCrcTables[5][(lo >> 16) & 0xFF] ^ kCrcTables[4][lo >> 24] ^ kCrcTables[3][p[4]] ^
          kCrcTables[2][p[5]] ^ kCrcTables[1][p[6]] ^ kCrcTables[0][p[7]];
  }
  for (; left > 0; ++p, --left) { crc = kCrcTables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8); }
  return crc;
}

// kInitAfter[n] is what the initial register 0xFFFFFFFF becomes after n zero bytes: the CRC
// register is linear in the register and the bytes, so the register after a text of n bytes
// from 0xFFFFFFFF is that from 0 with kInitAfter[n] added, and zero bytes before a text leave
// a register of 0 unchanged.
constexpr size_t kPaddedTextLen = 64;
using InitAfter = std::array<uint32_t, kPaddedTextLen + 1>;
constexpr InitAfter make_init_after() {
  InitAfter t{};
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t n = 0; n <= kPaddedTextLen; ++n) {
    t[n] = crc;
    crc = kCrcTables[0][crc & 0xFF] ^ (crc >> 8);
  }
  return t;
}
constexpr InitAfter kInitAfter = make_init_after();

// padded_text_crc is the CRC-32 of a text of len bytes (at most kPaddedTextLen) that ends a
// block with zeros before it, from the CRC register after the block from a register of 0.
constexpr uint32_t padded_text_crc(uint32_t register_from_zero, size_t len) {
  return register_from_zero ^ kInitAfter[len] ^ 0xFFFFFFFFu;
}

// ending_letters()[d] is the canonical spelling of the syllable of digit d packed for
// store_letters with zeros before its letters, which end the four bytes. Built on first use,
// from a table another file builds when the library is loaded.
const std::array<uint32_t, kSyllableBase>& ending_letters() {
  static const std::array<uint32_t, kSyllableBase> letters = [] {
    std::array<uint32_t, kSyllableBase> t{};
    for (uint32_t d = 0; d < kSyllableBase; ++d) {
      t[d] = kSyllableLetters[0][d] << (8 * (kMaxSyllableLen - kSyllableWidths[d]));
    }
    return t;
  }();
  return letters;
}

// The CRC-32s of W texts of lens[w] bytes (at most kPaddedTextLen each) that end blocks of
// kPaddedTextLen bytes with zeros before them: loops of fixed length, without the branches of
// a variable one, and the W chains of dependent steps side by side.
template <size_t W>
void padded_crc32(const uint8_t (*blocks)[kPaddedTextLen], const size_t* lens,
                  uint32_t* crcs) {
  uint32_t crc[W] = {};
#pragma GCC unroll 8
  for (size_t at = 0; at < kPaddedTextLen; at += 8) {
#pragma GCC unroll 4
    for (size_t w = 0; w < W; ++w) {
      const uint8_t* p = blocks[w] + at;
      const uint32_t lo = crc[w] ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 |
                                    uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
      crc[w] = kCrcTables[7][lo & 0xFF] ^ kCrcTables[6][(lo >> 8) & 0xFF] ^
               kCrcTables[5][(lo >> 16) & 0xFF] ^ kCrcTables[4][lo >> 24] ^ kCrcTables[3][p[4]] ^
               kCrcTables[2][p[5]] ^ kCrcTables[1][p[6]] ^ kCrcTables[0][p[7]];
    }
  }
  for (size_t w = 0; w < W; ++w) { crcs[w] = padded_text_crc(crc[w], lens[w]); }
}

// The canonical text is produced a slice of units at a time, so that data units of any
// number pass through a fixed stack buffer. Spelling is per unit, so the slices concatenate
// to the text of the whole sequence.
constexpr size_t kUnitsPerSlice = 32;

template <typename Sink>
void for_each_text_slice(std::span<const uint8_t> units, Sink sink) {
  char text[2 * kUnitsPerSlice];  // canonical_text needs two bytes per unit
  while (!units.empty()) {
    const size_t n = std::min(units.size(), kUnitsPerSlice);
    const size_t len = canonical_text(units.first(n), text);
    sink(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text), len));
    units = units.subspan(n);
  }
}

uint32_t canonical_crc(std::span<const uint8_t> data_units) {
  uint32_t crc = 0xFFFFFFFFu;
  for_each_text_slice(data_units,
                      [&](std::span<const uint8_t> piece) { crc = crc32_update(crc, piece); });
  return crc ^ 0xFFFFFFFFu;
}

// The k-th plain check syllable is the k-th base-700 digit of the CRC.
void plain_syllable(uint32_t crc, size_t k, uint8_t* out) {
  uint32_t x = crc;
  for (size_t i = 0; i < k && x != 0; ++i) { x /= kSyllableBase; }
  out[0] = static_cast<uint8_t>(x % kNumOnsets);
  out[1] = static_cast<uint8_t>(kNucleusFlag | ((x / kNumOnsets) % kNumNuclei));
}

// pad_check_text finishes a check block whose text of len letters stands at its start with
// zeros after it: the HMAC padding, or false for a text too long for one block.
bool pad_check_text(uint8_t block[fpe::kSha256BlockLen], size_t len) {
  if (len > fpe::kHmacShortMessageLen) { return false; }
  fpe::pad_hmac_block(block, len);
  return true;
}

}  // namespace

bool layout_check_block(std::span<const uint8_t> data_units, uint8_t block[fpe::kSha256BlockLen]) {
#if defined(__x86_64__)
  static const bool with_vbmi2 = fpe::cpu_features().avx512vbmi2;
  if (with_vbmi2 && data_units.size() <= 32) {
    // The text with zeros after it fills the block.
    return pad_check_text(block, canonical_text_vbmi2(unit_letter_tables(), data_units.data(),
                                                      data_units.size(), block));
  }
#endif
  // Zeroing the whole block first takes a few wide stores; a memset of the variable tail
  // after the text would be a library call.
  std::memset(block, 0, fpe::kSha256BlockLen);
  const size_t len = canonical_text(data_units, reinterpret_cast<char*>(block));
  if (len > fpe::kHmacShortMessageLen) { return false; }
  block[len + 1] = 0;  // canonical_text may have stored a byte past the text
  fpe::pad_hmac_block(block, len);
  return true;
}

bool layout_check_block(const DataText& data_text, std::span<const uint8_t> data_units,
                        uint8_t block[fpe::kSha256BlockLen]) {
  if (data_text.len == DataText::kNotWritten) { return layout_check_block(data_units, block); }
  return pad_check_text(block, data_text.len);
}

bool layout_digits_check_block(std::span<const uint16_t> digits,
                               uint8_t block[fpe::kSha256BlockLen]) {
#if defined(__x86_64__)
  static const bool with_vbmi2 = fpe::cpu_features().avx512vbmi2;
  if (with_vbmi2 && digits.size() <= kMaxDataSyllables) {
    // The text with zeros after it fills the block.
    return pad_check_text(
        block, digits_text_vbmi2(unit_letter_tables(), digits.data(), digits.size(), block));
  }
#endif
  // Each syllable is one four-byte store of its letters with zeros after them, so the bytes
  // after the text are zeros as the padding needs; a text that fits leaves room for the
  // last store.
  // Fourteen syllables or fewer store below 13 * 4 + 4 bytes: the length is checked once, at
  // the end, and only longer runs check it before every store.
  std::memset(block, 0, fpe::kSha256BlockLen);
  static_assert((kMaxDataSyllables - 1) * kMaxSyllableLen + 4 <= fpe::kSha256BlockLen);
  const bool short_run = digits.size() <= kMaxDataSyllables;
  size_t len = 0;
  for (uint16_t digit : digits) {
    if (!short_run && len > fpe::kHmacShortMessageLen) { return false; }
    store_letters(kSyllableLetters[0][digit], reinterpret_cast<char*>(block) + len);
    len += kSyllableWidths[digit];
  }
  return pad_check_text(block, len);
}

void check_units_from_mac(const uint32_t mac[8], size_t num_syllables, uint8_t* out) {
  for (size_t k = 0; k < num_syllables; ++k) {
    out[2 * k] = mac_onset(mac[k]);
    out[2 * k + 1] = static_cast<uint8_t>(kNucleusFlag | mac_nucleus(mac[k]));
  }
}

uint32_t keyed_check_digit(const uint32_t mac[8], size_t k) {
  return mac_onset(mac[k]) + uint32_t{kNumOnsets} * mac_nucleus(mac[k]);
}

namespace {

// The HMAC of the canonical text of the data units, as eight words. A text of up to 55 letters
// (that of any 128-bit value) is spelled straight into the padded inner block: two
// compressions, and with the SHA instructions the inner digest never leaves the registers.
// A longer text goes through a stream a slice at a time. (The absorbed states of an HmacKey
// always count one key block.)
void canonical_mac(const fpe::HmacKey& key, std::span<const uint8_t> data_units, uint32_t mac[8]) {
  uint8_t block[fpe::kSha256BlockLen];
  if (data_units.size() <= fpe::kSha256BlockLen / 2 && layout_check_block(data_units, block)) {
    fpe::sha256_hmac_block(key.inner_state().h, key.outer_state().h, block, mac);
    return;
  }
  uint8_t digest[fpe::kSha256DigestLen];
  fpe::HmacStream stream(key);
  for_each_text_slice(data_units, [&](std::span<const uint8_t> piece) { stream.update(piece); });
  stream.finish(digest);
  for (size_t i = 0; i < 8; ++i) {
    mac[i] = (uint32_t{digest[4 * i]} << 24) | (uint32_t{digest[4 * i + 1]} << 16) |
             (uint32_t{digest[4 * i + 2]} << 8) | digest[4 * i + 3];
  }
  secure_wipe(digest, sizeof(digest));
}

// Compares without stopping at the first difference, so timing does not reveal how many
// keyed check units a guess got right. Inline, since the units are at most 16 bytes.
bool equal_in_constant_time(const uint8_t* a, const uint8_t* b, size_t len) {
  uint8_t diff = 0;
  for (size_t i = 0; i < len; ++i) { diff = static_cast<uint8_t>(diff | (a[i] ^ b[i])); }
  return diff == 0;
}

}  // namespace

uint32_t crc32(std::span<const uint8_t> bytes) {
  return crc32_update(0xFFFFFFFFu, bytes) ^ 0xFFFFFFFFu;
}

size_t keyed_check_units(const fpe::HmacKey& key, std::span<const uint8_t> data_units, size_t count,
                         uint8_t* out) {
  const size_t num_syllables = std::min(count, kMaxCheckSyllables);
  if (num_syllables == 0) { return 0; }
  uint32_t mac[8];
  canonical_mac(key, data_units, mac);
  check_units_from_mac(mac, num_syllables, out);
  secure_wipe(mac, sizeof(mac));
  return 2 * num_syllables;
}

size_t plain_check_units(std::span<const uint8_t> data_units, size_t count, uint8_t* out) {
  const uint32_t crc = canonical_crc(data_units);
  for (size_t k = 0; k < count; ++k) { plain_syllable(crc, k, out + 2 * k); }
  return 2 * count;
}

namespace {

// Digit k of the CRC in base 700, as plain_syllable spells it, for k below count.
void crc_digits(uint32_t crc, size_t count, uint16_t* out) {
  for (size_t k = 0; k < count; ++k) {
    out[k] = static_cast<uint16_t>(crc % kSyllableBase);
    crc /= kSyllableBase;
  }
}

}  // namespace

void plain_check_digits_of_text(const uint8_t block[kPaddedTextLen], size_t len, size_t count,
                                uint16_t* out) {
  len = std::min(len, kPaddedTextLen);
  count = std::min(count, kMaxCheckSyllables);
#if defined(__x86_64__)
  static const bool with_clmul = fpe::cpu_features().pclmul;
  if (with_clmul) {
    crc_digits(padded_text_crc(crc32_register_clmul64(block), len), count, out);
    return;
  }
#endif
  crc_digits(crc32({block + kPaddedTextLen - len, len}), count, out);
}

void plain_check_digits_of_texts(const std::array<uint8_t, 64>* blocks, const uint8_t* lens,
                                 std::span<const uint32_t> which, size_t count,
                                 std::array<uint16_t, kMaxCheckSyllables>* out) {
#if defined(__x86_64__)
  static const bool with_vpclmul = fpe::cpu_features().vpclmulqdq;
  if (with_vpclmul) {
    count = std::min(count, kMaxCheckSyllables);
    // Four texts at a time; the last group repeats its last text.
    for (size_t first = 0; first < which.size(); first += 4) {
      const size_t num_words = std::min<size_t>(4, which.size() - first);
      const uint8_t* texts[4];
      for (size_t w = 0; w < 4; ++w) {
        texts[w] = blocks[which[first + std::min(w, num_words - 1)]].data();
      }
      uint32_t crc_registers[4];
      crc32_registers_vpclmul64(texts, crc_registers);
      for (size_t w = 0; w < num_words; ++w) {
        const uint32_t j = which[first + w];
        const size_t len = std::min<size_t>(lens[j], kPaddedTextLen);
        crc_digits(padded_text_crc(crc_registers[w], len), count, out[j].data());
      }
    }
    return;
  }
#endif
  for (const uint32_t j : which) {
    plain_check_digits_of_text(blocks[j].data(), lens[j], count, out[j].data());
  }
}

void plain_check_digits(std::span<const std::array<uint16_t, kMaxDataSyllables>> words,
                        size_t n, size_t count, std::array<uint16_t, kMaxCheckSyllables>* out) {
  n = std::min(n, kMaxDataSyllables);
  count = std::min(count, kMaxCheckSyllables);
#if defined(__x86_64__)
  static const bool with_clmul = fpe::cpu_features().pclmul;
  static const bool with_vbmi2 = fpe::cpu_features().avx512vbmi2;
  if (with_vbmi2 && with_clmul) {
    // Four words at a time, their texts spelled and folded in registers (a CRC that read a
    // text just stored would wait for the stores to reach the cache); the last group repeats
    // its last word.
    for (size_t first = 0; first < words.size(); first += 4) {
      const size_t num_words = std::min<size_t>(4, words.size() - first);
      const uint16_t* digits[4];
      for (size_t w = 0; w < 4; ++w) {
        digits[w] = words[first + std::min(w, num_words - 1)].data();
      }
      uint32_t crc_registers[4];
      size_t lens[4];
      digits_texts_crc_vbmi2(unit_letter_tables(), digits, n, crc_registers, lens);
      for (size_t w = 0; w < num_words; ++w) {
        crc_digits(padded_text_crc(crc_registers[w], lens[w]), count, out[first + w].data());
      }
    }
    return;
  }
#endif
  // Each text ends its padded block: its syllables are stored from the last, each as four
  // bytes that end where it ends (zeros before its letters, which the syllable before
  // overwrites), so its length comes out at the end.
  const std::array<uint32_t, kSyllableBase>& ending = ending_letters();
  constexpr size_t kWords = 4;
  uint8_t blocks[kWords][kPaddedTextLen];
  size_t lens[kWords] = {};
  uint32_t crcs[kWords] = {};
  for (size_t first = 0; first < words.size(); first += kWords) {
    const size_t num_words = std::min(kWords, words.size() - first);
    for (size_t w = 0; w < kWords; ++w) {
      std::memset(blocks[w], 0, sizeof blocks[w]);
      lens[w] = 0;
      if (w >= num_words) { continue; }
      const uint16_t* digits = words[first + w].data();
      size_t end = kPaddedTextLen;
      for (size_t j = n; j-- > 0;) {
        const uint16_t digit = digits[j];
        store_letters(ending[digit],
                      reinterpret_cast<char*>(blocks[w]) + end - kMaxSyllableLen);
        end -= kSyllableWidths[digit];
      }
      lens[w] = kPaddedTextLen - end;
    }
#if defined(__x86_64__)
    if (with_clmul) {
      for (size_t w = 0; w < kWords; ++w) {
        crcs[w] = padded_text_crc(crc32_register_clmul64(blocks[w]), lens[w]);
      }
    } else {
      padded_crc32<kWords>(blocks, lens, crcs);
    }
#else
    padded_crc32<kWords>(blocks, lens, crcs);
#endif
    for (size_t w = 0; w < num_words; ++w) { crc_digits(crcs[w], count, out[first + w].data()); }
  }
}

size_t compute_check_units(Mode mode, const fpe::HmacKey* key, std::span<const uint8_t> data_units,
                           size_t count, uint8_t* out) {
  if (mode == Mode::kPlain) { return plain_check_units(data_units, count, out); }
  if (key == nullptr) { return 0; }  // a broken precondition writes nothing
  return keyed_check_units(*key, data_units, count, out);
}

bool verify_check(Mode mode, const fpe::HmacKey* key, std::span<const uint8_t> data_units,
                  std::span<const uint8_t> received_check_units) {
  if (received_check_units.size() % 2 != 0) { return false; }
  const size_t num_syllables = received_check_units.size() / 2;
  if (mode == Mode::kPlain) {
    // No cap on the count: compare syllable by syllable instead of filling a buffer.
    const uint32_t crc = canonical_crc(data_units);
    for (size_t k = 0; k < num_syllables; ++k) {
      uint8_t expected[2];
      plain_syllable(crc, k, expected);
      if (expected[0] != received_check_units[2 * k] ||
          expected[1] != received_check_units[2 * k + 1]) {
        return false;
      }
    }
    return true;
  }
  if (key == nullptr || num_syllables > kMaxCheckSyllables) { return false; }
  uint8_t expected[kMaxCheckUnits];
  const size_t len = keyed_check_units(*key, data_units, num_syllables, expected);
  if (len == 0) { return true; }  // an empty run of check units verifies
  return equal_in_constant_time(expected, received_check_units.data(), len);
}

KeyedCheckBlock::KeyedCheckBlock(std::span<const uint8_t> data_units) {
  if (data_units.size() > kMaxDataUnits) { return; }
  size_t offset = 0;
  for (size_t k = 0; k < data_units.size(); ++k) {
    offsets_[k] = static_cast<uint8_t>(offset);
    offset += kUnitTexts[0][data_units[k]].len;
  }
  fits_ = layout_check_block(data_units, block_);
}

void KeyedCheckBlock::set_unit(size_t k, uint8_t unit) {
  const UnitText t = kUnitTexts[0][unit];
  block_[offsets_[k]] = static_cast<uint8_t>(t.letters & 0xFF);
  if (t.len == 2) { block_[offsets_[k] + 1] = static_cast<uint8_t>(t.letters >> 8); }
}

KeyedCheckDigest::~KeyedCheckDigest() {
  secure_wipe(inner_, sizeof(inner_));
  secure_wipe(mac_, sizeof(mac_));
}

void KeyedCheckDigest::start(const uint8_t block[fpe::kSha256BlockLen]) {
  std::memcpy(inner_, key_.inner_state().h, sizeof(inner_));
  fpe::sha256_compress(inner_, block);
}

void KeyedCheckDigest::outer() { fpe::sha256_hmac_outer(key_.outer_state().h, inner_, mac_); }

uint32_t KeyedCheckDigest::syllable_digit(size_t k) const { return keyed_check_digit(mac_, k); }

}  // namespace tavik::core
