/* tavik.h: the C interface of tavik, which turns short binary identifiers (UUIDs above all) into
 * pronounceable code words and back. C99, and usable from C++ unchanged.
 *
 * A codec is built once from a settings text (the text that Tavik.settings writes in Python)
 * and its keys; after that it never changes, so any number of threads may share it. The
 * working calls (encode, decode, recover and their bulk forms) never allocate, never print,
 * never abort on bad input and never keep state between calls: a NULL or out-of-range argument
 * is a status. Only tavik_codec_new and tavik_scratch_new allocate.
 *
 * Every call that can fail returns a status: TAVIK_OK (0) is success, every failure has its own
 * status below, and tavik_status_text gives its text: for the failures that Python reports,
 * exactly the message of the Python exception (a key or settings text that the Python side
 * refuses is refused here with the same text).
 *
 * Compatibility. TAVIK_ABI_VERSION is the version of this interface; tavik_abi_version() is the
 * version of the library actually loaded, and the shared library's soname carries it
 * (libtavik.so.1). Within one ABI version:
 *   - functions, statuses and constants may be added, never removed or changed;
 *   - a status keeps its number and its text forever; a call may start to return a new
 *     status only for a failure that did not exist before;
 *   - the code words and settings texts that a codec reads and writes never change.
 * Any other change (a signature, a meaning, a removal) comes with a new ABI version and a new
 * soname. A program built against this header can check at start-up that
 * tavik_abi_version() == TAVIK_ABI_VERSION.
 */
#ifndef TAVIK_H_
#define TAVIK_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define TAVIK_API
#elif defined(__GNUC__)
#define TAVIK_API __attribute__((visibility("default")))
#else
#define TAVIK_API
#endif

#define TAVIK_ABI_VERSION 1

/* The longest code word any codec writes, in bytes (UTF-8, no terminating NUL). A word buffer
 * of this size never fails with TAVIK_E_WORD_BUFFER. */
#define TAVIK_MAX_WORD_LEN 153

/* The longest settings text any codec writes (tavik_codec_settings), in bytes (ASCII, no
 * terminating NUL). A buffer of this size never fails with TAVIK_E_BUFFER. */
#define TAVIK_MAX_SETTINGS_LEN 1024

/* The decoded identifier: always 16 bytes, most significant first. */
#define TAVIK_ID_LEN 16

/* Statuses. Numbers are fixed forever (see above). */
enum {
  TAVIK_OK = 0,

  /* Arguments of the C interface itself. */
  TAVIK_E_NULL_ARGUMENT = 1,  /* a required pointer is NULL, or NULL with a non-zero length */
  TAVIK_E_WORD_BUFFER = 2,    /* the word buffer is too small: *word_len is the size needed */
  TAVIK_E_NO_MEMORY = 3,      /* tavik_codec_new or tavik_scratch_new could not allocate */
  TAVIK_E_RANGE = 4,          /* a length or count out of range (e.g. a word longer than its
                                 stride in a bulk call) */
  TAVIK_E_BUFFER = 5,         /* an output buffer other than a word buffer is too small: the
                                 length argument is the size needed */

  /* The keys (Python: ValueError from the constructor). */
  TAVIK_E_KEY_MISSING = 10,        /* "key is required for sealed and open modes" */
  TAVIK_E_KEY_EMPTY = 11,          /* "key must not be empty for sealed/open modes" */

  /* Encoding (Python: ValueError). */
  TAVIK_E_NOT_BELOW_MODULUS = 30,  /* "value must be below the modulus" */
  TAVIK_E_NOT_ENCIPHERED = 31,     /* "value cannot be enciphered within the modulus" */

  /* Decoding and recovery (Python: ValueError, but TAVIK_E_DECODE_AFTER_RECOVERY:
   * RuntimeError). */
  TAVIK_E_NORMALIZATION = 40,      /* "input normalization failed" */
  TAVIK_E_KEY_REQUIRED = 41,       /* "key required for this mode" */
  TAVIK_E_CHECK_FAILED = 42,       /* "check verification failed - input may be corrupted"
                                      (an em dash, U+2014, in UTF-8) */
  TAVIK_E_RECOVERY_NOT_SUPPORTED = 43, /* "recovery not supported in plain mode" */
  TAVIK_E_UNRECOVERABLE = 44,      /* "reject: unrecoverable" */
  TAVIK_E_DECODE_AFTER_RECOVERY = 45, /* "failed to decode after recovery" */

