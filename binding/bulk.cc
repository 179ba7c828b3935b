#include "binding/bulk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/codec_object.h"
#include "binding/convert.h"
#include "binding/arrow.h"
#include "binding/errors.h"
#include "binding/keyring_object.h"
#include "binding/without_lock.h"
#include "core/bulk.h"
#include "core/keyring.h"
#include "core/uuid_text.h"

namespace tavik::binding {
namespace {

using core::kBatchLen;

enum class Op : uint8_t { kEncode, kDecode, kRecover, kKeyringDecode, kRekey };
enum class OnError : uint8_t { kRaise, kNone };

// BatchBuffers is the storage of one batch: the core's scratch, the items as the core reads
// them, their results, and a reference to each item object while the core reads it.
struct BatchBuffers {
  core::BatchScratch scratch;
  std::vector<std::span<const uint8_t>> data = std::vector<std::span<const uint8_t>>(kBatchLen);
  std::vector<core::CodeUnits> words = std::vector<core::CodeUnits>(kBatchLen);
  std::vector<core::EncodedText> texts = std::vector<core::EncodedText>(kBatchLen);
  std::vector<core::Bytes16> bytes = std::vector<core::Bytes16>(kBatchLen);
  std::vector<core::KeyedBytes> keyed;                   // made for the first keyring call
  std::unique_ptr<core::KeyringScratch> keyring_scratch;  // made for the first keyring call
  std::vector<std::optional<Error>> errors = std::vector<std::optional<Error>>(kBatchLen);
  // Where each item of the batch stands in the core's arrays; kNotConverted for an item that
  // could not be read (with errors="none").
  std::vector<size_t> slot = std::vector<size_t>(kBatchLen);
  std::vector<PyRef> refs;
  static constexpr size_t kNotConverted = ~size_t{0};
};

// Each thread keeps its buffers between calls, so a call costs no allocation of them. A bulk
// call made while they are lent (by an iterator or a finalizer that runs during another bulk
// call of the same thread) gets buffers of its own.
thread_local std::unique_ptr<BatchBuffers> thread_buffers;
thread_local bool thread_buffers_lent = false;

class BuffersLease {
 public:
  BuffersLease() {
    if (thread_buffers_lent) {
      own_ = std::make_unique<BatchBuffers>();
      buffers_ = own_.get();
      return;
    }
    if (!thread_buffers) { thread_buffers = std::make_unique<BatchBuffers>(); }
    buffers_ = thread_buffers.get();
    thread_buffers_lent = true;
  }
  BuffersLease(const BuffersLease&) = delete;
  BuffersLease& operator=(const BuffersLease&) = delete;
  ~BuffersLease() {
    buffers_->refs.clear();
    if (!own_) { thread_buffers_lent = false; }
  }
  BatchBuffers& operator*() const { return *buffers_; }

