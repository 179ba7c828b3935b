#ifndef TAVIK_CORE_EXPLAIN_H_
#define TAVIK_CORE_EXPLAIN_H_

// Explanations of why a word could not be read, for people: the message of an error is fixed
// (callers match on it); an explanation adds what went wrong and where.

#include <cstddef>
#include <string>

#include "base/result.h"
#include "core/config.h"
#include "core/normalize.h"

namespace tavik::core {

// explain_read_failure describes why decode or recover of `text` under `config` (one codec,
// or the first of a keyring of num_keys) failed with `error`: where the text does not
// normalize (the letter and its index, or how many syllables were found against how many
// the settings expect), or what usually makes a check fail. Empty when there is nothing to
// add. Call it only for a failure: it reads the text again.
std::string explain_read_failure(const CodecConfig& config, CodeUnits text, const Error& error,
                                 size_t num_keys = 1);

}  // namespace tavik::core

#endif  // TAVIK_CORE_EXPLAIN_H_
