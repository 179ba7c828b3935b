// Words that no encode writes: in a modulus just above a power of two with an odd bit length,
// some values of the domain decipher outside it (the cipher keeps the top bit, and the walk
// back runs out of passes). A word spelling such a value with valid check syllables must not
// decode to bytes outside the domain (plain mode, modulus 2^12 + 16, among others).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/builders.h"
#include "core/check.h"
#include "core/config.h"
#include "core/decode.h"
#include "core/recover.h"
#include "core/render.h"

namespace tavik::core {
namespace {

// The word of a code value as encode would spell it, whatever the cipher says.
std::string spell(const CodecConfig& config, U128 value) {
  const size_t n = data_syllable_count(config);
  uint8_t units[kMaxDataUnits];
  value_to_units(value, n, units);
  uint8_t check[kMaxCheckUnits];
  const size_t num_check = compute_check_units(config.mode, config.check_key.get(),
                                               {units, 2 * n}, config.check_syllables, check);
  std::string word;
  const auto level = static_cast<uint8_t>(config.level);
  for (size_t i = 0; i < 2 * n; ++i) { word += render_unit(units[i], level); }
  word += '-';
  for (size_t i = 0; i < num_check; ++i) { word += render_unit(check[i], level); }
  return word;
}

TEST(DomainWalk, WordsThatDecipherOutsideTheModulusAreRefused) {
  const std::vector<uint8_t> key = {'w', 'a', 'l', 'k'};
  const U128 m = U128::from_u64(0x1010);
  for (const char* mode : {"plain", "sealed"}) {
    const CodecConfig config = with_modulus(construct_config(key, "en", mode, 128).value(), m).value();
    int outside = 0;
    for (uint64_t v = 0x1000; v < 0x1010; ++v) {
      const U128 value = U128::from_u64(v);
      const bool returns = config.cipher->decrypt(value, config.tweak) < m;
      const std::string word = spell(config, value);
      const Result<Bytes16> decoded = decode_text(config, word);
      ASSERT_EQ(decoded.ok(), returns) << mode << " " << v;
      if (decoded.ok()) {
        ASSERT_LT(U128::from_be_bytes(decoded.value().data()), m);
      } else {
        ASSERT_EQ(decoded.error(), kCheckFailed);
        ++outside;
      }
      if (config.mode != Mode::kPlain) {
        const Result<Bytes16> recovered = recover_text(config, word);
        if (recovered.ok()) { ASSERT_LT(U128::from_be_bytes(recovered.value().data()), m); }
      }
    }
    EXPECT_GT(outside, 0) << mode;
  }
}

// RecordingCipher forwards to a real cipher and counts the full decryptions (each may walk up
// to 257 passes) and the walks that decrypt_with_mac was allowed to finish.
class RecordingCipher final : public fpe::FpeCipher {
 public:
  explicit RecordingCipher(fpe::CipherHandle real) : real_(std::move(real)) {}
  fpe::CipherKind kind() const override { return real_->kind(); }
  U128 encrypt(U128 value, std::span<const uint8_t> tweak) const override {
    return real_->encrypt(value, tweak);
  }
  U128 decrypt(U128 value, std::span<const uint8_t> tweak) const override {
    ++full_decrypts;
    return real_->decrypt(value, tweak);
  }
  U128 decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const fpe::HmacKey& other,
                        const fpe::BlockWriter& write_block, uint32_t mac[8],
                        const fpe::MacFilter& walk_on) const override {
    struct Spy final : fpe::MacFilter {
      const fpe::MacFilter* inner;
      int* walks;
      bool operator()(const uint32_t m[8]) const override {
        const bool on = (*inner)(m);
        *walks += on ? 1 : 0;
        return on;
      }
    } spy;
    spy.inner = &walk_on;
    spy.walks = &walks_allowed;
    return real_->decrypt_with_mac(value, tweak, other, write_block, mac, spy);
  }
  mutable int full_decrypts = 0;
  mutable int walks_allowed = 0;

 private:
  fpe::CipherHandle real_;
};

// A forged word (check syllables that do not match) must not cost a cycle walk: in a modulus
// just above a power of two a walk can take 257 passes, a hundred times a real word's cost.
TEST(DomainWalk, ForgedWordsAreRefusedBeforeAnyWalk) {
  const std::vector<uint8_t> key = {'f', 'o', 'r', 'g', 'e'};
  CodecConfig config =
      with_modulus(construct_config(key, "universal", "sealed", 128).value(),
                   U128::from_u64((1u << 20) + 4112))
          .value();
  auto recording = std::make_shared<RecordingCipher>(config.cipher);
  config.cipher = recording;
  int forged = 0;
  for (uint64_t v = 0x100000; v < 0x101010; v += 3) {
    std::string word = spell(config, U128::from_u64(v));
    // Another check syllable: "ma" unless it already is, then "ka".
    const std::string check = word.substr(word.find('-') + 1);
    word = word.substr(0, word.find('-') + 1) + (check == "ma" ? "ka" : "ma");
    ASSERT_FALSE(decode_text(config, word).ok());
    const Result<Bytes16> recovered = recover_text(config, word);
    forged += recovered.ok() ? 0 : 1;
  }
  EXPECT_GT(forged, 1000);
  EXPECT_EQ(recording->walks_allowed, 0);
  // recover deciphers only what passes a check: the few substitutions that do by chance.
  EXPECT_LT(recording->full_decrypts, forged / 50);
}

}  // namespace
}  // namespace tavik::core
