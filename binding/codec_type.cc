// The class Tavik: a heap type whose instances hold one CodecConfig by value. Every method
// binds and converts its arguments, takes a shared borrow of the object and calls the core.

#include "binding/codec_type.h"

#include <array>
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "binding/args.h"
#include "binding/bulk.h"
#include "binding/codec_object.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/guarded.h"
#include "core/builders.h"
#include "core/config.h"
#include "core/decode.h"
#include "core/encode.h"
#include "core/recover.h"
#include "core/settings.h"

namespace tavik::binding {
namespace {

using core::CodecConfig;

// wrap_config creates a new object of `type` that takes over the record.
PyObject* wrap_config(PyTypeObject* type, CodecConfig&& config) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) { return nullptr; }
  CodecObject* obj = as_codec(self);
  new (&obj->config) CodecConfig(std::move(config));
  new (&obj->borrow) std::atomic<int64_t>(0);
  return self;
}

PyObject* wrap_result(PyObject* self, Result<CodecConfig>&& next) {
  if (!next.ok()) { return raise_error(next.error()); }
  return wrap_config(Py_TYPE(self), std::move(next).value());
}

// Method bodies share one shape: bind, convert in signature order, borrow, call the core.
#define TAVIK_FASTCALL_ARGS \
  PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames

PyObject* codec_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr std::array<const char*, 4> kNames = {"key", "level", "mode", "bit_width"};
  BoundArguments<4> bound;
  if (bind_arguments_tuple("Tavik", kNames, 0, args, kwargs, bound.refs()) < 0) {
    return nullptr;
  }
  std::optional<std::span<const uint8_t>> key;
  Utf8Arg level{"universal", {}};
  Utf8Arg mode{"sealed", {}};
  uint32_t bit_width = 128;
  if (convert_optional_bytes(bound[0], "key", &key) < 0) { return nullptr; }
  if (bound[1] != nullptr && convert_str(bound[1], "level", &level) < 0) { return nullptr; }
  if (bound[2] != nullptr && convert_str(bound[2], "mode", &mode) < 0) { return nullptr; }
  if (bound[3] != nullptr && convert_u32(bound[3], "bit_width", &bit_width) < 0) { return nullptr; }
  Result<CodecConfig> config = core::construct_config(key, level.text, mode.text, bit_width);
  if (!config.ok()) { return raise_error(config.error()); }
  return wrap_config(type, std::move(config).value());
}

void codec_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  CodecObject* obj = as_codec(self);
  obj->config.~CodecConfig();  // wipes the key bytes
  obj->borrow.~atomic();
  type->tp_free(self);
  PyRef owned_type = PyRef::steal(reinterpret_cast<PyObject*>(type));  // instances own a type ref
}

// Converters by argument type, for the builders of one argument; core_value is what the core
// receives of a converted argument.
int convert_arg(PyObject* obj, const char* name, uint32_t* out) {
  return convert_u32(obj, name, out);
}
int convert_arg(PyObject* obj, const char* name, uint64_t* out) {
  return convert_u64(obj, name, out);
}
int convert_arg(PyObject* obj, const char* name, U128* out) {
  return convert_u128(obj, name, out);
}
int convert_arg(PyObject* obj, const char* name, Utf8Arg* out) {
  return convert_str(obj, name, out);
}
int convert_arg(PyObject* obj, const char* name, std::vector<uint64_t>* out) {
  return convert_pattern(obj, name, out);
}
template <typename T>
T&& core_value(T& value) {
  return std::move(value);
}
std::string_view core_value(Utf8Arg& value) { return value.text; }

PyObject* wrap_next(PyObject* self, CodecConfig&& next) {
  return wrap_config(Py_TYPE(self), std::move(next));
}
PyObject* wrap_next(PyObject* self, Result<CodecConfig>&& next) {
  return wrap_result(self, std::move(next));
}

// one_arg_builder is a builder method of one required argument: bind it, convert it, borrow
// the receiver and wrap the changed copy that Build returns (or raise its error).
template <const char* kMethod, const char* kArg, typename Arg, auto Build>
PyObject* one_arg_builder(TAVIK_FASTCALL_ARGS) {
  static constexpr std::array<const char*, 1> kNames = {kArg};
  BoundArguments<1> bound;
  if (bind_method(kMethod, kNames, 1, args, nargs, kwnames, bound) < 0) { return nullptr; }
  Arg value{};
  if (convert_arg(bound[0], kArg, &value) < 0) { return nullptr; }
  SharedBorrow borrow(self);
  return wrap_next(self, Build(as_codec(self)->config, core_value(value)));
}

