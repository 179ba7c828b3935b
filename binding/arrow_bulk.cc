// The bulk methods over Arrow columns: the items of each array are read in place a batch at a
// time, run through the core's lanes and written to the result's buffers, all with the
// interpreter lock released; no item becomes a Python object.

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "binding/arrow.h"
#include "binding/codec_object.h"
#include "binding/errors.h"
#include "binding/without_lock.h"
#include "core/bulk.h"
#include "core/uuid_text.h"

namespace tavik::binding {
namespace {

using core::kBatchLen;

constexpr Error kMalformed =
    value_error("malformed Arrow array: an item lies outside the array's buffers");

// ArrowBatch is the storage of one batch. slot maps an item of the batch to its place in the
// core's arrays, or marks it null or failed before the core (read_errors holds why).
struct ArrowBatch {
  static constexpr uint32_t kNull = ~uint32_t{0};
  static constexpr uint32_t kFailed = kNull - 1;
  core::BatchScratch scratch;
  std::array<std::span<const uint8_t>, kBatchLen> data;
  std::array<core::Bytes16, kBatchLen> parsed;
  std::array<core::CodeUnits, kBatchLen> words;
  std::array<core::EncodedText, kBatchLen> texts;
  std::array<core::Bytes16, kBatchLen> bytes;
  std::array<std::optional<Error>, kBatchLen> errors;
  std::array<uint32_t, kBatchLen> slot;
  std::array<Error, kBatchLen> read_errors;
};

// Each thread keeps a batch between calls. A call made while it is taken (from a stream's
// callback, say) makes its own.
thread_local std::unique_ptr<ArrowBatch> idle_batch;

class BatchLease {
 public:
  BatchLease() : batch_(idle_batch ? std::move(idle_batch) : std::make_unique<ArrowBatch>()) {}
  BatchLease(const BatchLease&) = delete;
  BatchLease& operator=(const BatchLease&) = delete;
  ~BatchLease() {
    if (!idle_batch) { idle_batch = std::move(batch_); }
  }
  ArrowBatch& operator*() const { return *batch_; }

