// The working paths never touch the heap: encrypt and decrypt, encode (whose only allocation,
// the Python str, belongs to the binding), decode and a successful recovery. A replacement of
// the global operator new counts the allocations made inside a scope.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/builders.h"
#include "core/bulk.h"
#include "core/encode.h"
#include "core/config.h"
#include "core/decode.h"
#include "core/normalize.h"
#include "core/recover.h"
#include "core/render.h"
#include "fpe/cipher.h"
#include "fpe/feistel.h"
#include "fpe/hmac.h"
#include "fpe/lanes.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<size_t> num_allocations{0};

void* allocate(size_t len) {
  if (counting.load(std::memory_order_relaxed)) { num_allocations.fetch_add(1); }
  if (void* p = std::malloc(len == 0 ? 1 : len)) { return p; }
  throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t len) { return allocate(len); }
void* operator new[](size_t len) { return allocate(len); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace tavik {
namespace {

using core::CodecConfig;

// AllocationCount counts the allocations of the thread's work between construction and
// count(). The tests run one at a time, so nothing else allocates meanwhile.
class AllocationCount {
 public:
  AllocationCount() {
    num_allocations = 0;
    counting = true;
  }
  ~AllocationCount() { counting = false; }
  size_t count() const { return num_allocations.load(); }
};

const uint8_t kKey[] = {'a', 'l', 'l', 'o', 'c'};
const uint8_t kUuid[16] = {0x01, 0x8f, 0x3a, 0x9c, 0x4d, 0x21, 0x7b, 0x10,
                           0x9a, 0x55, 0x3c, 0x21, 0x00, 0xfe, 0x42, 0x17};

TEST(Allocation, CountingSeesAnAllocation) {
  AllocationCount allocations;
  auto p = std::make_unique<int>(1);
  EXPECT_EQ(allocations.count(), 1u);
}

TEST(Allocation, CipherAllocatesNothing) {
  const std::vector<uint8_t> long_tweak(60, 7);  // the streamed round function
  const uint8_t tweak[4] = {0, 0, 128, 0};
  for (const fpe::CipherDomain& domain : {fpe::CipherDomain::bits(128), fpe::CipherDomain::bits(17),
                                          fpe::CipherDomain::mod(U128::from_u64(1000003))}) {
    const fpe::Feistel8 cipher(fpe::derive_cipher_key(kKey, domain));
    AllocationCount allocations;
    U128 v = U128::from_u64(12345);
    for (std::span<const uint8_t> t :
         {std::span<const uint8_t>(tweak), std::span<const uint8_t>(long_tweak)}) {
      v = cipher.decrypt(cipher.encrypt(v, t), t);
      v = cipher.decrypt_portable(cipher.encrypt_portable(v, t), t);
    }
    EXPECT_EQ(allocations.count(), 0u) << domain.bit_count();
    EXPECT_EQ(v, U128::from_u64(12345));
  }
}

// The bulk forms on every path this processor runs, with walks (a modulus) and leftovers.
TEST(Allocation, BulkCipherAndHmacAllocateNothing) {
  const uint8_t tweak[4] = {0, 0, 20, 0};
  const fpe::CipherKeyState state =
      fpe::derive_cipher_key(kKey, fpe::CipherDomain::mod(U128::from_u64(1000003)));
  std::vector<U128> values(37);
  for (size_t i = 0; i < values.size(); ++i) { values[i] = U128::from_u64(27011 * i); }
  std::vector<U128> out(values.size());
  uint8_t blocks[37][fpe::kSha256BlockLen] = {};
  uint32_t macs[37][8];
  for (fpe::LanePath path : fpe::kAllLanePaths) {
    if (!fpe::lane_path_available(path)) { continue; }
    AllocationCount allocations;
    fpe::feistel_encrypt_many(state, tweak, values, out, path);
    fpe::feistel_decrypt_many(state, tweak, out, out, path);
    fpe::hmac_blocks_many(state.hmac, blocks, 37, macs, path);
    EXPECT_EQ(allocations.count(), 0u) << fpe::lane_path_name(path);
    EXPECT_EQ(out, values) << fpe::lane_path_name(path);
  }
}

// Encode in every mode and with the layouts and settings that change its work, then decode
// and recover what it wrote.
// The bulk calls allocate their scratch once; after that no item costs an allocation.
TEST(Allocation, BulkCodecAllocatesNothingPerItem) {
  for (const char* mode : {"sealed", "plain"}) {
    const CodecConfig config =
        core::with_modulus(core::construct_config(kKey, "en", mode, 128).value(),
                           U128::from_u64(1000003))
            .value();
    std::vector<std::array<uint8_t, 3>> data(300);
    std::vector<std::span<const uint8_t>> items;
    for (size_t i = 0; i < data.size(); ++i) {
      data[i] = {static_cast<uint8_t>(i % 15), static_cast<uint8_t>(i), 7};
      items.emplace_back(data[i]);
    }
    std::vector<core::EncodedText> texts(items.size());
    std::vector<std::optional<Error>> errors(items.size());
    std::vector<core::Bytes16> bytes(items.size());
    core::BatchScratch scratch;
    core::encode_many(config, items, texts, errors, scratch);
    std::vector<std::string> words;
    for (size_t i = 0; i < texts.size(); ++i) {
      std::string word(texts[i].view());
      if (i % 3 == 0 && word.find('L') != std::string::npos) { word[word.find('L')] = 'R'; }
      words.push_back(word);
    }
    const std::vector<core::CodeUnits> units(words.begin(), words.end());
    AllocationCount allocations;
    core::encode_many(config, items, texts, errors, scratch);
    core::decode_many(config, units, bytes, errors, scratch);
    core::recover_many(config, units, bytes, errors, scratch);
    EXPECT_EQ(allocations.count(), 0u) << mode;
  }
}

TEST(Allocation, CodecPathsAllocateNothing) {
  std::vector<CodecConfig> configs;
  for (const char* mode : {"sealed", "open", "plain"}) {
    const CodecConfig base = core::construct_config(kKey, "universal", mode, 128).value();
    configs.push_back(base);
    configs.push_back(core::with_check_syllables(core::with_bit_width(base, 64), 8));
    configs.push_back(core::with_chunk_pattern(base, {3, 4, 2}));
    configs.push_back(core::with_separator(base, "\xE2\x80\xA2").value());
    configs.push_back(core::with_modulus(base, U128::from_u64(1000003)).value());
  }
  size_t num_recovered = 0;
  for (const CodecConfig& config : configs) {
    const uint8_t small[3] = {0x01, 0x02, 0x03};
    const std::span<const uint8_t> data = config.domain.kind == fpe::CipherDomain::Kind::kModulus
                                              ? std::span<const uint8_t>(small)
                                              : std::span<const uint8_t>(kUuid);
    core::EncodedText word;
    {
      AllocationCount allocations;
      auto encoded = core::encode(config, data);
      ASSERT_TRUE(encoded.ok());
      word = encoded.value();
      EXPECT_EQ(allocations.count(), 0u) << "encode " << word.view();
    }
    {
      AllocationCount allocations;
      const auto decoded = core::decode_text(config, word.view());
      EXPECT_TRUE(decoded.ok());
      EXPECT_EQ(allocations.count(), 0u) << "decode " << word.view();
    }
    if (config.mode == core::Mode::kPlain) { continue; }
    // The word with its first confusable data unit replaced by a neighbour, spelled in the
    // universal level of these configurations.
    core::NormalizedInput input;
    ASSERT_TRUE(core::normalize(0, word.view(), 2 * core::data_syllable_count(config),
                                2 * config.check_syllables, &input));
    const core::ConfusionGraph& graph = core::ConfusionGraph::instance();
    for (size_t k = 0; k < input.num_data_units; ++k) {
      if (!graph.neighbours(input.data_units[k]).empty()) {
        input.data_units[k] = graph.neighbours(input.data_units[k])[0];
        break;
      }
    }
    const std::string typo =
        core::canonical_text(input.data()) + "-" + core::canonical_text(input.check());
    AllocationCount allocations;
    const auto recovered = core::recover_text(config, typo);
    if (!recovered.ok()) { continue; }  // rarely, another substitution passes too
    ++num_recovered;
    EXPECT_EQ(allocations.count(), 0u) << "recover " << typo;
  }
  EXPECT_GE(num_recovered, 8u);
}

}  // namespace
}  // namespace tavik
