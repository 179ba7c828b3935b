#include "core/bulk.h"

#include <algorithm>
#include <cstring>

#include "base/secure_wipe.h"
#include "core/check.h"
#include "core/decode.h"
#include "core/render.h"
#include "fpe/cpu.h"
#include "fpe/lanes.h"

namespace tavik::core {

namespace {

// hash_blocks computes the keyed check MAC of blocks[0, n) in lanes.
void hash_blocks(const CodecConfig& config,
                 std::vector<std::array<uint8_t, fpe::kSha256BlockLen>>& blocks,
                 std::vector<std::array<uint32_t, 8>>& macs, size_t n) {
  fpe::hmac_blocks_many(*config.check_key,
                        reinterpret_cast<const uint8_t(*)[fpe::kSha256BlockLen]>(blocks.data()), n,
                        reinterpret_cast<uint32_t(*)[8]>(macs.data()));
}

// decipher writes the decryption of values[0, n) to results[0, n), in lanes.
void decipher(const CodecConfig& config, const std::vector<U128>& values,
              std::vector<U128>& results, size_t n) {
  config.cipher->decrypt_many({values.data(), n}, config.tweak, {results.data(), n});
}

// prefetch_group asks for the texts of the group of words from `first` on to be brought into
// the cache: two groups ahead of the one being read, they arrive by the time it is their turn
// (the texts of a list of words lie wherever each was allocated).
void prefetch_group(std::span<const CodeUnits> words, size_t first) {
  for (size_t i = first; i < std::min(first + 4, words.size()); ++i) {
    __builtin_prefetch(words[i].data);
  }
}

// Group is up to four words read together (WordReader::normalize_group), each into the input
// and the block that start gives it.
struct Group {
  explicit Group(std::span<const CodeUnits> words) : count(words.size()) {
    for (size_t w = 0; w < count; ++w) { texts[w] = &words[w]; }
  }
  void start(size_t w, NormalizedInput* input, uint8_t* block, bool text_at_end) {
    inputs[w] = input;
    data_texts[w] = {.bytes = block, .at_end = text_at_end};
    data_text_of[w] = &data_texts[w];
  }
  void normalize(const WordReader& reader) {
    reader.normalize_group(count, texts, inputs, data_text_of, normalized);
  }