 private:
  std::unique_ptr<ArrowBatch> batch_;
};

// Outcome is how a batch ended: every item written, or stopped at an item (a failure with
// errors="raise", or a malformed array), or out of memory.
struct Outcome {
  enum Kind : uint8_t { kDone, kFailed, kNoMemory } kind = kDone;
  int64_t item = 0;  // within the array
  Error error{};
};

// read_items fills the batch's slots for items [first, first + *count) of an array, and gives
// the number of items for the core. A malformed item ends the batch before it: *count becomes
// its place, so that a failure of an item before it still comes first.
template <ArrowOp kOp>
size_t read_items(const ArrayReader& reader, ColumnFormat format, int64_t first, size_t* count,
                  ArrowBatch& b) {
  size_t m = 0;
  for (size_t i = 0; i < *count; ++i) {
    const ColumnItem item = reader.item(first + static_cast<int64_t>(i));
    if (item.kind == ColumnItem::kMalformed) {
      *count = i;
      break;
    }
    if (item.kind == ColumnItem::kNull) {
      b.slot[i] = ArrowBatch::kNull;
      continue;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(item.bytes.data());
    if constexpr (kOp == ArrowOp::kEncode) {
      if (format.text) {
        const Result<core::Bytes16> parsed = core::parse_uuid_text(item.bytes);
        if (!parsed.ok()) {
          b.slot[i] = ArrowBatch::kFailed;
          b.read_errors[i] = parsed.error();
          continue;
        }
        b.parsed[m] = parsed.value();
        b.data[m] = b.parsed[m];
      } else {
        b.data[m] = {bytes, item.bytes.size()};
      }
    } else {
      if (!core::is_valid_utf8(item.bytes)) {
        b.slot[i] = ArrowBatch::kFailed;
        b.read_errors[i] = core::kInvalidUtf8;
        continue;
      }
      b.words[m] = core::CodeUnits(item.bytes);
    }
    b.slot[i] = static_cast<uint32_t>(m++);
  }
  return m;
}

// run_batch reads, runs and writes items [first, first + count) of an array. Runs with the
// interpreter lock released.
template <ArrowOp kOp>
Outcome run_batch(const core::CodecConfig& config, const ArrayReader& reader,
                  ColumnFormat format, int64_t first, size_t count, ArrowBatch& b,
                  ColumnBuilder& out, bool raise_failures) {
  const size_t asked = count;
  const size_t m = read_items<kOp>(reader, format, first, &count, b);
  const std::span<std::optional<Error>> errors(b.errors.data(), m);
  if constexpr (kOp == ArrowOp::kEncode) {
    core::encode_many(config, {b.data.data(), m}, {b.texts.data(), m}, errors, b.scratch);
  } else if constexpr (kOp == ArrowOp::kDecode) {
    core::decode_many(config, {b.words.data(), m}, {b.bytes.data(), m}, errors, b.scratch);
  } else {
    core::recover_many(config, {b.words.data(), m}, {b.bytes.data(), m}, errors, b.scratch);
  }
  if (!out.reserve(count)) { return Outcome{Outcome::kNoMemory}; }
  for (size_t i = 0; i < count; ++i) {
    const uint32_t at = b.slot[i];
    if (at == ArrowBatch::kNull) {
      out.add_null();
      continue;
    }
    const std::optional<Error> error =
        at == ArrowBatch::kFailed ? std::optional<Error>(b.read_errors[i]) : b.errors[at];
    if (error) {
      if (raise_failures) {
        return Outcome{Outcome::kFailed, first + static_cast<int64_t>(i), *error};
      }
      out.add_null();
    } else if constexpr (kOp == ArrowOp::kEncode) {
      out.add_word(b.texts[at].view());
    } else {
      out.add_identifier(b.bytes[at].data());
    }
  }
  if (count < asked) {
    return Outcome{Outcome::kFailed, first + static_cast<int64_t>(count), kMalformed};
  }
  return Outcome{};
}

// ArrowSource is the column a call reads: one array (__arrow_c_array__) or the arrays of a
// stream (__arrow_c_stream__), held through their capsules for the call.
class ArrowSource {
 public:
  ArrowSource() = default;
  ArrowSource(const ArrowSource&) = delete;
  ArrowSource& operator=(const ArrowSource&) = delete;
  // A producer's release may need the interpreter: a thread that lost it at finalization
  // leaves what it read as it is (see lock_held).
  ~ArrowSource() {
    if (!lock_held()) { return; }
    release_chunk();
    if (stream_schema_.release != nullptr) { stream_schema_.release(&stream_schema_); }
  }

  int open(PyObject* obj, const char* name) {
    PyRef method = PyRef::steal(
        python_call([&] { return PyObject_GetAttrString(obj, "__arrow_c_array__"); }));
    if (method) {
      PyRef pair = PyRef::steal(python_call([&] { return PyObject_CallNoArgs(method.get()); }));
      if (!pair) { return fail(name); }
      if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
        PyErr_SetString(PyExc_TypeError,
                        "__arrow_c_array__ must return a tuple of two capsules");
        return fail(name);
      }
      capsules_[0] = PyRef::borrow(PyTuple_GET_ITEM(pair.get(), 0));
      capsules_[1] = PyRef::borrow(PyTuple_GET_ITEM(pair.get(), 1));
      schema_ = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsules_[0].get(), "arrow_schema"));
      if (schema_ == nullptr) { return fail(name); }
      array_ = static_cast<ArrowArray*>(PyCapsule_GetPointer(capsules_[1].get(), "arrow_array"));
      if (array_ == nullptr) { return fail(name); }
      if (schema_->release == nullptr || array_->release == nullptr) { return released(name); }
      return 0;
    }
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) { return fail(name); }
    PyErr_Clear();
    method = PyRef::steal(
        python_call([&] { return PyObject_GetAttrString(obj, "__arrow_c_stream__"); }));
    if (!method) { return fail(name); }
    capsules_[0] = PyRef::steal(python_call([&] { return PyObject_CallNoArgs(method.get()); }));
    if (!capsules_[0]) { return fail(name); }
    stream_ = static_cast<ArrowArrayStream*>(
        PyCapsule_GetPointer(capsules_[0].get(), "arrow_array_stream"));
    if (stream_ == nullptr) { return fail(name); }
    if (stream_->release == nullptr) { return released(name); }
    // A stream's callbacks may run Python code (a reader over a generator).
    if (const int code = python_call([&] { return stream_->get_schema(stream_, &stream_schema_); });
        code != 0) {
      return stream_error(code, name);
    }
    schema_ = &stream_schema_;
    return 0;
  }

  // schema is the column's schema: a table of one column (a struct, as DuckDB results and
  // record batches come) stands for that column.
  const ArrowSchema& schema() const { return is_table() ? *schema_->children[0] : *schema_; }

  // next gives the reader of the next array: 1 with *out set, 0 at the end, -1 with an
  // exception set.
  int next(std::optional<ArrayReader>* out, ColumnFormat format, const char* name) {
    const ArrowArray* array = nullptr;
    if (stream_ == nullptr) {
      if (array_ == nullptr) { return 0; }
      array = std::exchange(array_, nullptr);
    } else {
      release_chunk();
      if (const int code = python_call([&] { return stream_->get_next(stream_, &chunk_); });
          code != 0) {
        return stream_error(code, name);
      }
      if (chunk_.release == nullptr) { return 0; }
      array = &chunk_;
    }
    if (!is_table()) {
      out->emplace(*array, format);
      return 1;
    }
    // A table's rows are its column's items from the table's offset on; a table with null
    // rows is refused rather than read as if they held values.
    const bool null_rows = array->n_buffers >= 1 && array->buffers[0] != nullptr &&
                           array->null_count != 0;
    if (array->n_children != 1 || array->children[0] == nullptr || null_rows) {
      raise_error(kMalformed);
      return fail(name);
    }
    out->emplace(*array->children[0], format, array->offset, array->length);
    return 1;
  }

 private:
  bool is_table() const {
    return std::string_view(schema_->format != nullptr ? schema_->format : "") == "+s" &&
           schema_->n_children == 1 && schema_->children != nullptr &&
           schema_->children[0] != nullptr;
  }
  void release_chunk() {
    if (chunk_.release != nullptr) { python_call([&] { chunk_.release(&chunk_); }); }
  }
  static int fail(const char* name) {
    add_argument_note(name);
    return -1;
  }
  static int released(const char* name) {
    PyErr_SetString(PyExc_ValueError, "the Arrow capsule was already consumed");
    return fail(name);
  }
  int stream_error(int code, const char* name) {
    if (PyErr_Occurred()) { return fail(name); }
    const char* message = stream_->get_last_error(stream_);
    if (code == ENOMEM) {
      PyErr_NoMemory();
    } else {
      PyErr_Format(PyExc_RuntimeError, "reading the Arrow stream failed: %s",
                   message != nullptr ? message : strerror(code));
    }
    return fail(name);
  }

  PyRef capsules_[2];
  ArrowSchema* schema_ = nullptr;
  ArrowArray* array_ = nullptr;
  ArrowArrayStream* stream_ = nullptr;
  ArrowSchema stream_schema_{};
  ArrowArray chunk_{};
};

