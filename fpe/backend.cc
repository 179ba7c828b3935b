#include "fpe/backend.h"

#include <array>

#include "fpe/cpu.h"
#include "fpe/feistel_pass.h"
#include "fpe/sha256_kernels.h"
#include "fpe/sha256_portable.h"

namespace tavik::fpe {
namespace {

// BlockForm is one form of the block functions and of the cipher in registers.
struct BlockForm {
  std::string_view name;
  Sha256BlockFn compress;
  HmacBlockFn hmac_block;
  HmacOuterFn hmac_outer;
  FeistelFn encrypt;
  FeistelFn decrypt;
  DecryptWithMacFn decrypt_with_mac;
};

constexpr BlockForm kGeneric = {"generic", sha256_compress_generic, sha256_hmac_block_generic,
                                sha256_hmac_outer_generic, nullptr, nullptr, nullptr};
#if defined(__x86_64__) || defined(__aarch64__)
constexpr BlockForm kSha = {"sha",           sha256_compress_sha,  sha256_hmac_block_sha,
                            sha256_hmac_outer_sha, feistel::encrypt_sha, feistel::decrypt_sha,
                            feistel::decrypt_with_mac_sha};
#endif
#if defined(__x86_64__)
constexpr BlockForm kBmi2 = {"bmi2", sha256_compress_bmi2, sha256_hmac_block_bmi2,
                             sha256_hmac_outer_bmi2, nullptr, nullptr, nullptr};
#endif

bool has_sha() { return cpu_features().sha || cpu_features().arm_sha2; }

constexpr size_t kMaxBackends = 16;

Backend combine(const BlockForm& form, LanePath lanes, std::array<char, 32>* name_buffer) {
  const std::string_view lane_name = lane_path_name(lanes);
  size_t len = 0;
  for (const char c : form.name) { (*name_buffer)[len++] = c; }
  (*name_buffer)[len++] = '/';
  for (const char c : lane_name) { (*name_buffer)[len++] = c; }
  return Backend{std::string_view(name_buffer->data(), len),
                 form.compress,
                 form.hmac_block,
                 form.hmac_outer,
                 form.encrypt,
                 form.decrypt,
                 form.decrypt_with_mac,
                 lanes};
}

// The form of the block functions that this processor runs fastest.
const BlockForm& best_form() {
#if defined(__x86_64__) || defined(__aarch64__)
  if (has_sha()) { return kSha; }
#endif
#if defined(__x86_64__)
  if (cpu_features().bmi2) { return kBmi2; }
#endif
  return kGeneric;
}

}  // namespace

Backend detect_backend() {
  const BlockForm& form = best_form();
  const LanePath lanes = fastest_lanes(form.hmac_block);
  for (const Backend& b : available_backends()) {
    if (b.compress == form.compress && b.lanes == lanes) { return b; }
  }
  return available_backends().back();  // not reached: every choice above is listed
}

std::span<const Backend> available_backends() {
  // The names live beside the tables, for the string_views.
  static std::array<std::array<char, 32>, kMaxBackends> names;
  static std::array<Backend, kMaxBackends> all;
  static const size_t count = [] {
    size_t n = 0;
    auto add = [&](const BlockForm& form, LanePath lanes) {
      if (n < kMaxBackends && lane_path_available(lanes)) {
        all[n] = combine(form, lanes, &names[n]);
        ++n;
      }
    };
#if defined(__x86_64__) || defined(__aarch64__)
    if (has_sha()) {
      for (const LanePath lanes : kAllLanePaths) { add(kSha, lanes); }
    }
#endif
#if defined(__x86_64__)
    // The vector lanes with our own rounds only where no SHA instructions are there to take
    // them (with them, "sha" above runs the same lane kernels).
    if (cpu_features().bmi2) {
      add(kBmi2, LanePath::kSingle);
      if (!has_sha()) {
        add(kBmi2, LanePath::kAvx2x8);
        add(kBmi2, LanePath::kAvx512x16);
      }
    }
#endif
    add(kGeneric, LanePath::kSingle);
    add(kGeneric, LanePath::kWasm4);
    return n;
  }();
  return {all.data(), count};
}

bool lane_path_available(LanePath path) {
  const CpuFeatures& f = cpu_features();
  switch (path) {
    case LanePath::kSingle: return true;
    case LanePath::kSha1:
    case LanePath::kSha2:
    case LanePath::kSha3:
    case LanePath::kSha4: return has_sha();
    case LanePath::kSha4Vl: return f.sha && f.avx512vl;
    case LanePath::kAvx2x8: return f.avx2;
    case LanePath::kAvx512x16: return f.avx512f;
#if defined(__wasm_simd128__)
    case LanePath::kWasm4: return true;
#else
    case LanePath::kWasm4: return false;
#endif
  }
  return false;
}

std::string_view lane_path_name(LanePath path) {
  switch (path) {
    case LanePath::kSingle: return "single";
    case LanePath::kSha1: return "sha1";
    case LanePath::kSha2: return "sha2";
    case LanePath::kSha3: return "sha3";
    case LanePath::kSha4: return "sha4";
    case LanePath::kSha4Vl: return "sha4-vl";
    case LanePath::kAvx2x8: return "avx2x8";
    case LanePath::kAvx512x16: return "avx512x16";
    case LanePath::kWasm4: return "wasm-simd4";
  }
  return "?";
}

}  // namespace tavik::fpe
