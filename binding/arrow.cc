// Arrow columns: reading an exported array in place, and the Column type that owns a bulk
// method's result and exports it through the PyCapsule interface.

#include "binding/arrow.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "binding/args.h"
#include "binding/errors.h"
#include "binding/guarded.h"
#include "binding/without_lock.h"
#include "core/encode.h"
#include "core/uuid_text.h"

namespace tavik::binding {

// ---- Reading a column ------------------------------------------------------------------------

std::optional<ColumnFormat> parse_column_format(const ArrowSchema& schema) {
  if (schema.format == nullptr || schema.dictionary != nullptr || schema.n_children != 0) {
    return std::nullopt;
  }
  const std::string_view format(schema.format);
  if (format == "n") { return ColumnFormat{ColumnLayout::kNull, false, 0}; }
  if (format == "z") { return ColumnFormat{ColumnLayout::kOffsets32, false, 0}; }
  if (format == "u") { return ColumnFormat{ColumnLayout::kOffsets32, true, 0}; }
  if (format == "Z") { return ColumnFormat{ColumnLayout::kOffsets64, false, 0}; }
  if (format == "U") { return ColumnFormat{ColumnLayout::kOffsets64, true, 0}; }
  if (format == "vz") { return ColumnFormat{ColumnLayout::kViews, false, 0}; }
  if (format == "vu") { return ColumnFormat{ColumnLayout::kViews, true, 0}; }
  if (format.starts_with("w:")) {
    size_t width = 0;
    for (const char c : format.substr(2)) {
      if (c < '0' || c > '9' || width > (1u << 20)) { return std::nullopt; }
      width = width * 10 + static_cast<size_t>(c - '0');
    }
    if (format.size() > 2 && width > 0) { return ColumnFormat{ColumnLayout::kFixed, false, width}; }
  }
  return std::nullopt;
}

bool ArrayReader::check() const {
  if (a_.length < 0 || a_.offset < 0 || base_ < 0 || length_ < 0 || a_.n_buffers < 0 ||
      base_ > a_.length - length_ ||
      a_.offset > std::numeric_limits<int64_t>::max() - a_.length - 1) {
    return false;
  }
  const bool empty = length_ == 0;
  const int64_t n = a_.n_buffers;
  switch (f_.layout) {
    case ColumnLayout::kNull:
      return true;
    case ColumnLayout::kFixed:
      return n == 2 && (empty || a_.buffers[1] != nullptr) &&
             a_.offset + a_.length <= std::numeric_limits<int64_t>::max() /
                                          static_cast<int64_t>(f_.width);
    case ColumnLayout::kOffsets32:
    case ColumnLayout::kOffsets64:
      return n == 3 && (empty || a_.buffers[1] != nullptr);
    case ColumnLayout::kViews:
      // validity, views, the variadic data buffers, and their sizes last.
      return n >= 3 && (empty || a_.buffers[1] != nullptr) && a_.buffers[n - 1] != nullptr;
  }
  return false;
}

namespace {

int32_t load_i32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

template <typename Offset>
ColumnItem offset_item(const ArrowArray& a, int64_t at) {
  const auto* offsets = static_cast<const Offset*>(a.buffers[1]);
  const Offset begin = offsets[at];
  const Offset end = offsets[at + 1];
  if (begin < 0 || end < begin) { return {ColumnItem::kMalformed, {}}; }
  const auto* data = static_cast<const char*>(a.buffers[2]);
  if (end == begin) { return {ColumnItem::kValue, {}}; }
  if (data == nullptr) { return {ColumnItem::kMalformed, {}}; }
  return {ColumnItem::kValue,
          {data + begin, static_cast<size_t>(end - begin)}};
}

}  // namespace

ColumnItem ArrayReader::item(int64_t i) const {
  const int64_t at = base_ + a_.offset + i;
  if (f_.layout == ColumnLayout::kNull) { return {ColumnItem::kNull, {}}; }
  const auto* validity = static_cast<const uint8_t*>(a_.buffers[0]);
  if (validity != nullptr && ((validity[at >> 3] >> (at & 7)) & 1) == 0) {
    return {ColumnItem::kNull, {}};
  }
  switch (f_.layout) {
    case ColumnLayout::kNull:
      break;
    case ColumnLayout::kFixed:
      return {ColumnItem::kValue,
              {static_cast<const char*>(a_.buffers[1]) + static_cast<size_t>(at) * f_.width,
               f_.width}};
    case ColumnLayout::kOffsets32:
      return offset_item<int32_t>(a_, at);
    case ColumnLayout::kOffsets64:
      return offset_item<int64_t>(a_, at);
    case ColumnLayout::kViews: {
      const uint8_t* view = static_cast<const uint8_t*>(a_.buffers[1]) + 16 * at;
      const int32_t len = load_i32(view);
      if (len < 0) { return {ColumnItem::kMalformed, {}}; }
      if (len <= 12) {
        return {ColumnItem::kValue,
                {reinterpret_cast<const char*>(view + 4), static_cast<size_t>(len)}};
      }
      const int32_t buffer = load_i32(view + 8);
      const int32_t offset = load_i32(view + 12);
      const int64_t num_data = a_.n_buffers - 3;
      if (buffer < 0 || buffer >= num_data || offset < 0) { return {ColumnItem::kMalformed, {}}; }
      const auto* sizes = static_cast<const int64_t*>(a_.buffers[a_.n_buffers - 1]);
      const auto* data = static_cast<const char*>(a_.buffers[2 + buffer]);
      if (data == nullptr || int64_t{offset} + len > sizes[buffer]) {
        return {ColumnItem::kMalformed, {}};
      }
      return {ColumnItem::kValue, {data + offset, static_cast<size_t>(len)}};
    }
  }
  return {ColumnItem::kNull, {}};
}

// ---- Buffers and the builder ---------------------------------------------------------------

RawBuffer::RawBuffer(RawBuffer&& o) noexcept
    : data_(std::exchange(o.data_, nullptr)),
      len_(std::exchange(o.len_, 0)),
      capacity_(std::exchange(o.capacity_, 0)) {}

RawBuffer& RawBuffer::operator=(RawBuffer&& o) noexcept {
  PyMem_RawFree(data_);
  data_ = std::exchange(o.data_, nullptr);
  len_ = std::exchange(o.len_, 0);
  capacity_ = std::exchange(o.capacity_, 0);
  return *this;
}

RawBuffer::~RawBuffer() { PyMem_RawFree(data_); }

bool RawBuffer::reserve(size_t more) {
  if (capacity_ - len_ >= more) { return true; }
  size_t capacity = std::max<size_t>({len_ + more, 2 * capacity_, 64});
  // Arrow asks for buffers aligned to 8 bytes and prefers 64: the allocator gives 16, and the
  // sizes are kept in multiples of 64.
  capacity = (capacity + 63) & ~size_t{63};
  void* grown = PyMem_RawRealloc(data_, capacity);
  if (grown == nullptr) { return false; }
  data_ = static_cast<uint8_t*>(grown);
  capacity_ = capacity;
  return true;
}

void RawBuffer::shrink() {
  if (len_ == 0 || len_ == capacity_) { return; }
  void* shrunk = PyMem_RawRealloc(data_, len_);
  if (shrunk == nullptr) { return; }  // keeps the larger block
  data_ = static_cast<uint8_t*>(shrunk);
  capacity_ = len_;
}

namespace {

// A chunk of words ends before its bytes could pass the 32-bit offsets.
constexpr size_t kMaxChunkBytes = std::numeric_limits<int32_t>::max();

void append_i32(RawBuffer& buffer, int32_t value) {
  std::memcpy(buffer.end(), &value, 4);
  buffer.grow(4);
}

int32_t offset_at(const ColumnChunk& chunk, int64_t i) {
  int32_t v;
  std::memcpy(&v, chunk.offsets.data() + 4 * i, 4);
  return v;
}

bool is_valid(const ColumnChunk& chunk, int64_t i) {
  return chunk.null_count == 0 || ((chunk.validity.data()[i >> 3] >> (i & 7)) & 1) != 0;
}

}  // namespace

ColumnBuilder::ColumnBuilder(ColumnKind kind) : data_(std::make_shared<ColumnData>()) {
  data_->kind = kind;
  data_->chunks.emplace_back();
}

bool ColumnBuilder::reserve(size_t count) {
  const size_t value_len = data_->kind == ColumnKind::kWords ? core::kMaxEncodedLen : 16;
  if (data_->kind == ColumnKind::kWords &&
      chunk().values.size() + count * value_len > kMaxChunkBytes) {
    data_->chunks.emplace_back();
  }
  ColumnChunk& c = chunk();
  if (data_->kind == ColumnKind::kWords && c.offsets.size() == 0) {
    if (!c.offsets.reserve(4)) { return false; }
    append_i32(c.offsets, 0);
  }
  return c.validity.reserve(count / 8 + 1) &&
         (data_->kind == ColumnKind::kIdentifiers || c.offsets.reserve(4 * count)) &&
         c.values.reserve(count * value_len);
}

bool ColumnBuilder::expect(size_t count) {
  ColumnChunk& c = chunk();
  size_t value_len = 16;
  if (data_->kind == ColumnKind::kWords) {
    // The words to come are as long as those so far, with a sixteenth to spare.
    const size_t so_far = c.length > 0 ? c.values.size() / static_cast<size_t>(c.length) : 0;
    value_len = so_far + so_far / 16;
  }
  const size_t room = std::min(count * value_len, kMaxChunkBytes - c.values.size());
  return c.validity.reserve(count / 8 + 1) &&
         (data_->kind == ColumnKind::kIdentifiers || c.offsets.reserve(4 * (count + 1))) &&
         c.values.reserve(room);
}

void ColumnBuilder::set_valid(bool valid) {
  ColumnChunk& c = chunk();
  const int64_t i = c.length++;
  if ((i & 7) == 0) {
    *c.validity.end() = 0;
    c.validity.grow(1);
  }
  if (valid) {
    c.validity.data()[i >> 3] |= static_cast<uint8_t>(1u << (i & 7));
  } else {
    ++c.null_count;
  }
}

void ColumnBuilder::add_word(std::string_view word) {
  ColumnChunk& c = chunk();
  std::memcpy(c.values.end(), word.data(), word.size());
  c.values.grow(word.size());
  append_i32(c.offsets, static_cast<int32_t>(c.values.size()));
  set_valid(true);
}

void ColumnBuilder::add_identifier(const uint8_t bytes[16]) {
  ColumnChunk& c = chunk();
  std::memcpy(c.values.end(), bytes, 16);
  c.values.grow(16);
  set_valid(true);
}

void ColumnBuilder::add_null() {
  ColumnChunk& c = chunk();
  if (data_->kind == ColumnKind::kWords) {
    append_i32(c.offsets, static_cast<int32_t>(c.values.size()));
  } else {
    std::memset(c.values.end(), 0, 16);
    c.values.grow(16);
  }
  set_valid(false);
}

std::shared_ptr<ColumnData> ColumnBuilder::finish() {
  // An empty chunk of words still has its one offset.
  if (data_->kind == ColumnKind::kWords && chunk().offsets.size() == 0) {
    if (!chunk().offsets.reserve(4)) { return nullptr; }
    append_i32(chunk().offsets, 0);
  }
  // A result may live long: it keeps no room for items that never came.
  for (ColumnChunk& c : data_->chunks) {
    c.validity.shrink();
    c.offsets.shrink();
    c.values.shrink();
  }
  return std::move(data_);
}

// ---- Export ------------------------------------------------------------------------------

namespace {

// ExportForm is the Arrow type a column of words is exported as: string (32-bit offsets, the
// form it is built in), large_string (64-bit offsets) or string_view.
enum class ExportForm : uint8_t { kNative, kLarge, kView };

const char* format_of(ColumnKind kind, ExportForm form) {
  if (kind == ColumnKind::kIdentifiers) { return "w:16"; }
  switch (form) {
    case ExportForm::kNative: return "u";
    case ExportForm::kLarge: return "U";
    case ExportForm::kView: return "vu";
  }
  return "u";
}

constexpr int64_t kArrowFlagNullable = 2;

extern "C" void release_schema(ArrowSchema* schema) { schema->release = nullptr; }

void fill_schema(ColumnKind kind, ExportForm form, ArrowSchema* out) {
  *out = ArrowSchema{};
  out->format = format_of(kind, form);
  out->name = "";
  out->flags = kArrowFlagNullable;
  out->release = release_schema;
}

// ExportedArray is the private data of an exported array: the column it reads, and the
// buffers made for its form.
struct ExportedArray {
  std::shared_ptr<const ColumnData> column;
  RawBuffer offsets;  // 64-bit offsets, or views
  int64_t size = 0;   // the one variadic buffer's size, for views
  std::array<const void*, 4> buffers{};
};

extern "C" void release_array(ArrowArray* array) {
  delete static_cast<ExportedArray*>(array->private_data);
  array->release = nullptr;
}

// fill_array exports a chunk as `form`; false when memory runs out (nothing to release).
bool fill_array(const std::shared_ptr<const ColumnData>& column, size_t chunk_index,
                ExportForm form, ArrowArray* out) {
  const ColumnChunk& chunk = column->chunks[chunk_index];
  auto exported = std::make_unique<ExportedArray>();
  exported->column = column;
  auto& buffers = exported->buffers;
  buffers[0] = chunk.null_count != 0 ? chunk.validity.data() : nullptr;
  int64_t num_buffers = 2;
  if (column->kind == ColumnKind::kIdentifiers) {
    buffers[1] = chunk.values.data();
  } else if (form == ExportForm::kNative) {
    buffers[1] = chunk.offsets.data();
    buffers[2] = chunk.values.data();
    num_buffers = 3;
  } else if (form == ExportForm::kLarge) {
    if (!exported->offsets.reserve(8 * static_cast<size_t>(chunk.length + 1))) { return false; }
    for (int64_t i = 0; i <= chunk.length; ++i) {
      const int64_t v = offset_at(chunk, i);
      std::memcpy(exported->offsets.end(), &v, 8);
      exported->offsets.grow(8);
    }
    buffers[1] = exported->offsets.data();
    buffers[2] = chunk.values.data();
    num_buffers = 3;
  } else {
    // Views: a word of up to 12 bytes inline, a longer one by its prefix and place in the one
    // data buffer.
    if (!exported->offsets.reserve(16 * static_cast<size_t>(chunk.length))) { return false; }
    for (int64_t i = 0; i < chunk.length; ++i) {
      const int32_t begin = offset_at(chunk, i);
      const int32_t len = offset_at(chunk, i + 1) - begin;
      uint8_t* view = exported->offsets.end();
      std::memset(view, 0, 16);
      std::memcpy(view, &len, 4);
      if (len <= 12) {
        std::memcpy(view + 4, chunk.values.data() + begin, static_cast<size_t>(len));
      } else {
        std::memcpy(view + 4, chunk.values.data() + begin, 4);
        std::memcpy(view + 12, &begin, 4);  // buffer 0
      }
      exported->offsets.grow(16);
    }
    exported->size = static_cast<int64_t>(chunk.values.size());
    buffers[1] = exported->offsets.data();
    buffers[2] = chunk.values.data();
    buffers[3] = &exported->size;
    num_buffers = 4;
  }
  *out = ArrowArray{};
  out->length = chunk.length;
  out->null_count = chunk.null_count;
  out->n_buffers = num_buffers;
  out->buffers = exported->buffers.data();
  out->release = release_array;
  out->private_data = exported.release();
  return true;
}

// ExportedStream is the private data of an exported stream: its column and form, and the
// chunk it gives next.
struct ExportedStream {
  std::shared_ptr<const ColumnData> column;
  ExportForm form = ExportForm::kNative;
  size_t next = 0;
};

extern "C" int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  const auto* s = static_cast<ExportedStream*>(stream->private_data);
  fill_schema(s->column->kind, s->form, out);
  return 0;
}

extern "C" int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* s = static_cast<ExportedStream*>(stream->private_data);
  if (s->next == s->column->chunks.size()) {
    *out = ArrowArray{};  // the end: a released array
    return 0;
  }
  try {
    if (!fill_array(s->column, s->next, s->form, out)) { return ENOMEM; }
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
  ++s->next;
  return 0;
}

extern "C" const char* stream_get_last_error(ArrowArrayStream*) { return "out of memory"; }

extern "C" void release_stream(ArrowArrayStream* stream) {
  delete static_cast<ExportedStream*>(stream->private_data);
  stream->release = nullptr;
}

// Capsule destructors: release what the consumer did not take, then free the struct.
void destroy_schema_capsule(PyObject* capsule) {
  auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, "arrow_schema"));
  if (schema->release != nullptr) { schema->release(schema); }
  delete schema;
}