// accepts tells whether a method reads a column of the format: encode_many binary and text
// columns, decode_many and recover_many text columns; a column of nulls for all.
bool accepts(ArrowOp op, ColumnFormat format) {
  return op == ArrowOp::kEncode || format.text || format.layout == ColumnLayout::kNull;
}

template <ArrowOp kOp>
PyObject* many(const core::CodecConfig& config, ArrowSource& source, ColumnFormat format,
               const char* name, bool raise_failures) {
  ColumnBuilder out(kOp == ArrowOp::kEncode ? ColumnKind::kWords : ColumnKind::kIdentifiers);
  BatchLease lease;
  ArrowBatch& b = *lease;
  int64_t index = 0;  // of the array's first item in the column
  for (;;) {
    std::optional<ArrayReader> next;
    const int more = source.next(&next, format, name);
    if (more < 0) { return nullptr; }
    if (more == 0) { break; }
    const ArrayReader& reader = *next;
    if (!reader.check()) {
      raise_error(kMalformed);
      add_argument_note(name);
      return nullptr;
    }
    constexpr int64_t kStep = static_cast<int64_t>(kBatchLen);
    for (int64_t first = 0; first < reader.length(); first += kStep) {
      // A long column stays interruptible.
      if (python_call([] { return PyErr_CheckSignals(); }) < 0) { return nullptr; }
      // The result's room for the whole array, at its start and once its first words are in.
      if ((first == 0 || first == kStep) &&
          !out.expect(static_cast<size_t>(reader.length() - first))) {
        return PyErr_NoMemory();
      }
      const auto count = static_cast<size_t>(std::min(kStep, reader.length() - first));
      Outcome outcome;
      without_lock([&] {
        outcome = run_batch<kOp>(config, reader, format, first, count, b, out, raise_failures);
      });
      if (outcome.kind == Outcome::kNoMemory) { return PyErr_NoMemory(); }
      if (outcome.kind == Outcome::kFailed) {
        raise_error(outcome.error);
        add_item_note(static_cast<size_t>(index + outcome.item), name);
        return nullptr;
      }
    }
    index += reader.length();
  }
  std::shared_ptr<ColumnData> data = out.finish();
  if (!data) { return PyErr_NoMemory(); }
  return new_column(std::move(data));
}

}  // namespace