 private:
  std::unique_ptr<BatchBuffers> own_;
  BatchBuffers* buffers_ = nullptr;
};

// BufferView holds a buffer export for a call: the exporter cannot resize or free it meanwhile.
struct BufferView {
  Py_buffer view{};
  bool held = false;
  BufferView() = default;
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;
  ~BufferView() {
    if (held && lock_held()) { PyBuffer_Release(&view); }
  }
};

int convert_on_error(PyObject* obj, OnError* out) {
  if (obj == nullptr) {
    *out = OnError::kRaise;
    return 0;
  }
  Utf8Arg text;
  if (convert_str(obj, "errors", &text) < 0) { return -1; }
  if (text.text == "raise") {
    *out = OnError::kRaise;
  } else if (text.text == "none") {
    *out = OnError::kNone;
  } else {
    PyErr_SetString(PyExc_ValueError, "errors must be 'raise' or 'none'");
    return -1;
  }
  return 0;
}

int convert_flag(PyObject* obj, const char* name, bool* out) {
  if (obj == nullptr) {
    *out = false;
    return 0;
  }
  const int truth = python_call([&] { return PyObject_IsTrue(obj); });
  if (truth < 0) {
    add_argument_note(name);
    return -1;
  }
  *out = truth != 0;
  return 0;
}

// Results collects what a bulk call returns: a list of str or of 16-byte bytes (None for a
// failed item with errors="none"), or one bytearray of 16 bytes an item, with the indices of
// the failed items beside it.
class Results {
 public:
  int open(bool as_buffer) {
    as_buffer_ = as_buffer;
    out_ = PyRef::steal(as_buffer ? PyByteArray_FromStringAndSize(nullptr, 0) : PyList_New(0));
    if (!out_) { return -1; }
    failed_ = PyRef::steal(PyList_New(0));
    return failed_ ? 0 : -1;
  }
  // grow makes room in the buffer for `count` more items.
  int grow(size_t count) {
    if (!as_buffer_) { return 0; }
    size_ += count;
    return PyByteArray_Resize(out_.get(), static_cast<Py_ssize_t>(16 * size_));
  }
  int add_object(PyObject* object) {
    PyRef owned = PyRef::steal(object);
    return owned ? PyList_Append(out_.get(), owned.get()) : -1;
  }
  int add_bytes(size_t index, const core::Bytes16& bytes) {
    if (as_buffer_) {
      std::memcpy(PyByteArray_AS_STRING(out_.get()) + 16 * index, bytes.data(), 16);
      return 0;
    }
    return add_object(
        PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()), 16));
  }
  int add_failed(size_t index) {
    if (as_buffer_) {
      std::memset(PyByteArray_AS_STRING(out_.get()) + 16 * index, 0, 16);
      PyRef number = PyRef::steal(PyLong_FromSize_t(index));
      return number ? PyList_Append(failed_.get(), number.get()) : -1;
    }
    return PyList_Append(out_.get(), Py_None);
  }
  PyObject* finish(OnError on_error) {
    if (as_buffer_ && on_error == OnError::kNone) {
      return PyTuple_Pack(2, out_.get(), failed_.get());
    }
    return out_.release();
  }

 private:
  bool as_buffer_ = false;
  size_t size_ = 0;
  PyRef out_;
  PyRef failed_;
};

// holds_records tells whether a buffer of items of `format` (struct module syntax) and
// `itemsize` bytes holds raw bytes: single bytes ('B', 'b', 'c') or records of exactly
// record_len bytes ('16s', '16B', '16x' for 16-byte records). Anything else (an object
// array's pointers, text, numbers) is no identifier whatever its size.
bool holds_records(std::string_view format, size_t itemsize, size_t record_len) {
  if (!format.empty() && std::string_view("@=<>!").find(format.front()) != std::string_view::npos) {
    format.remove_prefix(1);
  }
  const auto is_byte = [](std::string_view code) {
    return code == "B" || code == "b" || code == "c";
  };
  if (itemsize == 1 && is_byte(format)) { return true; }
  if (itemsize != record_len) { return false; }
  const std::string count = std::to_string(record_len);
  if (!format.starts_with(count)) { return false; }
  const std::string_view code = format.substr(count.size());
  return is_byte(code) || code == "s" || code == "x";
}

// Items yields the items of a call a batch at a time: from an iterator, or cut in records of
// record_len bytes from one buffer.
class Items {
 public:
  Items(const char* name, const char* expected) : name_(name), expected_(expected) {}