  /* A broken internal invariant: a state that the checks rule out (Python: the module's
   * InternalError). */
  TAVIK_E_INTERNAL = 90,

  /* recover found N > 1 candidates: the status is TAVIK_E_AMBIGUOUS + N, for N up to 99, and
   * its text "ambiguous: N candidates". */
  TAVIK_E_AMBIGUOUS = 100,

  /* A settings text that tavik_codec_new refuses, or keys that do not go with it (Python:
   * ValueError from Tavik.from_settings). */
  TAVIK_E_SETTINGS = 200,
  TAVIK_E_SETTINGS_NOT_ASCII = 200,    /* "settings text must be one line of printable ASCII" */
  TAVIK_E_SETTINGS_NO_VERSION = 201,   /* "settings text must start with tavik/1" */
  TAVIK_E_SETTINGS_OTHER_VERSION = 202, /* "settings text is of another version: ..." */
  TAVIK_E_SETTINGS_UNKNOWN_FIELD = 203, /* "settings text has an unknown field" */
  TAVIK_E_SETTINGS_NO_EQUALS = 204,    /* "settings field must be written name=value" */
  TAVIK_E_SETTINGS_NO_WIDTH = 205,     /* "settings text lacks the field 'bits' (or 'modulus')" */
  TAVIK_E_SETTINGS_BOTH_WIDTHS = 206,  /* "settings text has both 'bits' and 'modulus': ..." */
  TAVIK_E_SETTINGS_CIPHER_IN_PLAIN = 207, /* "settings field 'cipher' must not be feistel8:key
                                             in mode plain, ..." */
  TAVIK_E_SETTINGS_SEP_WITH_NONE = 208,  /* "settings field 'sep' must be none with chunk=none" */
  TAVIK_E_SETTINGS_SEP_WITH_FIXED = 209, /* "settings field 'sep' must be U+002D with ..." */
  TAVIK_E_CIPHER_KEY_MISSING = 210, /* "cipher_key is required for cipher=feistel8:cipher_key" */
  TAVIK_E_CIPHER_KEY_UNUSED = 211,  /* "cipher_key is only for cipher=feistel8:cipher_key" */
  /* The failures of one field: TAVIK_E_SETTINGS_FIELD_ERROR(field, kind) below, whose text
   * names the field, e.g. "settings field 'bits' must be a number in 16..128". */
  TAVIK_E_SETTINGS_FIELD = 212,
  TAVIK_E_SETTINGS_END = 399
};

/* The fields of a settings text and the kinds of their failures. */
enum {
  TAVIK_FIELD_LEVEL = 0,
  TAVIK_FIELD_MODE = 1,
  TAVIK_FIELD_BITS = 2,
  TAVIK_FIELD_MODULUS = 3,
  TAVIK_FIELD_CIPHER = 4,
  TAVIK_FIELD_CHECK = 5,
  TAVIK_FIELD_CASE = 6,
  TAVIK_FIELD_CHUNK = 7,
  TAVIK_FIELD_SEP = 8,
  TAVIK_FIELD_EPOCH_MS = 9,
  TAVIK_FIELD_GRANULARITY = 10
};
enum {
  TAVIK_FIELD_MISSING = 0,   /* "settings text lacks the field 'F'" */
  TAVIK_FIELD_REPEATED = 1,  /* "settings text repeats the field 'F'" */
  TAVIK_FIELD_INVALID = 2,   /* "settings field 'F' must be ..." */
  TAVIK_FIELD_ONLY_OPEN = 3  /* "settings field 'F' applies only to mode open" */
};
#define TAVIK_E_SETTINGS_FIELD_ERROR(field, kind) (TAVIK_E_SETTINGS_FIELD + 4 * (field) + (kind))

#define TAVIK_IS_AMBIGUOUS(status) \
  ((status) >= TAVIK_E_AMBIGUOUS + 2 && (status) < TAVIK_E_AMBIGUOUS + 100)
#define TAVIK_IS_SETTINGS_ERROR(status) \
  ((status) >= TAVIK_E_SETTINGS && (status) <= TAVIK_E_SETTINGS_END)

/* tavik_status_text is the text of a status: for a failure that Python reports, the message of
 * its exception, byte for byte (UTF-8). A number that is no status gives "unknown status".
 * Never NULL; the text is static. */
TAVIK_API const char *tavik_status_text(int status);

/* tavik_abi_version is the ABI version of the loaded library (TAVIK_ABI_VERSION when it
 * matches this header); tavik_version its release, e.g. "0.1.0". */