int exports_arrow(PyObject* obj) {
  // The forms the bulk methods read besides columns answer at once.
  if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj) || PyBytes_CheckExact(obj) ||
      PyByteArray_CheckExact(obj) || PyUnicode_CheckExact(obj) || PyMemoryView_Check(obj)) {
    return 0;
  }
  for (const char* name : {"__arrow_c_array__", "__arrow_c_stream__"}) {
    PyRef attr = PyRef::steal(python_call([&] { return PyObject_GetAttrString(obj, name); }));
    if (attr) { return 1; }
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) { return -1; }
    PyErr_Clear();
  }
  return 0;
}

PyObject* arrow_many(PyObject* codec, ArrowOp op, PyObject* column, const char* name,
                     bool raise_failures) {
  ArrowSource source;
  if (source.open(column, name) < 0) { return nullptr; }
  const std::optional<ColumnFormat> format = parse_column_format(source.schema());
  if (!format || !accepts(op, *format)) {
    const char* text = source.schema().format != nullptr ? source.schema().format : "";
    PyErr_Format(PyExc_TypeError, "%s must be %s, not an Arrow column of format '%s'%s", name,
                 op == ArrowOp::kEncode ? "a column of binary or string" : "a column of string",
                 text, source.schema().dictionary != nullptr ? " (dictionary-encoded)" : "");
    add_argument_note(name);
    return nullptr;
  }
  const core::CodecConfig& config = as_codec(codec)->config;
  switch (op) {
    case ArrowOp::kEncode:
      return many<ArrowOp::kEncode>(config, source, *format, name, raise_failures);
    case ArrowOp::kDecode:
      return many<ArrowOp::kDecode>(config, source, *format, name, raise_failures);
    case ArrowOp::kRecover:
      return many<ArrowOp::kRecover>(config, source, *format, name, raise_failures);
  }
  return nullptr;
}

}  // namespace tavik::binding