void destroy_array_capsule(PyObject* capsule) {
  auto* array = static_cast<ArrowArray*>(PyCapsule_GetPointer(capsule, "arrow_array"));
  if (array->release != nullptr) { array->release(array); }
  delete array;
}

void destroy_stream_capsule(PyObject* capsule) {
  auto* stream =
      static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
  if (stream->release != nullptr) { stream->release(stream); }
  delete stream;
}

// ---- The Column type -----------------------------------------------------------------------

struct ColumnObject {
  PyObject_HEAD std::shared_ptr<const ColumnData> data;
};

ColumnObject* as_column(PyObject* self) { return reinterpret_cast<ColumnObject*>(self); }

PyObject* column_type();

void column_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  as_column(self)->data.~shared_ptr();
  type->tp_free(self);
  Py_DECREF(type);
}

Py_ssize_t column_length(PyObject* self) {
  int64_t length = 0;
  for (const ColumnChunk& chunk : as_column(self)->data->chunks) { length += chunk.length; }
  return static_cast<Py_ssize_t>(length);
}

// column_item gives row i as the iterable form of the bulk methods gives it: a str for a word
// (or UUID text), 16 bytes for an identifier, None for a null. So a column also stands where
// code wanted the list those give (list(), indexing, a pandas column assigned from it).
PyObject* column_item(PyObject* self, Py_ssize_t i) {
  const ColumnData& column = *as_column(self)->data;
  int64_t at = i;
  for (const ColumnChunk& chunk : column.chunks) {
    if (at < 0) { break; }
    if (at >= chunk.length) {
      at -= chunk.length;
      continue;
    }
    if (!is_valid(chunk, at)) { Py_RETURN_NONE; }
    if (column.kind == ColumnKind::kIdentifiers) {
      return PyBytes_FromStringAndSize(
          reinterpret_cast<const char*>(chunk.values.data()) + 16 * at, 16);
    }
    const int32_t begin = offset_at(chunk, at);
    return PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(chunk.values.data()) + begin,
                                offset_at(chunk, at + 1) - begin, "strict");
  }
  PyErr_SetString(PyExc_IndexError, "column index out of range");
  return nullptr;
}