  size_t count;
  const CodeUnits* texts[4] = {};
  NormalizedInput* inputs[4] = {};
  DataText data_texts[4];
  DataText* data_text_of[4] = {};
  bool normalized[4] = {};
};

}  // namespace

size_t read_words(const WordReader& reader, bool keyed, std::span<const CodeUnits> words,
                  std::span<std::optional<Error>> errors, const WordsRead& out) {
  // The words of a group take the next four places, and those that fail give theirs to the
  // words after them.
  const size_t n = words.size();
  size_t m = 0;
  for (size_t first = 0; first < n; first += 4) {
    const size_t count = std::min<size_t>(4, n - first);
    prefetch_group(words, first + 8);
    Group group(words.subspan(first, count));
    for (size_t w = 0; w < count; ++w) {
      group.start(w, &out.inputs[m + w], out.blocks[m + w].data(), !keyed);
    }
    group.normalize(reader);
    const size_t group_start = m;
    for (size_t w = 0; w < count; ++w) {
      const size_t i = first + w;
      const size_t at = group_start + w;
      const DataText& text = group.data_texts[w];
      const Error* failure = group.normalized[w] ? reader.value_of(out.inputs[at], &out.values[at])
                                                 : &kNormalizationFailed;
      if (failure == nullptr && keyed &&
          !layout_check_block(text, out.inputs[at].data(), out.blocks[at].data())) {
        failure = &kCheckTextTooLong;
      }
      if (failure != nullptr) {
        errors[i] = *failure;
        continue;
      }
      if (at != m) {
        out.inputs[m] = out.inputs[at];
        out.blocks[m] = out.blocks[at];
        out.values[m] = out.values[at];
      }
      if (!keyed) {
        out.text_lens[m] = text.len == DataText::kNotWritten ? WordsRead::kNoText
                                                             : static_cast<uint8_t>(text.len);
      }
      errors[i].reset();
      out.index[m++] = static_cast<uint32_t>(i);
    }
  }
  return m;
}

BatchScratch::BatchScratch()
    : values_(kBatchLen),
      text_lens_(kBatchLen),
      results_(kBatchLen),
      index_(kBatchLen),
      blocks16_(kBatchLen),
      blocks_(kBatchLen * kMaxSubstitutions / 8),
      macs_(kBatchLen * kMaxSubstitutions / 8),
      digits_(kBatchLen),
      inputs_(kBatchLen),
      words_(kBatchLen),
      typed_macs_(kBatchLen),
      searched_(kBatchLen),
      final_index_(kBatchLen),
      masks_(kBatchLen),
      check_digits_(kBatchLen) {}

BatchScratch::~BatchScratch() {
  // The MACs are key material; the blocks and units are only the words' own text.
  secure_wipe(macs_.data(), macs_.size() * sizeof(macs_[0]));
  secure_wipe(typed_macs_.data(), typed_macs_.size() * sizeof(typed_macs_[0]));
}

void encode_many(const CodecConfig& config, std::span<const std::span<const uint8_t>> items,
                 std::span<EncodedText> texts, std::span<std::optional<Error>> errors,
                 BatchScratch& s) {
  const size_t n = std::min(items.size(), kBatchLen);
  const bool keyed = config.mode != Mode::kPlain;
  // Only the time prefix of mode open reads the value block after selection.
  const bool keep_blocks = config.mode == Mode::kOpen;
  // Select every value; those that fail go no further. Identifiers of 16 bytes or more at 128
  // bits without a modulus are read as they stand, as select_value reads them, with nothing to
  // refuse once the configuration has what its mode needs.
  const bool whole_heads = config.bit_width == 128 &&
                           config.domain.kind != fpe::CipherDomain::Kind::kModulus &&
                           (!keyed || config.check_key);
  size_t m = 0;
  for (size_t i = 0; i < n; ++i) {
    if (whole_heads && items[i].size() >= 16) {
      errors[i].reset();
      s.values_[m] = U128::from_be_bytes(items[i].data());
      if (keep_blocks) { std::memcpy(s.blocks16_[m].data(), items[i].data(), 16); }
      s.index_[m++] = static_cast<uint32_t>(i);
      continue;
    }
    const Result<Selected> selected = select_value(config, items[i]);
    if (!selected.ok()) {
      errors[i] = selected.error();
      continue;
    }
    errors[i].reset();
    s.values_[m] = selected.value().value;
    if (keep_blocks) { std::memcpy(s.blocks16_[m].data(), selected.value().block, 16); }
    s.index_[m++] = static_cast<uint32_t>(i);
  }
  config.cipher->encrypt_many({s.values_.data(), m}, config.tweak, {s.results_.data(), m});
  // The data digits of each, and for the keyed check the block its digest hashes.
  const size_t num_check = std::min<uint64_t>(config.check_syllables, kMaxCheckSyllables);
  const size_t num_data = data_syllable_count(config);
  const U128 max_value = config.domain.max_value();
  // The digits of 128-bit words many values at a time where the processor has AVX-512, each
  // value's where it stands; they follow their value when an earlier one fails.
#if defined(__x86_64__)
  static const bool with_avx512dq = fpe::cpu_features().avx512dq;
  const bool digits_first = num_data == kMaxDataSyllables && with_avx512dq;
  if (digits_first) { values_to_digits_avx512(s.results_.data(), m, s.digits_.data()); }
#else
  constexpr bool digits_first = false;
#endif
  size_t k = 0;
  for (size_t j = 0; j < m; ++j) {
    if (s.results_[j] > max_value) {
      errors[s.index_[j]] = kNotEnciphered;
      continue;
    }
    if (!digits_first) {
      value_to_digits(s.results_[j], num_data, s.digits_[k].data());
    } else if (k != j) {
      s.digits_[k] = s.digits_[j];
    }
    const std::span<const uint16_t> digits(s.digits_[k].data(), num_data);
    if (keyed && !layout_digits_check_block(digits, s.blocks_[k].data())) {
      errors[s.index_[j]] = kCheckTextTooLong;
      continue;
    }
    if (k != j && keep_blocks) { s.blocks16_[k] = s.blocks16_[j]; }
    s.index_[k++] = s.index_[j];
  }
  if (keyed) { hash_blocks(config, s.blocks_, s.macs_, k); }
  // Each step over the whole batch: the work of one word is a chain of dependent steps, and
  // short loops let the processor run the chains of several words side by side.
  const WordWriter writer(config);
  writer.separator_masks({s.digits_.data(), k}, num_data, s.masks_.data());
  if (keyed) {
    for (size_t j = 0; j < k; ++j) {
      for (size_t c = 0; c < num_check; ++c) {
        s.check_digits_[j][c] = static_cast<uint16_t>(keyed_check_digit(s.macs_[j].data(), c));
      }
    }
  } else {
    plain_check_digits({s.digits_.data(), k}, num_data, num_check, s.check_digits_.data());
  }
  writer.write_many({s.blocks16_.data(), k}, {s.digits_.data(), k}, num_data, s.masks_.data(),
                    s.check_digits_.data(), num_check, s.index_.data(), texts.data());
  if (keyed) { secure_wipe(s.macs_.data(), k * sizeof(s.macs_[0])); }
}

void decode_many(const CodecConfig& config, std::span<const CodeUnits> words,
                 std::span<Bytes16> bytes, std::span<std::optional<Error>> errors,
                 BatchScratch& s) {
  const size_t n = std::min(words.size(), kBatchLen);
  const bool keyed = config.mode != Mode::kPlain;
  const size_t num_data = data_syllable_count(config);
  const size_t num_check = config.check_syllables;
  // Read every word; for the keyed check, lay out the block its digest hashes. For the plain
  // check, keep the text normalize hands out, where it does.
  const size_t m =
      read_words(WordReader(config), keyed, words.first(n), errors,
                 {s.inputs_.data(), s.blocks_.data(), s.text_lens_.data(), s.values_.data(),
                  s.index_.data()});
  // The check first: a word whose check fails is never deciphered, so forged words cost no
  // cycle walk. The plain check digits come from the texts kept, in a pass of their own (their
  // CRC, read right after the text was stored, would wait for the store to reach the cache);
  // those of the other (`spelled`) words from their data digits, several words at a time, as
  // encode_many computes them.
  size_t num_spelled = 0;
  if (keyed) {
    hash_blocks(config, s.blocks_, s.macs_, m);
  } else {
    std::array<uint32_t, kBatchLen> with_text;
    size_t num_with_text = 0;
    for (size_t j = 0; j < m; ++j) {
      if (s.text_lens_[j] != WordsRead::kNoText) {
        with_text[num_with_text++] = static_cast<uint32_t>(j);
      } else {
        s.searched_[num_spelled++] = static_cast<uint32_t>(j);
      }
    }
    plain_check_digits_of_texts(s.blocks_.data(), s.text_lens_.data(),
                                {with_text.data(), num_with_text}, num_check,
                                s.check_digits_.data());
  }
  if (num_spelled != 0) {
    for (size_t t = 0; t < num_spelled; ++t) {
      units_to_digits(s.inputs_[s.searched_[t]].data(), s.digits_[t].data());
    }
    constexpr size_t kGroup = 16;
    std::array<uint16_t, kMaxCheckSyllables> digits[kGroup];
    for (size_t first = 0; first < num_spelled; first += kGroup) {
      const size_t count = std::min(kGroup, num_spelled - first);
      plain_check_digits({s.digits_.data() + first, count}, num_data, num_check, digits);
      for (size_t t = 0; t < count; ++t) { s.check_digits_[s.searched_[first + t]] = digits[t]; }
    }
  }
  size_t k = 0;
  for (size_t j = 0; j < m; ++j) {
    const bool ok = keyed ? keyed_check_matches(s.macs_[j].data(), s.inputs_[j].check())
                          : plain_check_matches(s.check_digits_[j], s.inputs_[j].check());
    if (!ok) {
      errors[s.index_[j]] = kCheckFailed;
      continue;
    }
    s.values_[k] = s.values_[j];
    s.index_[k++] = s.index_[j];
  }
  secure_wipe(s.macs_.data(), m * sizeof(s.macs_[0]));
  decipher(config, s.values_, s.results_, k);
  const ValueEnd end(config);
  for (size_t j = 0; j < k; ++j) {
    if (end.in_domain(s.results_[j])) {
      end.write(s.results_[j], bytes[s.index_[j]]);
    } else {
      errors[s.index_[j]] = kCheckFailed;
    }
  }
}

void recover_many(const CodecConfig& config, std::span<const CodeUnits> words,
                  std::span<Bytes16> bytes, std::span<std::optional<Error>> errors,
                  BatchScratch& s) {
  const size_t n = std::min(words.size(), kBatchLen);
  if (const std::optional<Error> refusal = recovery_refusal(config)) {
    std::fill(errors.begin(), errors.begin() + static_cast<std::ptrdiff_t>(n), refusal);
    return;
  }
  // Start every word and hash its block as typed, all in lanes.
  const WordReader reader(config);
  size_t m = 0;
  // Four at a time, as decode_many reads them. Most words stand as typed: only the words
  // searched below get the offsets of their units in the block (a RecoveryWord's
  // KeyedCheckBlock).
  for (size_t first = 0; first < n; first += 4) {
    const size_t count = std::min<size_t>(4, n - first);
    prefetch_group(words.first(n), first + 8);
    Group group(words.subspan(first, count));
    for (size_t w = 0; w < count; ++w) {
      group.start(w, &s.words_[m + w].input, s.blocks_[m + w].data(), false);
    }
    group.normalize(reader);
    const size_t group_start = m;
    for (size_t w = 0; w < count; ++w) {
      const size_t i = first + w;
      const size_t at = group_start + w;
      const std::optional<Error> failure =
          group.normalized[w]
              ? recovery_block(s.words_[at].input, group.data_texts[w], s.blocks_[at].data())
              : kNormalizationFailed;
      if (failure) {
        errors[i] = *failure;
        continue;
      }
      if (at != m) {
        s.words_[m].input = s.words_[at].input;
        s.blocks_[m] = s.blocks_[at];
      }
      errors[i].reset();
      s.index_[m++] = static_cast<uint32_t>(i);
    }
  }
  if (m == 0) { return; }
  hash_blocks(config, s.blocks_, s.macs_, m);
  std::copy(s.macs_.begin(), s.macs_.begin() + static_cast<std::ptrdiff_t>(m),
            s.typed_macs_.begin());

  // Words that stand as typed are decoded as they are; the others are searched. The values to
  // decipher at the end gather in values_, their items in final_index_.
  size_t num_final = 0;
  size_t num_searched = 0;
  for (size_t j = 0; j < m; ++j) {
    if (typed_word_stands(config, s.words_[j].input, s.typed_macs_[j].data(),
                          &s.values_[num_final])) {
      s.final_index_[num_final++] = s.index_[j];
    } else {
      s.words_[j].block = KeyedCheckBlock(s.words_[j].input.data());
      s.searched_[num_searched++] = static_cast<uint32_t>(j);
    }
  }
  // Every search of a group of words hashes all its substituted blocks in one run of the lanes.
  constexpr size_t kWordsPerSearch = 8;
  Substitution subs[kWordsPerSearch][kMaxSubstitutions];
  size_t num_subs[kWordsPerSearch];
  for (size_t first = 0; first < num_searched; first += kWordsPerSearch) {
    const size_t count = std::min(kWordsPerSearch, num_searched - first);
    size_t num_blocks = 0;
    for (size_t w = 0; w < count; ++w) {
      const RecoveryWord& word = s.words_[s.searched_[first + w]];
      num_subs[w] = list_substitutions(word, subs[w]);
      for (size_t i = 0; i < num_subs[w]; ++i) {
        substituted_block(word, subs[w][i], s.blocks_[num_blocks++].data());
      }
    }
    hash_blocks(config, s.blocks_, s.macs_, num_blocks);
    size_t at = 0;
    for (size_t w = 0; w < count; ++w) {
      const size_t j = s.searched_[first + w];
      const Result<U128> value =
          decide_recovery(config, s.words_[j], s.typed_macs_[j].data(), {subs[w], num_subs[w]},
                          reinterpret_cast<const uint32_t(*)[8]>(s.macs_.data() + at));
      at += num_subs[w];
      if (value.ok()) {
        s.values_[num_final] = value.value();
        s.final_index_[num_final++] = s.index_[j];
      } else {
        errors[s.index_[j]] = value.error();
      }
    }
    secure_wipe(s.macs_.data(), num_blocks * sizeof(s.macs_[0]));
  }
  secure_wipe(s.typed_macs_.data(), m * sizeof(s.typed_macs_[0]));
  decipher(config, s.values_, s.results_, num_final);
  const ValueEnd end(config);
  for (size_t j = 0; j < num_final; ++j) { end.write(s.results_[j], bytes[s.final_index_[j]]); }
}

}  // namespace tavik::core
