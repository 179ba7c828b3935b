#ifndef TAVIK_CORE_BULK_H_
#define TAVIK_CORE_BULK_H_

// Many identifiers or words at once: each item's result is exactly what encode, decode_text
// or recover_text gives it, but the hashing of a batch runs in lanes (several SHA-256 chains
// interleaved), which costs far less per item than one chain after another. The binding
// hands over a batch at a time with the interpreter lock released: nothing here touches
// Python, and the configuration is only read.

#include <cstddef>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "base/u128.h"
#include "core/config.h"
#include "core/decode.h"
#include "core/encode.h"
#include "core/normalize.h"
#include "core/recover.h"

namespace tavik::core {

// kBatchLen is the number of items a bulk call takes at most.
inline constexpr size_t kBatchLen = 512;

// BatchScratch is the working storage of the bulk calls, sized for kBatchLen items once, so
// that no item costs an allocation. One scratch serves one thread at a time.
class BatchScratch {
 public:
  BatchScratch();
  BatchScratch(const BatchScratch&) = delete;
  BatchScratch& operator=(const BatchScratch&) = delete;
  ~BatchScratch();

 private:
  friend void encode_many(const CodecConfig&, std::span<const std::span<const uint8_t>>,
                          std::span<EncodedText>, std::span<std::optional<Error>>,
                          BatchScratch&);
  friend void decode_many(const CodecConfig&, std::span<const CodeUnits>, std::span<Bytes16>,
                          std::span<std::optional<Error>>, BatchScratch&);
  friend void recover_many(const CodecConfig&, std::span<const CodeUnits>, std::span<Bytes16>,
                           std::span<std::optional<Error>>, BatchScratch&);
  std::vector<U128> values_;
  std::vector<uint8_t> text_lens_;  // decode_many: the length of each word's text in blocks_
  std::vector<U128> results_;
  std::vector<uint32_t> index_;  // the item of each value
  std::vector<std::array<uint8_t, 16>> blocks16_;
  std::vector<std::array<uint8_t, fpe::kSha256BlockLen>> blocks_;
  std::vector<std::array<uint32_t, 8>> macs_;
  std::vector<std::array<uint16_t, kMaxDataSyllables>> digits_;
  std::vector<NormalizedInput> inputs_;
  std::vector<RecoveryWord> words_;
  std::vector<std::array<uint32_t, 8>> typed_macs_;
  std::vector<uint32_t> searched_;  // words recover_many searches; decode_many spells out
  std::vector<uint32_t> final_index_;
  std::vector<uint32_t> masks_;  // the separators of each word
  std::vector<std::array<uint16_t, kMaxCheckSyllables>> check_digits_;
};

// WordsRead is where read_words puts the words that read: word j of them (j < the count
// read_words returns) has its units in inputs[j], the block of its check in blocks[j] (the
// keyed check's laid out; for the plain check, the text of its data units at the end of the
// block where normalize handed it out, its length in text_lens[j], or kNoText), its value in
// values[j] and its item in index[j]. Every array holds as many as there are words.
struct WordsRead {
  static constexpr uint8_t kNoText = 0xFF;
  NormalizedInput* inputs;
  std::array<uint8_t, fpe::kSha256BlockLen>* blocks;
  uint8_t* text_lens;  // the plain check only
  U128* values;
  uint32_t* index;
};

// read_words reads words[0, n) as decode reads a word before its check, four at a time where
// the processor reads such words side by side. The error of a word that does not read goes
// to errors[i], and errors[i] is reset for the others. Returns how many read.
size_t read_words(const WordReader& reader, bool keyed, std::span<const CodeUnits> words,
                  std::span<std::optional<Error>> errors, const WordsRead& out);

// encode_many writes encode(config, items[i]) to texts[i], or its error to errors[i] (which
// is reset where the item succeeds), for every i < items.size(). items.size() <= kBatchLen;
// texts and errors are as long as items.
void encode_many(const CodecConfig& config, std::span<const std::span<const uint8_t>> items,
                 std::span<EncodedText> texts, std::span<std::optional<Error>> errors,
                 BatchScratch& scratch);

// decode_many and recover_many do the same for decode_text and recover_text.
void decode_many(const CodecConfig& config, std::span<const CodeUnits> words,
                 std::span<Bytes16> bytes, std::span<std::optional<Error>> errors,
                 BatchScratch& scratch);
void recover_many(const CodecConfig& config, std::span<const CodeUnits> words,
                  std::span<Bytes16> bytes, std::span<std::optional<Error>> errors,
                  BatchScratch& scratch);

}  // namespace tavik::core

#endif  // TAVIK_CORE_BULK_H_
