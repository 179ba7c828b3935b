#ifndef TAVIK_CAPI_CODEC_H_
#define TAVIK_CAPI_CODEC_H_

// The handles behind the C interface's opaque types.

#include <array>
#include <optional>
#include <span>
#include <string>

#include "base/result.h"
#include "core/bulk.h"
#include "core/config.h"
#include "core/encode.h"
#include "core/normalize.h"
#include "include/tavik.h"

// tavik_codec holds one configuration, built once and only read afterwards, and its canonical
// settings text, made once so that reading it never allocates.
struct tavik_codec {
  tavik::core::CodecConfig config;
  std::string settings;
};

// tavik_scratch is the storage of one batch of a bulk call: the core's working storage and the
// items, results and errors of up to kBatchLen items, allocated once.
struct tavik_scratch {
  static constexpr size_t kBatchLen = tavik::core::kBatchLen;
  tavik::core::BatchScratch batch;
  std::array<std::span<const uint8_t>, kBatchLen> items;
  std::array<tavik::core::CodeUnits, kBatchLen> words;
  std::array<tavik::core::EncodedText, kBatchLen> texts;
  std::array<tavik::core::Bytes16, kBatchLen> bytes;
  std::array<std::optional<tavik::Error>, kBatchLen> errors;
};

namespace tavik::capi {

// status_of is the status of a core failure: its own status for every failure the core
// reports, TAVIK_E_INTERNAL for a broken invariant.
int status_of(const Error& error);

}  // namespace tavik::capi

#endif  // TAVIK_CAPI_CODEC_H_