// uuid_text_of writes the UUID text of every identifier of a column, with the interpreter
// lock released; null when memory runs out.
std::shared_ptr<const ColumnData> uuid_text_of(const ColumnData& identifiers) {
  std::shared_ptr<const ColumnData> result;
  without_lock([&] {
    ColumnBuilder builder(ColumnKind::kWords);
    bool ok = true;
    for (const ColumnChunk& chunk : identifiers.chunks) {
      constexpr int64_t kStep = 4096;
      for (int64_t first = 0; ok && first < chunk.length; first += kStep) {
        const int64_t last = std::min(chunk.length, first + kStep);
        ok = builder.reserve(static_cast<size_t>(last - first));
        for (int64_t i = first; ok && i < last; ++i) {
          if (!is_valid(chunk, i)) {
            builder.add_null();
            continue;
          }
          char text[core::kUuidTextLen];
          core::format_uuid_text(chunk.values.data() + 16 * i, text);
          builder.add_word({text, sizeof text});
        }
      }
    }
    if (ok) { result = builder.finish(); }
  });
  return result;
}

// requested_form reads the requested_schema argument of an export: for a column of
// identifiers, a text type asks for their UUID text. Any other request is left to the consumer
// to cast, as the interface provides.
int requested_form(PyObject* requested, const ColumnData& column, bool* as_text,
                   ExportForm* form) {
  *as_text = false;
  *form = ExportForm::kNative;
  if (requested == nullptr || requested == Py_None) { return 0; }
  const auto* schema =
      static_cast<const ArrowSchema*>(PyCapsule_GetPointer(requested, "arrow_schema"));
  if (schema == nullptr) {
    add_argument_note("requested_schema");
    return -1;
  }
  const std::optional<ColumnFormat> format = parse_column_format(*schema);
  if (!format || !format->text) { return 0; }
  *as_text = column.kind == ColumnKind::kIdentifiers;
  *form = format->layout == ColumnLayout::kOffsets64 ? ExportForm::kLarge
          : format->layout == ColumnLayout::kViews   ? ExportForm::kView
                                                     : ExportForm::kNative;
  return 0;
}