  int open(PyObject* obj, size_t record_len) {
    if (PyUnicode_Check(obj)) {
      PyErr_Format(PyExc_TypeError, "%s must be %s, not str", name_, expected_);
      add_argument_note(name_);
      return -1;
    }
    if (record_len != 0 && PyObject_CheckBuffer(obj)) {
      if (python_call([&] {
            return PyObject_GetBuffer(obj, &buffer_.view, PyBUF_FORMAT | PyBUF_C_CONTIGUOUS);
          }) < 0) {
        add_argument_note(name_);
        return -1;
      }
      buffer_.held = true;
      record_len_ = record_len;
      const char* format = buffer_.view.format == nullptr ? "B" : buffer_.view.format;
      if (!holds_records(format, static_cast<size_t>(buffer_.view.itemsize), record_len)) {
        PyErr_Format(PyExc_TypeError,
                     "%s must be a buffer of bytes (format 'B', 'b' or 'c') or of records of "
                     "%zu bytes, not of format '%s'",
                     name_, record_len, format);
        add_argument_note(name_);
        return -1;
      }
      if (static_cast<size_t>(buffer_.view.len) % record_len != 0) {
        PyErr_Format(PyExc_ValueError,
                     "a buffer of %zd bytes does not hold whole identifiers of %zu bytes",
                     buffer_.view.len, record_len);
        add_argument_note(name_);
        return -1;
      }
      return 0;
    }
    iterator_ = PyRef::steal(python_call([&] { return PyObject_GetIter(obj); }));
    if (!iterator_) {
      add_argument_note(name_);
      return -1;
    }
    return 0;
  }

  bool from_buffer() const { return buffer_.held; }

  // next_record gives the next record of the buffer, or false at its end.
  bool next_record(std::span<const uint8_t>* out) {
    if (offset_ >= static_cast<size_t>(buffer_.view.len)) { return false; }
    *out = {static_cast<const uint8_t*>(buffer_.view.buf) + offset_, record_len_};
    offset_ += record_len_;
    return true;
  }

  // next_object gives a new reference to the iterator's next item; null at its end, or with
  // its exception set.
  PyRef next_object() {
    return PyRef::steal(python_call([&] { return PyIter_Next(iterator_.get()); }));
  }

  const char* name() const { return name_; }

 private:
  const char* name_;
  const char* expected_;
  BufferView buffer_;
  size_t record_len_ = 0;
  size_t offset_ = 0;
  PyRef iterator_;
};

// convert_item reads one item into the core's arrays at `at`, as the single call would read
// its argument (with its errors and their notes).
template <Op kOp>
int convert_item(PyObject* item, BatchBuffers& b, size_t at) {
  if constexpr (kOp == Op::kEncode) {
    // A str is UUID text; its 16 bytes wait in the batch's bytes, which encode leaves unused.
    if (PyUnicode_Check(item)) {
      return convert_uuid_text(item, "data", &b.bytes[at], &b.data[at]);
    }
    return convert_bytes(item, "data", &b.data[at]);
  } else {
    return convert_text(item, "input", &b.words[at]);
  }
}

// Target is what a bulk call works under: one codec, or a keyring (whose first codec writes).
struct Target {
  const core::CodecConfig* config;
  core::Keyring keyring;
};

template <Op kOp>
void run_batch(const Target& target, BatchBuffers& b, size_t n) {
  const core::CodecConfig& config = *target.config;
  const std::span<std::optional<Error>> errors(b.errors.data(), n);
  if constexpr (kOp == Op::kKeyringDecode) {
    core::keyring_decode_many(target.keyring, {b.words.data(), n}, {b.keyed.data(), n}, errors,
                              *b.keyring_scratch);
  } else if constexpr (kOp == Op::kRekey) {
    core::keyring_rekey_many(target.keyring, {b.words.data(), n}, {b.texts.data(), n}, errors,
                             *b.keyring_scratch, b.scratch);
  } else if constexpr (kOp == Op::kEncode) {
    core::encode_many(config, {b.data.data(), n}, {b.texts.data(), n}, errors, b.scratch);
  } else if constexpr (kOp == Op::kDecode) {
    core::decode_many(config, {b.words.data(), n}, {b.bytes.data(), n}, errors, b.scratch);
  } else {
    core::recover_many(config, {b.words.data(), n}, {b.bytes.data(), n}, errors, b.scratch);
  }
}