constexpr char kWithBitWidth[] = "with_bit_width";
constexpr char kBits[] = "bits";
constexpr char kWithModulus[] = "with_modulus";
constexpr char kModulus[] = "modulus";
constexpr char kWithCase[] = "with_case";
constexpr char kCase[] = "case";
constexpr char kWithCheckSyllables[] = "with_check_syllables";
constexpr char kN[] = "n";
constexpr char kWithSeparator[] = "with_separator";
constexpr char kSep[] = "sep";
constexpr char kWithChunkFixed[] = "with_chunk_fixed";
constexpr char kCharSize[] = "char_size";
constexpr char kWithChunkPattern[] = "with_chunk_pattern";
constexpr char kPattern[] = "pattern";

PyObject* codec_with_cipher(TAVIK_FASTCALL_ARGS) {
  static constexpr std::array<const char*, 2> kNames = {"kind", "key"};
  BoundArguments<2> bound;
  if (bind_method("with_cipher", kNames, 1, args, nargs, kwnames, bound) < 0) { return nullptr; }
  Utf8Arg kind;
  std::optional<std::span<const uint8_t>> key;
  if (convert_str(bound[0], "kind", &kind) < 0) { return nullptr; }
  if (convert_optional_bytes(bound[1], "key", &key) < 0) { return nullptr; }
  SharedBorrow borrow(self);
  return wrap_result(self, core::with_cipher(as_codec(self)->config, kind.text, key));
}

PyObject* codec_with_chunk_none(PyObject* self, PyObject* /*unused*/) {
  SharedBorrow borrow(self);
  return wrap_config(Py_TYPE(self), core::with_chunk_none(as_codec(self)->config));
}

PyObject* codec_with_timestamp_config(TAVIK_FASTCALL_ARGS) {
  static constexpr std::array<const char*, 2> kNames = {"epoch_ms", "granularity"};
  BoundArguments<2> bound;
  if (bind_method("with_timestamp_config", kNames, 1, args, nargs, kwnames, bound) < 0) {
    return nullptr;
  }
  int64_t epoch_ms = 0;
  Utf8Arg granularity{"month", {}};
  if (convert_i64(bound[0], "epoch_ms", &epoch_ms) < 0) { return nullptr; }
  if (bound[1] != nullptr && convert_str(bound[1], "granularity", &granularity) < 0) {
    return nullptr;
  }
  SharedBorrow borrow(self);
  return wrap_result(
      self, core::with_timestamp_config(as_codec(self)->config, epoch_ms, granularity.text));
}

// from_settings is a class method: `self` is the class, or the subclass it was called on.
PyObject* codec_from_settings(TAVIK_FASTCALL_ARGS) {
  static constexpr std::array<const char*, 3> kNames = {"settings", "key", "cipher_key"};
  BoundArguments<3> bound;
  if (bind_method("from_settings", kNames, 1, args, nargs, kwnames, bound) < 0) { return nullptr; }
  Utf8Arg settings;
  std::optional<std::span<const uint8_t>> key;
  std::optional<std::span<const uint8_t>> cipher_key;
  if (convert_str(bound[0], "settings", &settings) < 0) { return nullptr; }
  if (convert_optional_bytes(bound[1], "key", &key) < 0) { return nullptr; }
  if (convert_optional_bytes(bound[2], "cipher_key", &cipher_key) < 0) { return nullptr; }
  Result<CodecConfig> config = core::config_from_settings(settings.text, key, cipher_key);
  if (!config.ok()) {
    raise_error(config.error());
    if (config.error().message == core::kUnknownSettingsField) {
      add_text_note("unknown field '" + std::string(core::unknown_settings_field(settings.text)) +
                    "'; the fields are level, mode, bits, modulus, cipher, check, case, chunk, "
                    "sep, epoch_ms, granularity");
    }
    return nullptr;
  }
  return wrap_config(reinterpret_cast<PyTypeObject*>(self), std::move(config).value());
}

