// The SHA-256 block functions side by side, and one HMAC-SHA-256 of a cipher round's 13-byte
// message through OpenSSL's supported interfaces against our finish from absorbed states.
// Every call waits for the one before, as the rounds of the cipher do.
//
// The cases take turns in slices of about 100 microseconds, in a new random order each round,
// so a busy machine disturbs them alike; a slice is too short to be preempted often, and the
// fastest slice of a case is its cost on an undisturbed core. The table gives the fastest and
// the median slice per call, and the fastest over that of OpenSSL's block function: all from
// this one run. OpenSSL picks its code by the processor, which the OPENSSL_ia32cap environment
// variable can narrow (bench/sha256_bench.sh); our functions ignore that variable.
//
//   tavik_sha256_bench [seconds]   (default 4)

// SHA256_Transform is deprecated since OpenSSL 3.0; it is measured here as the block function
// the library uses today.
#define OPENSSL_API_COMPAT 0x10101000L

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fpe/backend.h"
#include "fpe/cipher.h"
#include "fpe/feistel.h"
#include "fpe/hmac.h"
#include "fpe/sha256.h"
#include "fpe/sha256_portable.h"
#include "tests/support/openssl_sha256.h"

namespace tavik {
namespace {

constexpr uint8_t kKey[] = {'b', 'e', 'n', 'c', 'h', ' ', 'k', 'e', 'y'};
constexpr size_t kMessageLen = 13;  // a round message: half, tweak, round number
constexpr uint8_t kFirstMessage[kMessageLen] = {0, 0, 0, 128, 0};

// A case runs its operation n times in a row.
struct Case {
  std::string name;
  std::function<void(size_t n)> run;
};

// ---- Block functions: each compression chains on the previous chaining value.

Case compress_case(std::string name, fpe::Sha256BlockFn compress) {
  auto state = std::make_shared<fpe::Sha256State>(fpe::sha256_initial_state());
  return {std::move(name), [state, compress](size_t n) {
            static const uint8_t kBlock[fpe::kSha256BlockLen] = {'t', 'a', 'v', 'i', 'k'};
            for (size_t i = 0; i < n; ++i) { compress(state->h, kBlock); }
          }};
}

// SHA256_Transform on a context of its own, without the copies and wipe of
// openssl_reference::sha256_compress_openssl: OpenSSL's block function alone.
Case transform_case() {
  auto ctx = std::make_shared<SHA256_CTX>();
  SHA256_Init(ctx.get());
  return {"openssl SHA256_Transform", [ctx](size_t n) {
            static const uint8_t kBlock[fpe::kSha256BlockLen] = {'t', 'a', 'v', 'i', 'k'};
            for (size_t i = 0; i < n; ++i) { SHA256_Transform(ctx.get(), kBlock); }
          }};
}

// ---- One HMAC of a 13-byte message. Each message carries eight bytes of the previous MAC.

using HmacBlockFn = void (*)(const uint32_t*, const uint32_t*, const uint8_t*, uint32_t*);

// Our finish from absorbed key states: the padded message is one inner block.
Case hmac_block_case(std::string name, HmacBlockFn hmac_block) {
  struct State {
    fpe::HmacKey key = fpe::HmacKey::derive(kKey);
    uint8_t block[fpe::kSha256BlockLen] = {};
    uint32_t mac[8] = {};
  };
  auto s = std::make_shared<State>();
  std::memcpy(s->block, kFirstMessage, kMessageLen);
  s->block[kMessageLen] = 0x80;
  s->block[62] = (64 + kMessageLen) * 8 / 256;
  s->block[63] = (64 + kMessageLen) * 8 % 256;
  return {std::move(name), [s, hmac_block](size_t n) {
            for (size_t i = 0; i < n; ++i) {
              std::memcpy(s->block + 5, s->mac, 8);
              hmac_block(s->key.inner_state().h, s->key.outer_state().h, s->block, s->mac);
            }
          }};
}

// The state of the OpenSSL HMAC cases: the message, which takes part of each MAC, and the MAC.
struct MacChain {
  uint8_t message[kMessageLen];
  uint8_t mac[32] = {};
  MacChain() { std::memcpy(message, kFirstMessage, kMessageLen); }
};

// check_first_mac stops the program when one way's first MAC is not the one-call HMAC's.
void check_first_mac(const char* way, const uint8_t* mac) {
  uint8_t expected[32];
  unsigned int len = 0;
  HMAC(EVP_sha256(), kKey, sizeof(kKey), kFirstMessage, kMessageLen, expected, &len);
  if (std::memcmp(mac, expected, sizeof(expected)) != 0) {
    std::fprintf(stderr, "%s gave another MAC than HMAC()\n", way);
    std::exit(1);
  }
}

struct EvpMac {
  EVP_MAC* mac = nullptr;
  EVP_MAC_CTX* keyed = nullptr;
  MacChain chain;