TAVIK_API int tavik_abi_version(void);
TAVIK_API const char *tavik_version(void);

typedef struct tavik_codec tavik_codec;

/* tavik_codec_new builds a codec from a settings text (NUL-terminated) and its keys, and
 * stores it in *out (NULL on failure). key is the Python constructor's key; cipher_key the key
 * given to with_cipher("feistel", key). A NULL key with length 0 is no key (Python None); a
 * non-NULL key with length 0 is an empty key, which the keyed modes refuse as Python does.
 * The keys are copied; the codec wipes its copies when freed. */
TAVIK_API int tavik_codec_new(const char *settings, const uint8_t *key, size_t key_len,
                              const uint8_t *cipher_key, size_t cipher_key_len,
                              tavik_codec **out);

/* tavik_codec_free frees a codec (NULL is allowed). No call may be using it. */
TAVIK_API void tavik_codec_free(tavik_codec *codec);

/* tavik_codec_settings writes the codec's settings text to text: the canonical text, its
 * fields in the order Python's Tavik.settings writes them, whatever order and spacing the text
 * given to tavik_codec_new had. ASCII without a terminating NUL; its length goes to *text_len,
 * never above TAVIK_MAX_SETTINGS_LEN. If text_cap is smaller than the text, nothing is written
 * to text, *text_len is the size needed, and the status is TAVIK_E_BUFFER. It never
 * allocates: the text is made by tavik_codec_new. */
TAVIK_API int tavik_codec_settings(const tavik_codec *codec, char *text, size_t text_cap,
                                   size_t *text_len);

/* tavik_encode writes the code word of data (any length; the codec reads the bytes its width
 * needs) to word, UTF-8 without a terminating NUL, and its length to *word_len. If word_cap is
 * smaller than the word, nothing is written to word, *word_len is the size needed, and the
 * status is TAVIK_E_WORD_BUFFER. */
TAVIK_API int tavik_encode(const tavik_codec *codec, const uint8_t *data, size_t data_len,
                           char *word, size_t word_cap, size_t *word_len);

/* tavik_decode reads a code word (UTF-8; any case, separators and other non-letters) and
 * writes the 16 bytes of its identifier to out. */
TAVIK_API int tavik_decode(const tavik_codec *codec, const char *word, size_t word_len,
                           uint8_t out[16]);

/* tavik_recover is tavik_decode that first corrects one onset or nucleus mistaken for a
 * similar one, where exactly one correction passes the keyed check. */
TAVIK_API int tavik_recover(const tavik_codec *codec, const char *word, size_t word_len,
                            uint8_t out[16]);

/* The bulk forms run many items at once on the lanes path (several hash chains interleaved),
 * with the same result for each item as the single call. They need a scratch: working storage
 * that one thread at a time may use, with any codec. */
typedef struct tavik_scratch tavik_scratch;
TAVIK_API int tavik_scratch_new(tavik_scratch **out);
TAVIK_API void tavik_scratch_free(tavik_scratch *scratch);

/* tavik_encode_many encodes count items of item_len bytes each, stored one after another in
 * data. Word i goes to words + i * word_stride, its length to word_lens[i] and its status to
 * statuses[i] (TAVIK_E_WORD_BUFFER when word_stride is too small: word_lens[i] is then the size
 * needed). The call's own status is TAVIK_OK when every item has its status, else the
 * argument failure (and no item has one). */
TAVIK_API int tavik_encode_many(const tavik_codec *codec, tavik_scratch *scratch,
                                const uint8_t *data, size_t item_len, size_t count,
                                char *words, size_t word_stride, size_t *word_lens,
                                int *statuses);

/* tavik_decode_many and tavik_recover_many read count words: word i is word_lens[i] bytes at
 * words + i * word_stride (so the output of tavik_encode_many reads as it is), and its 16
 * bytes go to out + 16 * i, its status to statuses[i]. */
TAVIK_API int tavik_decode_many(const tavik_codec *codec, tavik_scratch *scratch,
                                const char *words, size_t word_stride, const size_t *word_lens,
                                size_t count, uint8_t *out, int *statuses);
TAVIK_API int tavik_recover_many(const tavik_codec *codec, tavik_scratch *scratch,
                                 const char *words, size_t word_stride,
                                 const size_t *word_lens, size_t count, uint8_t *out,
                                 int *statuses);

#ifdef __cplusplus
}
#endif

#endif /* TAVIK_H_ */
