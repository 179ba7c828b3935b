// The bulk calls against the single ones: for random configurations and items, every item's
// result (text, bytes or error) is what encode, decode_text and recover_text give it, on every
// lane path this processor can run, at batch sizes around the lane counts.

#include "core/bulk.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/builders.h"
#include "core/decode.h"
#include "core/encode.h"
#include "core/recover.h"
#include "fpe/backend.h"
#include "tests/support/backend_swap.h"
#include "fpe/lanes.h"

namespace tavik::core {
namespace {

CodecConfig random_config(std::mt19937_64& rng) {
  static const char* const kLevels[] = {"universal", "eu", "en", "numeric", "ko"};
  static const char* const kModes[] = {"sealed", "open", "plain"};
  const std::vector<uint8_t> key = {'b', 'u', 'l', 'k', static_cast<uint8_t>(rng())};
  CodecConfig config = construct_config(key, kLevels[rng() % 5], kModes[rng() % 3],
                                        static_cast<uint32_t>(16 + rng() % 113))
                           .value();
  switch (rng() % 6) {
    case 0: config = with_modulus(config, U128::from_u64((1u << 20) + 4112)).value(); break;
    case 1: config = with_modulus(config, U128::from_u64(1000000)).value(); break;
    case 2: config = with_modulus(config, (U128::from_u64(1) << 127) + U128::from_u64(1)).value();
      break;
    case 3: config = with_cipher(config, "shuffle", std::nullopt).value(); break;
    default: break;
  }
  config = with_check_syllables(config, 1 + rng() % 8);
  if (rng() % 2 == 0) { config = with_chunk_fixed(config, rng() % 8); }
  return config;
}

std::string junk(std::mt19937_64& rng) {
  static const char kLetters[] = "makustoleburpa -";
  std::string text;
  for (size_t i = rng() % 40; i > 0; --i) { text += kLetters[rng() % (sizeof(kLetters) - 1)]; }
  return text;
}

// A word with one confused ending (an "L" read as "N" or "R", which recover corrects where
// exactly one correction passes), or a letter removed.
std::string damaged(std::mt19937_64& rng, std::string word) {
  if (word.empty()) { return word; }
  const size_t l = word.find('L', rng() % word.size());
  if (rng() % 4 != 0 && l != std::string::npos) {
    word[l] = rng() % 2 == 0 ? 'N' : 'R';
  } else {
    word.erase(rng() % word.size(), 1);
  }
  return word;
}

void expect_same_error(const std::optional<Error>& bulk, const Error& single, size_t i) {
  ASSERT_TRUE(bulk.has_value()) << "item " << i << " should fail: " << single.message;
  EXPECT_EQ(*bulk, single) << "item " << i;
}

// Items of every outcome seen across the batches, so that the comparison means something.
struct Seen {
  int encode_failed = 0;
  int decode_failed = 0;
  int corrected = 0;  // recover succeeded where decode failed
};

void check_batch(const CodecConfig& config, std::mt19937_64& rng, size_t num_items,
                 BatchScratch& scratch, Seen& seen) {
  std::vector<std::vector<uint8_t>> data(num_items);
  std::vector<std::span<const uint8_t>> items;
  for (auto& d : data) {
    d.resize(rng() % 20);
    for (uint8_t& b : d) { b = static_cast<uint8_t>(rng()); }
    items.emplace_back(d);
  }
  std::vector<EncodedText> texts(num_items);
  std::vector<std::optional<Error>> errors(num_items);
  encode_many(config, items, texts, errors, scratch);
  std::vector<std::string> words;
  for (size_t i = 0; i < num_items; ++i) {
    const Result<EncodedText> single = encode(config, items[i]);
    if (single.ok()) {
      ASSERT_FALSE(errors[i].has_value()) << "item " << i << ": " << errors[i]->message;
      ASSERT_EQ(texts[i].view(), single.value().view()) << "item " << i;
      words.emplace_back(rng() % 3 == 0 ? damaged(rng, std::string(single.value().view()))
                                        : std::string(single.value().view()));
    } else {
      expect_same_error(errors[i], single.error(), i);
      words.push_back(junk(rng));
      ++seen.encode_failed;
    }
  }

  std::vector<CodeUnits> units(words.begin(), words.end());
  std::vector<Bytes16> bytes(num_items);
  for (const bool recovering : {false, true}) {
    std::fill(errors.begin(), errors.end(), std::nullopt);
    if (recovering) {
      recover_many(config, units, bytes, errors, scratch);
    } else {
      decode_many(config, units, bytes, errors, scratch);
    }
    for (size_t i = 0; i < num_items; ++i) {
      const Result<Bytes16> single =
          recovering ? recover_text(config, words[i]) : decode_text(config, words[i]);
      if (single.ok()) {
        ASSERT_FALSE(errors[i].has_value()) << "item " << i << ": " << errors[i]->message;
        ASSERT_EQ(bytes[i], single.value()) << "item " << i << " " << words[i];
        seen.corrected += recovering && !decode_text(config, words[i]).ok() ? 1 : 0;
      } else {
        expect_same_error(errors[i], single.error(), i);
        seen.decode_failed += recovering ? 0 : 1;
      }
    }
  }
}

TEST(Bulk, EveryItemAsTheSingleCallOnEveryBackend) {
  std::mt19937_64 rng(2024);
  BatchScratch scratch;
  for (const fpe::Backend& backend : fpe::available_backends()) {
    const testing::ScopedBackend scoped(backend);
    SCOPED_TRACE("backend " + std::string(backend.name));
    Seen seen;
    for (const size_t num_items : {size_t{0}, size_t{1}, size_t{3}, size_t{4}, size_t{5},
                                   size_t{17}, kBatchLen - 1, kBatchLen}) {
      SCOPED_TRACE("batch of " + std::to_string(num_items));
      check_batch(random_config(rng), rng, num_items, scratch, seen);
    }
    for (int round = 0; round < 16; ++round) {
      check_batch(random_config(rng), rng, 37, scratch, seen);
    }
    EXPECT_GT(seen.encode_failed, 25);
    EXPECT_GT(seen.decode_failed, 250);
    EXPECT_GT(seen.corrected, 25);
  }
}

}  // namespace
}  // namespace tavik::core