// bulk is the body of the three methods: read a batch (interpreter lock held), hash it (lock
// released), turn it into results (lock held), until the items run out. With errors="raise"
// the first failing item, in order, raises what the single call raises, with a note naming
// its index, whatever the kind of its failure and whatever fails after it (the iterator's own
// error included); the batch that holds it is read to its end (or to the iterator's end or
// error) and no further, whichever the failure. With errors="none" a failed item gives None
// (or, with as_buffer, 16 zero bytes and its index in the list of failures).
template <Op kOp>
PyObject* bulk(const Target& target, Items& items, OnError on_error, bool as_buffer) {
  const core::CodecConfig& config = *target.config;
  Results results;
  if (results.open(as_buffer) < 0) { return nullptr; }
  BuffersLease lease;
  BatchBuffers& b = *lease;
  if constexpr (kOp == Op::kKeyringDecode || kOp == Op::kRekey) {
    if (!b.keyring_scratch) {
      b.keyring_scratch = std::make_unique<core::KeyringScratch>();
      b.keyed.resize(kBatchLen);
    }
  }
  size_t index = 0;  // of the batch's first item
  bool done = false;
  while (!done) {
    // A long call stays interruptible: the iterator may run no Python code between items.
    if (PyErr_CheckSignals() < 0) { return nullptr; }
    // The batch's first failure while reading (an item that does not convert, with
    // errors="raise", or the iterator's error) and its place: it is raised once the items
    // before it are out. Items after it are read but neither converted nor hashed.
    PyRef pending;
    size_t pending_at = kBatchLen;
    size_t n = 0;
    size_t m = 0;
    while (n < kBatchLen) {
      if (items.from_buffer()) {
        if (!items.next_record(&b.data[m])) {
          done = true;
          break;
        }
        b.slot[n++] = m++;
        continue;
      }
      PyRef item = items.next_object();
      if (!item) {
        if (PyErr_Occurred() && !pending) {
          pending = PyRef::steal(fetch_exception());
          pending_at = n;
        }
        PyErr_Clear();  // an earlier item's failure wins over the iterator's error
        done = true;
        break;
      }
      if (pending || convert_item<kOp>(item.get(), b, m) < 0) {
        if (!pending && on_error == OnError::kRaise) {
          add_item_note(index + n, items.name());
          pending = PyRef::steal(fetch_exception());
          pending_at = n;
        }
        PyErr_Clear();
        b.slot[n++] = BatchBuffers::kNotConverted;
        continue;
      }
      b.refs.push_back(std::move(item));
      b.slot[n++] = m++;
    }
    without_lock([&] { run_batch<kOp>(target, b, m); });
    const size_t out = std::min(n, pending_at);
    if (results.grow(out) < 0) { return nullptr; }
    for (size_t i = 0; i < out; ++i) {
      const size_t at = b.slot[i];
      const bool failed = at == BatchBuffers::kNotConverted || b.errors[at].has_value();
      if (failed && on_error == OnError::kRaise) {
        if constexpr (kOp == Op::kEncode) {
          raise_error(*b.errors[at]);
        } else {
          raise_read_error(*b.errors[at], config, b.words[at], target.keyring.size());
        }
        add_item_note(index + i, items.name());
        return nullptr;
      }
      int rc = 0;
      if (failed) {
        rc = results.add_failed(index + i);
      } else if constexpr (kOp == Op::kEncode || kOp == Op::kRekey) {
        rc = results.add_object(word_to_str(config, b.texts[at].view()));
      } else if constexpr (kOp == Op::kKeyringDecode) {
        rc = results.add_object(keyed_result(b.keyed[at]));
      } else {
        rc = results.add_bytes(index + i, b.bytes[at]);
      }
      if (rc < 0) { return nullptr; }
    }
    b.refs.clear();
    index += n;
    if (pending) {
      restore_exception(pending.release());
      return nullptr;
    }
  }
  return results.finish(on_error);
}

constexpr char kEncodeMany[] = "encode_many";
constexpr char kDecodeMany[] = "decode_many";
constexpr char kRecoverMany[] = "recover_many";