  EvpMac() {
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_END};
    mac = EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr);
    keyed = EVP_MAC_CTX_new(mac);
    if (mac == nullptr || keyed == nullptr ||
        EVP_MAC_init(keyed, kKey, sizeof(kKey), params) != 1) {
      std::fprintf(stderr, "EVP_MAC HMAC-SHA256 is not available\n");
      std::exit(1);
    }
  }
  EvpMac(const EvpMac&) = delete;
  EvpMac& operator=(const EvpMac&) = delete;
  ~EvpMac() {
    EVP_MAC_CTX_free(keyed);
    EVP_MAC_free(mac);
  }
};

// EVP_MAC with the key set once: a null key to EVP_MAC_init starts the next MAC from the
// absorbed key (a copy of OpenSSL's inner state) on the same context, the cheapest way that
// EVP_MAC offers.
Case evp_mac_reinit_case() {
  auto evp = std::make_shared<EvpMac>();
  const auto one = [](EvpMac& e) {
    size_t len = 0;
    EVP_MAC_init(e.keyed, nullptr, 0, nullptr);
    EVP_MAC_update(e.keyed, e.chain.message, kMessageLen);
    EVP_MAC_final(e.keyed, e.chain.mac, &len, sizeof(e.chain.mac));
    std::memcpy(e.chain.message + 5, e.chain.mac, 8);
  };
  one(*evp);
  check_first_mac("EVP_MAC_init with a null key", evp->chain.mac);
  return {"openssl EVP_MAC, key kept", [evp, one](size_t n) {
            for (size_t i = 0; i < n; ++i) { one(*evp); }
          }};
}

// EVP_MAC with a copy of the keyed context per MAC: how threads sharing one key would do it.
Case evp_mac_dup_case() {
  auto evp = std::make_shared<EvpMac>();
  const auto one = [](EvpMac& e) {
    size_t len = 0;
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_dup(e.keyed);
    EVP_MAC_update(ctx, e.chain.message, kMessageLen);
    EVP_MAC_final(ctx, e.chain.mac, &len, sizeof(e.chain.mac));
    EVP_MAC_CTX_free(ctx);
    std::memcpy(e.chain.message + 5, e.chain.mac, 8);
  };
  one(*evp);
  check_first_mac("EVP_MAC_CTX_dup", evp->chain.mac);
  return {"openssl EVP_MAC, ctx copied", [evp, one](size_t n) {
            for (size_t i = 0; i < n; ++i) { one(*evp); }
          }};
}

// HMAC built by hand on EVP digests: the absorbed inner and outer states kept as two EVP_MD_CTX
// and copied for each MAC, as our own code keeps them as chaining values.
struct DigestStates {
  EVP_MD_CTX* inner = EVP_MD_CTX_new();
  EVP_MD_CTX* outer = EVP_MD_CTX_new();
  EVP_MD_CTX* work = EVP_MD_CTX_new();
  MacChain chain;

  DigestStates() {
    uint8_t pad[64] = {};
    std::memcpy(pad, kKey, sizeof(kKey));
    for (uint8_t& b : pad) { b ^= 0x36; }
    EVP_DigestInit_ex(inner, EVP_sha256(), nullptr);
    EVP_DigestUpdate(inner, pad, sizeof(pad));
    for (uint8_t& b : pad) { b ^= 0x36 ^ 0x5c; }
    EVP_DigestInit_ex(outer, EVP_sha256(), nullptr);
    EVP_DigestUpdate(outer, pad, sizeof(pad));
  }
  DigestStates(const DigestStates&) = delete;
  DigestStates& operator=(const DigestStates&) = delete;
  ~DigestStates() {
    EVP_MD_CTX_free(work);
    EVP_MD_CTX_free(outer);
    EVP_MD_CTX_free(inner);
  }

  void one() {
    unsigned int len = 0;
    EVP_MD_CTX_copy_ex(work, inner);
    EVP_DigestUpdate(work, chain.message, kMessageLen);
    EVP_DigestFinal_ex(work, chain.mac, &len);
    EVP_MD_CTX_copy_ex(work, outer);
    EVP_DigestUpdate(work, chain.mac, sizeof(chain.mac));
    EVP_DigestFinal_ex(work, chain.mac, &len);
    std::memcpy(chain.message + 5, chain.mac, 8);
  }
};

