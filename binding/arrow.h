#ifndef TAVIK_BINDING_ARROW_H_
#define TAVIK_BINDING_ARROW_H_

// Columns through the Arrow PyCapsule interface: the C Data Interface and C Stream Interface
// structs (a small, stable public ABI, written out here so that nothing of Arrow is needed at
// build or import time), the reading of an exported column, and the columns the bulk methods
// return, which own their buffers and export them without a copy.

#include "binding/py_ref.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE
extern "C" {
struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  int64_t flags;
  int64_t n_children;
  struct ArrowSchema** children;
  struct ArrowSchema* dictionary;
  void (*release)(struct ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  int64_t length;
  int64_t null_count;
  int64_t offset;
  int64_t n_buffers;
  int64_t n_children;
  const void** buffers;
  struct ArrowArray** children;
  struct ArrowArray* dictionary;
  void (*release)(struct ArrowArray*);
  void* private_data;
};
}  // extern "C"
#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE
extern "C" {
struct ArrowArrayStream {
  int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
  int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
  const char* (*get_last_error)(struct ArrowArrayStream*);
  void (*release)(struct ArrowArrayStream*);
  void* private_data;
};
}  // extern "C"
#endif  // ARROW_C_STREAM_INTERFACE

namespace tavik::binding {

// ---- Reading a column ------------------------------------------------------------------------

// ColumnLayout is how an Arrow array of one of the accepted types holds its items.
enum class ColumnLayout : uint8_t {
  kNull,       // "n": every item null
  kFixed,      // "w:N": N bytes an item
  kOffsets32,  // "z", "u": 32-bit offsets into one data buffer
  kOffsets64,  // "Z", "U": 64-bit offsets
  kViews,      // "vz", "vu": 16-byte views, inline or into variadic buffers
};

// ColumnFormat is an accepted Arrow format: its layout, whether it is text (utf8 types), and
// the item size of a fixed-size binary.
struct ColumnFormat {
  ColumnLayout layout = ColumnLayout::kNull;
  bool text = false;
  size_t width = 0;
};

// parse_column_format reads an Arrow schema's format: nullopt for a type no bulk method reads
// (a dictionary, a nested type, a number...).
std::optional<ColumnFormat> parse_column_format(const ArrowSchema& schema);

// ColumnItem is one item of an array: its bytes, or null, or malformed (offsets or a view
// pointing outside the array's buffers).
struct ColumnItem {
  enum Kind : uint8_t { kValue, kNull, kMalformed } kind = kValue;
  std::string_view bytes;
};

// ArrayReader reads the items of one array of a known format in place; it holds no Python
// object, so it runs with the interpreter lock released. check() must pass before item().
class ArrayReader {
 public:
  ArrayReader(const ArrowArray& array, ColumnFormat format)
      : ArrayReader(array, format, 0, array.length) {}
  // The column of a table (a struct array): its items [base, base + length) are the rows.
  ArrayReader(const ArrowArray& array, ColumnFormat format, int64_t base, int64_t length)
      : a_(array), f_(format), base_(base), length_(length) {}
  // check tells whether the array's shape fits its format: lengths and offsets not negative,
  // the buffers its items need present.
  bool check() const;
  int64_t length() const { return length_; }
  ColumnItem item(int64_t i) const;

 private:
  const ArrowArray& a_;
  ColumnFormat f_;
  int64_t base_;
  int64_t length_;
};

// ---- The columns the bulk methods return ------------------------------------------------------

// RawBuffer is memory of the interpreter's raw allocator (tracemalloc sees it, and it needs no
// interpreter lock), grown geometrically.
class RawBuffer {
 public:
  RawBuffer() = default;
  RawBuffer(RawBuffer&& o) noexcept;
  RawBuffer& operator=(RawBuffer&& o) noexcept;
  RawBuffer(const RawBuffer&) = delete;
  RawBuffer& operator=(const RawBuffer&) = delete;
  ~RawBuffer();
  // reserve makes room for `more` bytes past size(); false when memory runs out.
  bool reserve(size_t more);
  // shrink gives back the room past size().
  void shrink();
  uint8_t* end() { return data_ + len_; }
  void grow(size_t n) { len_ += n; }  // after writing n bytes at end()
  const uint8_t* data() const { return data_; }
  uint8_t* data() { return data_; }
  size_t size() const { return len_; }

 private:
  uint8_t* data_ = nullptr;
  size_t len_ = 0;
  size_t capacity_ = 0;
};

// ColumnKind: a column of code words (utf8) or of 16-byte identifiers (fixed_size_binary(16)).
enum class ColumnKind : uint8_t { kWords, kIdentifiers };

// ColumnChunk is one array of a result: its validity bitmap (a bit an item, set when valid),
// and its 32-bit offsets and word bytes, or its 16 bytes an identifier.
struct ColumnChunk {
  int64_t length = 0;
  int64_t null_count = 0;
  RawBuffer validity;
  RawBuffer offsets;
  RawBuffer values;
};

// ColumnData is a result's arrays, immutable once built: exports share it, and release it
// from any thread.
struct ColumnData {
  ColumnKind kind = ColumnKind::kWords;
  std::vector<ColumnChunk> chunks;
};

// ColumnBuilder appends the items of a result, with the interpreter lock released. A chunk of
// words ends before its offsets would pass 2^31 - 1, so a result can hold several.
class ColumnBuilder {
 public:
  explicit ColumnBuilder(ColumnKind kind);
  // reserve makes room for `count` more items; false when memory runs out.
  bool reserve(size_t count);
  // expect makes room for `count` more items at once, so that a result known to come does not
  // grow step by step: exactly for identifiers, by the words so far for words.
  bool expect(size_t count);
  void add_word(std::string_view word);
  void add_identifier(const uint8_t bytes[16]);
  void add_null();
  std::shared_ptr<ColumnData> finish();

 private:
  void set_valid(bool valid);
  ColumnChunk& chunk() { return data_->chunks.back(); }
  std::shared_ptr<ColumnData> data_;
};

// new_column wraps a result in the Python object that exports it (__arrow_c_array__,
// __arrow_c_stream__, len(), uuid_text()).
PyObject* new_column(std::shared_ptr<const ColumnData> data);

// ---- The bulk methods' Arrow path -------------------------------------------------------------

enum class ArrowOp : uint8_t { kEncode, kDecode, kRecover };

// exports_arrow tells whether an object exports a column through __arrow_c_array__ or
// __arrow_c_stream__: 1 or 0, or -1 with an exception set.
int exports_arrow(PyObject* obj);

// arrow_many runs a bulk method over a column of Arrow: every item as the iterable form reads
// it, a null staying a null; a failure raises with the item's index (raise_failures) or gives
// a null. Returns the result column, or null with an exception set.
PyObject* arrow_many(PyObject* codec, ArrowOp op, PyObject* column, const char* name,
                     bool raise_failures);

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_ARROW_H_