template <Op kOp, const char* kMethod>
PyObject* read_words_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  static constexpr std::array<const char*, 3> kNames = {"words", "errors", "as_buffer"};
  BoundArguments<3> bound;
  if (bind_method(kMethod, kNames, 1, args, nargs, kwnames, bound) < 0) { return nullptr; }
  SharedBorrow borrow(self);
  Items words("words", "an iterable of str");
  OnError on_error = OnError::kRaise;
  bool as_buffer = false;
  const int arrow = exports_arrow(bound[0]);
  if (arrow < 0) {
    add_argument_note("words");
    return nullptr;
  }
  if (arrow != 0) {
    if (convert_on_error(bound[1], &on_error) < 0 ||
        convert_flag(bound[2], "as_buffer", &as_buffer) < 0) {
      return nullptr;
    }
    if (as_buffer) {
      PyErr_SetString(PyExc_ValueError, "as_buffer=True does not apply to an Arrow column");
      add_argument_note("as_buffer");
      return nullptr;
    }
    return arrow_many(self, kOp == Op::kDecode ? ArrowOp::kDecode : ArrowOp::kRecover,
                      bound[0], "words", on_error == OnError::kRaise);
  }
  if (words.open(bound[0], /*record_len=*/0) < 0 || convert_on_error(bound[1], &on_error) < 0 ||
      convert_flag(bound[2], "as_buffer", &as_buffer) < 0) {
    return nullptr;
  }
  return bulk<kOp>(Target{&as_codec(self)->config, {}}, words, on_error, as_buffer);
}

constexpr char kRekeyMany[] = "rekey_many";

// keyring_words_many is a keyring's decode_many or rekey_many: the words, and errors.
template <Op kOp, const char* kMethod>
PyObject* keyring_words_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  static constexpr std::array<const char*, 2> kNames = {"words", "errors"};
  BoundArguments<2> bound;
  if (bind_method(kMethod, kNames, 1, args, nargs, kwnames, bound) < 0) { return nullptr; }
  Items words("words", "an iterable of str");
  OnError on_error = OnError::kRaise;
  if (words.open(bound[0], /*record_len=*/0) < 0 || convert_on_error(bound[1], &on_error) < 0) {
    return nullptr;
  }
  const core::Keyring keyring = as_keyring(self)->keyring();
  return bulk<kOp>(Target{keyring[0], keyring}, words, on_error, /*as_buffer=*/false);
}

}  // namespace

PyObject* keyring_decode_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return keyring_words_many<Op::kKeyringDecode, kDecodeMany>(self, args, nargs, kwnames);
}

PyObject* keyring_rekey_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return keyring_words_many<Op::kRekey, kRekeyMany>(self, args, nargs, kwnames);
}

PyObject* codec_encode_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  static constexpr std::array<const char*, 2> kNames = {"items", "errors"};
  BoundArguments<2> bound;
  if (bind_method(kEncodeMany, kNames, 1, args, nargs, kwnames, bound) < 0) { return nullptr; }
  SharedBorrow borrow(self);
  // A buffer holds identifiers of the codec's byte count each, ceil(bit_width / 8).
  const size_t record_len = (as_codec(self)->config.bit_width + 7) / 8;
  Items items("items", "an iterable of bytes or a buffer");
  OnError on_error = OnError::kRaise;
  const int arrow = exports_arrow(bound[0]);
  if (arrow < 0) {
    add_argument_note("items");
    return nullptr;
  }
  if (arrow != 0) {
    if (convert_on_error(bound[1], &on_error) < 0) { return nullptr; }
    return arrow_many(self, ArrowOp::kEncode, bound[0], "items", on_error == OnError::kRaise);
  }
  if (items.open(bound[0], record_len) < 0 || convert_on_error(bound[1], &on_error) < 0) {
    return nullptr;
  }
  return bulk<Op::kEncode>(Target{&as_codec(self)->config, {}}, items, on_error,
                           /*as_buffer=*/false);
}

PyObject* codec_decode_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return read_words_many<Op::kDecode, kDecodeMany>(self, args, nargs, kwnames);
}

PyObject* codec_recover_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return read_words_many<Op::kRecover, kRecoverMany>(self, args, nargs, kwnames);
}

}  // namespace tavik::binding