// export_target binds requested_schema and gives the column to export and its form.
template <const char* kMethod>
int export_target(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  std::shared_ptr<const ColumnData>* column, ExportForm* form) {
  static constexpr std::array<const char*, 1> kNames = {"requested_schema"};
  PyRef bound[1];
  if (bind_arguments(kMethod, kNames, 0, args, nargs, kwnames, bound) < 0) { return -1; }
  *column = as_column(self)->data;
  bool as_text = false;
  if (requested_form(bound[0].get(), **column, &as_text, form) < 0) { return -1; }
  if (as_text) {
    *column = uuid_text_of(**column);
    if (!*column) {
      PyErr_NoMemory();
      return -1;
    }
  }
  return 0;
}

constexpr char kArrowCArray[] = "__arrow_c_array__";
constexpr char kArrowCStream[] = "__arrow_c_stream__";

PyObject* column_arrow_c_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  std::shared_ptr<const ColumnData> column;
  ExportForm form = ExportForm::kNative;
  if (export_target<kArrowCArray>(self, args, nargs, kwnames, &column, &form) < 0) {
    return nullptr;
  }
  if (column->chunks.size() != 1) {
    PyErr_SetString(PyExc_OverflowError,
                    "the column holds more code words than one Arrow array of 32-bit offsets: "
                    "read it through __arrow_c_stream__");
    return nullptr;
  }
  auto schema = std::make_unique<ArrowSchema>();
  fill_schema(column->kind, form, schema.get());
  PyRef schema_capsule =
      PyRef::steal(PyCapsule_New(schema.get(), "arrow_schema", destroy_schema_capsule));
  if (!schema_capsule) { return nullptr; }
  schema.release();
  auto array = std::make_unique<ArrowArray>();
  if (!fill_array(column, 0, form, array.get())) { return PyErr_NoMemory(); }
  PyRef array_capsule =
      PyRef::steal(PyCapsule_New(array.get(), "arrow_array", destroy_array_capsule));
  if (!array_capsule) {
    array->release(array.get());
    return nullptr;
  }
  array.release();
  return PyTuple_Pack(2, schema_capsule.get(), array_capsule.get());
}