Case evp_digest_states_case() {
  auto d = std::make_shared<DigestStates>();
  d->one();
  check_first_mac("EVP digest states", d->chain.mac);
  return {"openssl EVP_MD_CTX states", [d](size_t n) {
            for (size_t i = 0; i < n; ++i) { d->one(); }
          }};
}

// The one-call HMAC(), which absorbs the key again every time (four compressions, not two).
Case hmac_one_call_case() {
  auto chain = std::make_shared<MacChain>();
  return {"openssl HMAC() one call", [chain](size_t n) {
            for (size_t i = 0; i < n; ++i) {
              unsigned int len = 0;
              HMAC(EVP_sha256(), kKey, sizeof(kKey), chain->message, kMessageLen, chain->mac,
                   &len);
              std::memcpy(chain->message + 5, chain->mac, 8);
            }
          }};
}

double now_ns() {
  return std::chrono::duration<double, std::nano>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace
}  // namespace tavik

int main(int argc, char** argv) {
  using namespace tavik;
  const double seconds = argc > 1 ? std::atof(argv[1]) : 4.0;
  std::vector<Case> cases;
  cases.push_back(transform_case());
  cases.push_back(compress_case("openssl, wrapped (today)", openssl_reference::sha256_compress_openssl));
  // One case per form of the block functions this processor runs, and the chosen one.
  std::vector<const fpe::Backend*> forms;
  for (const fpe::Backend& b : fpe::available_backends()) {
    bool seen = false;
    for (const fpe::Backend* f : forms) { seen = seen || f->compress == b.compress; }
    if (!seen) { forms.push_back(&b); }
  }
  auto form = [](const fpe::Backend* b) {
    return std::string(b->name.substr(0, b->name.find('/')));
  };
  for (const fpe::Backend* b : forms) { cases.push_back(compress_case("ours: " + form(b), b->compress)); }
  cases.push_back(compress_case("ours, through the table", fpe::sha256_compress));
  cases.push_back(hmac_block_case("hmac: ours, openssl blocks", openssl_reference::sha256_hmac_block_openssl));
  for (const fpe::Backend* b : forms) {
    cases.push_back(hmac_block_case("hmac: ours, " + form(b), b->hmac_block));
  }
  cases.push_back(evp_mac_reinit_case());
  cases.push_back(evp_mac_dup_case());
  cases.push_back(evp_digest_states_case());
  cases.push_back(hmac_one_call_case());

  // Calls per slice: about 100 microseconds each, from a first timing after a warm-up.
  std::vector<size_t> calls(cases.size());
  for (size_t c = 0; c < cases.size(); ++c) {
    cases[c].run(1000);
    const double start = now_ns();
    cases[c].run(1000);
    const double per_call = (now_ns() - start) / 1000;
    calls[c] = std::max<size_t>(8, static_cast<size_t>(100000 / std::max(per_call, 1.0)));
  }
  const size_t num_rounds = std::max<size_t>(
      15, static_cast<size_t>(seconds * 1e9 / (1e5 * static_cast<double>(cases.size()))));
  std::vector<std::vector<double>> per_call(cases.size());
  std::vector<size_t> order(cases.size());
  for (size_t c = 0; c < cases.size(); ++c) { order[c] = c; }
  std::mt19937 rng(1);
  for (size_t round = 0; round < num_rounds; ++round) {
    std::shuffle(order.begin(), order.end(), rng);
    for (size_t c : order) {
      const double start = now_ns();
      cases[c].run(calls[c]);
      per_call[c].push_back((now_ns() - start) / static_cast<double>(calls[c]));
    }
  }

  const char* caps = std::getenv("OPENSSL_ia32cap");
  std::printf("OPENSSL_ia32cap=%s; backend %s; %zu rounds of slices\n",
              caps == nullptr ? "(unset)" : caps, std::string(fpe::backend().name).c_str(),
              num_rounds);
  std::printf("%-30s %10s %10s %10s\n", "ns per call", "fastest", "median", "/ openssl");
  double reference = 0;
  for (size_t c = 0; c < cases.size(); ++c) {
    std::vector<double>& v = per_call[c];
    std::sort(v.begin(), v.end());
    if (c == 0) { reference = v.front(); }
    std::printf("%-30s %10.1f %10.1f %10.2f\n", cases[c].name.c_str(), v.front(), v[v.size() / 2],
                v.front() / reference);
  }
  return 0;
}
