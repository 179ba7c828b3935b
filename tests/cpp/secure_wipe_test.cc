#include "base/secure_wipe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace tavik::fpe {
namespace {

TEST(SecureWipe, ZeroesExactlyTheRange) {
  uint8_t buffer[80];
  for (size_t start : {0u, 1u, 7u}) {
    for (size_t len : {0u, 1u, 31u, 64u}) {
      std::memset(buffer, 0xa5, sizeof(buffer));
      secure_wipe(buffer + start, len);
      for (size_t i = 0; i < sizeof(buffer); ++i) {
        const bool inside = i >= start && i < start + len;
        ASSERT_EQ(buffer[i], inside ? 0 : 0xa5)
            << "start " << start << ", len " << len << ", at " << i;
      }
    }
  }
  secure_wipe(nullptr, 0);  // nothing to wipe, and no null pointer reaches memset
}

}  // namespace
}  // namespace tavik::fpe