PyObject* column_arrow_c_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  std::shared_ptr<const ColumnData> column;
  ExportForm form = ExportForm::kNative;
  if (export_target<kArrowCStream>(self, args, nargs, kwnames, &column, &form) < 0) {
    return nullptr;
  }
  auto stream = std::make_unique<ArrowArrayStream>();
  *stream = ArrowArrayStream{stream_get_schema, stream_get_next, stream_get_last_error,
                             release_stream, new ExportedStream{std::move(column), form, 0}};
  PyObject* capsule = PyCapsule_New(stream.get(), "arrow_array_stream", destroy_stream_capsule);
  if (capsule == nullptr) {
    stream->release(stream.get());
    return nullptr;
  }
  stream.release();
  return capsule;
}

PyObject* column_uuid_text(PyObject* self, PyObject*) {
  const ColumnData& column = *as_column(self)->data;
  if (column.kind != ColumnKind::kIdentifiers) {
    PyErr_SetString(PyExc_TypeError, "uuid_text needs a column of identifiers, not of words");
    return nullptr;
  }
  std::shared_ptr<const ColumnData> text = uuid_text_of(column);
  if (!text) { return PyErr_NoMemory(); }
  return new_column(std::move(text));
}

constexpr int kFastKw = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef column_methods[] = {
    {kArrowCArray, fastcall<column_arrow_c_array>(), kFastKw,
     "__arrow_c_array__($self, requested_schema=None)\n--\n\n"},
    {kArrowCStream, fastcall<column_arrow_c_stream>(), kFastKw,
     "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"},
    {"uuid_text", reinterpret_cast<PyCFunction>(Guarded<column_uuid_text>::call), METH_NOARGS,
     "uuid_text($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot column_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(column_dealloc)},
    {Py_sq_length, reinterpret_cast<void*>(column_length)},
    {Py_sq_item, reinterpret_cast<void*>(column_item)},
    {Py_tp_iter, reinterpret_cast<void*>(PySeqIter_New)},
    {Py_tp_methods, column_methods},
    {Py_tp_doc, const_cast<char*>("")},
    {0, nullptr},
};

PyType_Spec column_spec = {
    "builtins.Column", sizeof(ColumnObject), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    column_slots,
};

PyObject* column_type() {
  // Created once per process, on the first result (under the interpreter lock).
  static PyObject* type = nullptr;
  if (type == nullptr) { type = PyType_FromSpec(&column_spec); }
  return type;
}

}  // namespace

PyObject* new_column(std::shared_ptr<const ColumnData> data) {
  auto* type = reinterpret_cast<PyTypeObject*>(column_type());
  if (type == nullptr) { return nullptr; }
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) { return nullptr; }
  new (&as_column(self)->data) std::shared_ptr<const ColumnData>(std::move(data));
  return self;
}

}  // namespace tavik::binding