PyObject* codec_settings(PyObject* self, void* /*unused*/) {
  SharedBorrow borrow(self);
  const std::string text = core::settings_text(as_codec(self)->config);
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* codec_encode(TAVIK_FASTCALL_ARGS) {
  static constexpr std::array<const char*, 1> kNames = {"data"};
  BoundArguments<1> bound;
  if (bind_method("encode", kNames, 1, args, nargs, kwnames, bound) < 0) { return nullptr; }
  std::span<const uint8_t> data;
  if (convert_bytes(bound[0], "data", &data) < 0) { return nullptr; }
  SharedBorrow borrow(self);
  const CodecConfig& config = as_codec(self)->config;
  const Result<core::EncodedText> text = core::encode(config, data);
  if (!text.ok()) { return raise_error(text.error()); }
  return word_to_str(config, text.value().view());
}

// read_word is decode or recover: bind and convert the word, borrow the receiver, and return
// the 16 bytes that Read gives (or raise its error).
template <const char* kMethod, auto Read>
PyObject* read_word(TAVIK_FASTCALL_ARGS) {
  static constexpr std::array<const char*, 1> kNames = {"input"};
  BoundArguments<1> bound;
  if (bind_method(kMethod, kNames, 1, args, nargs, kwnames, bound) < 0) { return nullptr; }
  core::CodeUnits input;
  if (convert_text(bound[0], "input", &input) < 0) { return nullptr; }
  SharedBorrow borrow(self);
  const CodecConfig& config = as_codec(self)->config;
  const Result<core::Bytes16> bytes = Read(config, input);
  if (!bytes.ok()) { return raise_read_error(bytes.error(), config, input); }
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.value().data()), 16);
}

constexpr char kDecode[] = "decode";
constexpr char kRecover[] = "recover";

// layout_text describes a chunk layout: "balanced", "none", "fixed:N" or "pattern:A,B,...".
std::string layout_text(const core::ChunkLayout& layout) {
  switch (layout.kind) {
    case core::ChunkKind::kBalanced: return "balanced";
    case core::ChunkKind::kUnchunked: return "none";
    case core::ChunkKind::kFixed: return "fixed:" + std::to_string(layout.fixed_size.value_or(core::kDefaultFixedSize));
    case core::ChunkKind::kPattern: {
      constexpr size_t kShown = 16;
      std::string text = "pattern:";
      for (size_t i = 0; i < layout.pattern.size() && i < kShown; ++i) {
        if (i != 0) { text += ','; }
        text += std::to_string(layout.pattern[i]);
      }
      if (layout.pattern.size() > kShown) { text += ",..."; }
      return text;
    }
  }
  return "balanced";
}

// cipher_text names the cipher and whose key it runs under ("feistel8, your key",
// "feistel8, with_cipher key", "feistel8, public key", "shuffle4, public key"): never the key
// or anything derived from it.
std::string cipher_text(const CodecConfig& config) {
  std::string text =
      config.cipher->kind() == fpe::CipherKind::kShuffle ? "shuffle4, " : "feistel8, ";
  switch (core::cipher_key_source(config)) {
    case core::CipherKeySource::kConfigKey: return text + "your key";
    case core::CipherKeySource::kWithCipherKey: return text + "with_cipher key";
    case core::CipherKeySource::kPublicKey: return text + "public key";
  }
  return text;
}

// The repr shows every setting that a word depends on, so that it can be stored beside the
// words and decode them again, and never the key.
PyObject* codec_repr(PyObject* self) {
  SharedBorrow borrow(self);
  const CodecConfig& config = as_codec(self)->config;
  std::string domain;
  if (config.domain.kind == fpe::CipherDomain::Kind::kModulus) {
    domain = "modulus=" + core::decimal_text(config.domain.modulus);
  } else {
    domain = "bit_width=" + std::to_string(config.bit_width);
  }
  const std::string cipher = cipher_text(config);
  const std::string layout = layout_text(config.chunk_layout);
  // The time prefix exists only in mode open, and so do its settings.
  std::string timestamp;
  if (config.mode == core::Mode::kOpen) {
    timestamp = ", epoch_ms=" + std::to_string(config.epoch_ms) + ", granularity='" +
                std::string(core::granularity_name(config.granularity)) + "'";
  }
  PyRef separator =
      config.chunk_layout.separator == 0
          ? PyRef::borrow(Py_None)
          : PyRef::steal(PyUnicode_FromOrdinal(static_cast<int>(config.chunk_layout.separator)));
  if (!separator) { return nullptr; }
  return PyUnicode_FromFormat(
      "Tavik(level='%s', mode='%s', %s, cipher='%s', check_syllables=%llu, case='%s', "
      "chunk='%s', separator=%R%s)",
      std::string(core::level_name(config.level)).c_str(),
      std::string(core::mode_name(config.mode)).c_str(), domain.c_str(), cipher.c_str(),
      static_cast<unsigned long long>(config.check_syllables),
      std::string(core::case_name(config.letter_case)).c_str(), layout.c_str(), separator.get(),
      timestamp.c_str());
}

#undef TAVIK_FASTCALL_ARGS

PyDoc_STRVAR(codec_doc,
             "Tavik(key=None, level=\"universal\", mode=\"sealed\", bit_width=128)\n--\n\n");

