#ifndef TAVIK_BASE_RESULT_H_
#define TAVIK_BASE_RESULT_H_

#include <cstdint>
#include <string_view>
#include <utility>
#include <variant>

namespace tavik {

// ErrorCode tells the binding which exception an error becomes: kValue is every value check
// and every decode and recover failure (ValueError), kDecodeAfterRecovery the one runtime
// failure of recover (RuntimeError), kInternal a broken invariant that the checks rule out.
enum class ErrorCode : uint8_t { kValue, kDecodeAfterRecovery, kInternal };

// Error is a failure with a fixed text for people. The text views a constant, so reporting a
// failure never allocates; tests match on `code` and on the texts.
struct Error {
  ErrorCode code;
  std::string_view message;
  constexpr bool operator==(const Error&) const = default;
};

// Result holds a value or an Error. The libraries return these and never throw.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}  // implicit, so `return value;` works
  Result(Error error) : v_(error) {}
  bool ok() const { return v_.index() == 0; }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

constexpr Error value_error(std::string_view message) { return Error{ErrorCode::kValue, message}; }

}  // namespace tavik

#endif  // TAVIK_BASE_RESULT_H_
