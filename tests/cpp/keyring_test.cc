// Reading under a keyring against its definition: a word is taken under the one key whose own
// decode (or recovery) takes it, refused as ambiguous when more than one does, and fails as
// every key's decode fails when none does; the bulk calls give every item the single call's
// result, and rekeying writes what the first key's encode writes.

#include "core/keyring.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/builders.h"
#include "core/decode.h"
#include "core/encode.h"
#include "core/recover.h"

namespace tavik::core {
namespace {

// keyring_of makes codecs of one setting under different keys.
std::vector<CodecConfig> codecs_of(const CodecConfig& base, size_t num_keys, uint64_t seed) {
  std::vector<CodecConfig> codecs;
  for (size_t k = 0; k < num_keys; ++k) {
    const std::vector<uint8_t> key = {'k', static_cast<uint8_t>(k), static_cast<uint8_t>(seed)};
    CodecConfig c = construct_config(key, level_name(base.level), mode_name(base.mode),
                                     base.bit_width)
                        .value();
    if (base.domain.kind == fpe::CipherDomain::Kind::kModulus) {
      c = with_modulus(c, base.domain.modulus).value();
    }
    codecs.push_back(with_check_syllables(c, base.check_syllables));
  }
  return codecs;
}

std::vector<const CodecConfig*> pointers(const std::vector<CodecConfig>& codecs) {
  std::vector<const CodecConfig*> out;
  for (const CodecConfig& c : codecs) { out.push_back(&c); }
  return out;
}

// expected is the definition: a word that decodes under exactly one key is read under it
// (under several: ambiguous); otherwise, when recovering, the one key whose recovery finds
// candidates decides (two such keys: ambiguous).
Result<KeyedBytes> expected(Keyring keyring, const std::string& word, bool recovering) {
  std::optional<KeyedBytes> taken;
  std::optional<Error> failure;
  size_t num_taken = 0;
  for (size_t k = 0; k < keyring.size(); ++k) {
    const Result<Bytes16> r = decode_text(*keyring[k], word);
    if (r.ok()) {
      ++num_taken;
      taken = KeyedBytes{r.value(), static_cast<uint32_t>(k)};
    } else if (!failure) {
      failure = r.error();
    }
  }
  if (num_taken > 1) { return kAmbiguousKey; }
  if (taken || !recovering) { return taken ? Result<KeyedBytes>(*taken) : *failure; }
  Result<KeyedBytes> found = kUnrecoverable;
  size_t num_found = 0;
  for (size_t k = 0; k < keyring.size(); ++k) {
    const Result<Bytes16> r = recover_text(*keyring[k], word);
    if (r.ok()) {
      found = KeyedBytes{r.value(), static_cast<uint32_t>(k)};
    } else if (r.error().message.starts_with("ambiguous")) {
      found = r.error();
    } else {
      if (k == 0 && r.error() != kUnrecoverable) { return r.error(); }
      continue;
    }
    ++num_found;
  }
  if (num_found > 1) { return kAmbiguousKey; }
  return found;
}

void expect_same(const Result<KeyedBytes>& got, const Result<KeyedBytes>& want,
                 const std::string& word) {
  ASSERT_EQ(got.ok(), want.ok()) << word << ": " << (got.ok() ? want : got).error().message;
  if (got.ok()) {
    EXPECT_EQ(got.value().bytes, want.value().bytes) << word;
    EXPECT_EQ(got.value().key_index, want.value().key_index) << word;
  } else {
    EXPECT_EQ(got.error(), want.error()) << word;
  }
}

TEST(Keyring, ReadsEveryWordAsItsDefinitionOverTwoAndThreeKeys) {
  std::mt19937_64 rng(17);
  KeyringScratch scratch;
  size_t num_ambiguous = 0;
  size_t num_taken_late = 0;
  for (const size_t num_keys : {size_t{2}, size_t{3}}) {
    for (const char* mode : {"sealed", "open"}) {
      for (int domain = 0; domain < 3; ++domain) {
        CodecConfig base = construct_config(std::vector<uint8_t>{1}, "universal", mode,
                                            domain == 1 ? 40 : 128)
                               .value();
        if (domain == 2) { base = with_modulus(base, U128::from_u64(1000003)).value(); }
        const std::vector<CodecConfig> codecs = codecs_of(base, num_keys, rng());
        const std::vector<const CodecConfig*> ptrs = pointers(codecs);
        const Keyring keyring(ptrs.data(), ptrs.size());
        ASSERT_FALSE(check_keyring(keyring).has_value());
        // With one check syllable about one word in 700 passes a wrong key's check: 3000
        // words under the keys give words that pass under two.
        std::vector<std::string> words;
        for (int i = 0; i < 3000; ++i) {
          uint8_t id[16];
          for (uint8_t& b : id) { b = static_cast<uint8_t>(rng()); }
          const Result<EncodedText> encoded = encode(codecs[rng() % num_keys], id);
          if (!encoded.ok()) { continue; }  // not below the modulus
          std::string word(encoded.value().view());
          if (i % 5 == 0) { word[rng() % word.size()] = 'L'; }  // a typo, or junk
          words.push_back(word);
        }
        for (size_t first = 0; first < words.size(); first += kBatchLen) {
          const size_t n = std::min(kBatchLen, words.size() - first);
          std::vector<CodeUnits> units(words.begin() + static_cast<std::ptrdiff_t>(first),
                                       words.begin() + static_cast<std::ptrdiff_t>(first + n));
          std::vector<KeyedBytes> out(n);
          std::vector<std::optional<Error>> errors(n);
          keyring_decode_many(keyring, units, out, errors, scratch);
          for (size_t i = 0; i < n; ++i) {
            const std::string& word = words[first + i];
            const Result<KeyedBytes> want = expected(keyring, word, false);
            expect_same(keyring_decode(keyring, word), want, word);
            expect_same(errors[i] ? Result<KeyedBytes>(*errors[i]) : out[i], want, word);
            num_ambiguous += !want.ok() && want.error() == kAmbiguousKey ? 1u : 0u;
            num_taken_late += want.ok() && want.value().key_index > 0 ? 1u : 0u;
          }
        }
        for (size_t i = 0; i < words.size(); i += 7) {
          expect_same(keyring_recover(keyring, words[i]), expected(keyring, words[i], true),
                      words[i]);
        }
      }
    }
  }
  EXPECT_GE(num_ambiguous, 10u);  // about 3000 * 12 / 5 / 700 * (keys - 1)
  EXPECT_GE(num_taken_late, 10000u);
}

TEST(Keyring, RefusesCodecsThatDifferInMoreThanTheirKeys) {
  const CodecConfig a = construct_config(std::vector<uint8_t>{1}, "universal", "sealed", 128).value();
  const CodecConfig b = construct_config(std::vector<uint8_t>{2}, "universal", "sealed", 128).value();
  const CodecConfig same_key_as_a =
      construct_config(std::vector<uint8_t>{1}, "universal", "sealed", 128).value();
  const CodecConfig other_check = with_check_syllables(b, 2);
  const CodecConfig other_width = with_bit_width(b, 64);
  const CodecConfig other_separator = with_separator(b, ".").value();
  const CodecConfig plain = construct_config(std::nullopt, "universal", "plain", 128).value();
  const auto refusal = [](std::vector<const CodecConfig*> codecs) {
    const std::optional<Error> e = check_keyring({codecs.data(), codecs.size()});
    return e ? std::string(e->message) : std::string();
  };
  EXPECT_EQ(refusal({}), kEmptyKeyring.message);
  EXPECT_EQ(refusal({&a, &b}), "");
  EXPECT_EQ(refusal({&a, &other_check}), "keyring codecs differ in check_syllables");
  EXPECT_EQ(refusal({&a, &b, &other_width}), "keyring codecs differ in bit_width");
  EXPECT_EQ(refusal({&a, &other_separator}), "keyring codecs differ in separator");
  EXPECT_EQ(refusal({&a, &b, &same_key_as_a}), kKeyringSameKey.message);
  EXPECT_EQ(refusal({&plain}), kKeyringPlain.message);
}

TEST(Keyring, RekeysEveryWordToTheFirstKey) {
  CodecConfig base = construct_config(std::vector<uint8_t>{1}, "universal", "open", 128).value();
  // Three check syllables: with two, one word in about 490 000 passes under the other key too.
  base = with_check_syllables(base, 3);
  const std::vector<CodecConfig> codecs = codecs_of(base, 2, 5);  // [new, old]
  const std::vector<const CodecConfig*> ptrs = pointers(codecs);
  const Keyring keyring(ptrs.data(), ptrs.size());
  std::mt19937_64 rng(99);
  KeyringScratch scratch;
  BatchScratch encode_scratch;
  std::vector<std::array<uint8_t, 16>> ids(kBatchLen);
  std::vector<std::span<const uint8_t>> items(kBatchLen);
  std::vector<EncodedText> old_words(kBatchLen), new_words(kBatchLen), rekeyed(kBatchLen);
  std::vector<std::optional<Error>> errors(kBatchLen);
  std::vector<CodeUnits> units(kBatchLen);
  // A million words go through the command line's test; here a debug build's share.
  constexpr size_t kNumWords = 40000;
  size_t num_rekeyed = 0;
  for (size_t done = 0; done < kNumWords; done += kBatchLen) {
    const size_t n = std::min(kBatchLen, kNumWords - done);
    for (size_t i = 0; i < n; ++i) {
      for (uint8_t& b : ids[i]) { b = static_cast<uint8_t>(rng()); }
      ids[i][6] = static_cast<uint8_t>(0x70 | (ids[i][6] & 15));  // a UUIDv7: a time prefix
      items[i] = ids[i];
    }
    encode_many(*ptrs[1], {items.data(), n}, {old_words.data(), n}, {errors.data(), n},
                encode_scratch);
    encode_many(*ptrs[0], {items.data(), n}, {new_words.data(), n}, {errors.data(), n},
                encode_scratch);
    for (size_t i = 0; i < n; ++i) {
      // Every eighth word is already under the new key, every 1000th damaged.
      units[i] = i % 8 == 0 ? CodeUnits(new_words[i].view()) : CodeUnits(old_words[i].view());
      if ((done + i) % 1000 == 999) { units[i] = CodeUnits("NOT A WORD"); }
    }
    keyring_rekey_many(keyring, {units.data(), n}, {rekeyed.data(), n}, {errors.data(), n},
                       scratch, encode_scratch);
    for (size_t i = 0; i < n; ++i) {
      if ((done + i) % 1000 == 999) {
        ASSERT_TRUE(errors[i].has_value());
        continue;
      }
      ASSERT_FALSE(errors[i].has_value()) << errors[i]->message;
      ASSERT_EQ(rekeyed[i].view(), new_words[i].view());
      ++num_rekeyed;
    }
  }
  EXPECT_EQ(num_rekeyed, kNumWords - kNumWords / 1000);
}

}  // namespace
}  // namespace tavik::core