constexpr int kFastKw = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef codec_methods[] = {
    {"with_bit_width",
     fastcall<one_arg_builder<kWithBitWidth, kBits, uint32_t, &core::with_bit_width>>(), kFastKw,
     "with_bit_width($self, bits)\n--\n\n"},
    {"with_modulus",
     fastcall<one_arg_builder<kWithModulus, kModulus, U128, &core::with_modulus>>(), kFastKw,
     "with_modulus($self, modulus)\n--\n\n"},
    {"with_cipher", fastcall<codec_with_cipher>(), kFastKw,
     "with_cipher($self, kind, key=None)\n--\n\n"},
    {"with_case", fastcall<one_arg_builder<kWithCase, kCase, Utf8Arg, &core::with_case>>(),
     kFastKw, "with_case($self, case)\n--\n\n"},
    {"with_check_syllables",
     fastcall<one_arg_builder<kWithCheckSyllables, kN, uint64_t, &core::with_check_syllables>>(),
     kFastKw, "with_check_syllables($self, n)\n--\n\n"},
    {"with_separator",
     fastcall<one_arg_builder<kWithSeparator, kSep, Utf8Arg, &core::with_separator>>(),
     kFastKw, "with_separator($self, sep)\n--\n\n"},
    {"with_chunk_none", Guarded<codec_with_chunk_none>::call, METH_NOARGS,
     "with_chunk_none($self)\n--\n\n"},
    {"with_chunk_fixed",
     fastcall<one_arg_builder<kWithChunkFixed, kCharSize, uint64_t, &core::with_chunk_fixed>>(),
     kFastKw, "with_chunk_fixed($self, char_size)\n--\n\n"},
    {"with_chunk_pattern",
     fastcall<one_arg_builder<kWithChunkPattern, kPattern, std::vector<uint64_t>,
                              &core::with_chunk_pattern>>(),
     kFastKw, "with_chunk_pattern($self, pattern)\n--\n\n"},
    {"with_timestamp_config", fastcall<codec_with_timestamp_config>(), kFastKw,
     "with_timestamp_config($self, epoch_ms, granularity=\"month\")\n--\n\n"},
    {"from_settings", fastcall<codec_from_settings>(), kFastKw | METH_CLASS,
     "from_settings($type, settings, key=None, cipher_key=None)\n--\n\n"},
    {"encode", fastcall<codec_encode>(), kFastKw, "encode($self, data)\n--\n\n"},
    {"decode", fastcall<read_word<kDecode, &core::decode_text>>(), kFastKw,
     "decode($self, input)\n--\n\n"},
    {"recover", fastcall<read_word<kRecover, &core::recover_text>>(), kFastKw,
     "recover($self, input)\n--\n\n"},
    {"encode_many", fastcall<codec_encode_many>(), kFastKw,
     "encode_many($self, items, errors=\"raise\")\n--\n\n"},
    {"decode_many", fastcall<codec_decode_many>(), kFastKw,
     "decode_many($self, words, errors=\"raise\", as_buffer=False)\n--\n\n"},
    {"recover_many", fastcall<codec_recover_many>(), kFastKw,
     "recover_many($self, words, errors=\"raise\", as_buffer=False)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef codec_getset[] = {
    {"settings", Guarded<codec_settings>::call, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot codec_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Guarded<codec_new>::call)},
    {Py_tp_dealloc, reinterpret_cast<void*>(codec_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(Guarded<codec_repr>::call)},
    {Py_tp_methods, codec_methods},
    {Py_tp_getset, codec_getset},
    {Py_tp_doc, const_cast<char*>(codec_doc)},
    {0, nullptr},
};

PyType_Spec codec_spec = {
    "builtins.Tavik", sizeof(CodecObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    codec_slots,
};

}  // namespace

PyObject* word_to_str(const CodecConfig& config, std::string_view word) {
  if (config.chunk_layout.separator < 0x80) {
    // ASCII: create the str once with its final length and fill it in place.
    PyObject* result = PyUnicode_New(static_cast<Py_ssize_t>(word.size()), 127);
    if (result == nullptr) { return nullptr; }
    std::memcpy(PyUnicode_1BYTE_DATA(result), word.data(), word.size());
    return result;
  }
  return PyUnicode_DecodeUTF8(word.data(), static_cast<Py_ssize_t>(word.size()), "strict");
}

PyObject* codec_type() {
  // Created once per process (under the interpreter lock); later imports reuse it.
  static PyObject* type = nullptr;
  if (type == nullptr) { type = PyType_FromSpec(&codec_spec); }
  return type;
}

}  // namespace tavik::binding
