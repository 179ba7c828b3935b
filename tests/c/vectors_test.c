/* The known answers through the C interface of the installed library: every code word of
 * tests/vectors/codewords.tsv (encode, decode, recover, and the same through the bulk forms), every
 * failure of tests/vectors/failures.tsv with the Python exception's text, and the interface's own
 * argument checks. C99; prints what fails and exits 1.
 *   vectors_test VECTORS_DIR */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tavik.h>

static int failures = 0;

#define EXPECT(cond, ...)                                  \
  do {                                                     \
    if (!(cond)) {                                         \
      fprintf(stderr, "%s:%d: %s: ", __FILE__, __LINE__, #cond); \
      fprintf(stderr, __VA_ARGS__);                        \
      fputc('\n', stderr);                                 \
      ++failures;                                          \
    }                                                      \
  } while (0)

enum { kMaxLine = 8192, kMaxFields = 8, kMaxBytes = 1024 };

/* A field of a line: hex bytes, or none ("-"). */
typedef struct {
  int present;
  size_t len;
  uint8_t bytes[kMaxBytes];
} Bytes;

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

static void read_hex(const char *text, Bytes *out) {
  size_t i;
  out->present = strcmp(text, "-") != 0;
  out->len = 0;
  if (!out->present) return;
  for (i = 0; text[i] != '\0' && text[i + 1] != '\0' && out->len < kMaxBytes; i += 2) {
    const int hi = hex_digit(text[i]);
    const int lo = hex_digit(text[i + 1]);
    if (hi < 0 || lo < 0) {
      fprintf(stderr, "bad hex: %s\n", text);
      exit(2);
    }
    out->bytes[out->len++] = (uint8_t)(hi * 16 + lo);
  }
}

/* split cuts a line at its tabs; it returns the number of fields. */
static size_t split(char *line, char *fields[kMaxFields]) {
  size_t n = 0;
  char *at = line;
  line[strcspn(line, "\r\n")] = '\0';
  for (;;) {
    char *tab = strchr(at, '\t');
    if (n < kMaxFields) fields[n++] = at;
    if (tab == NULL) break;
    *tab = '\0';
    at = tab + 1;
  }
  return n;
}

static FILE *open_vectors(const char *dir, const char *name) {
  char path[4096];
  FILE *f;
  snprintf(path, sizeof path, "%s/%s", dir, name);
  f = fopen(path, "r");
  if (f == NULL) {
    fprintf(stderr, "cannot open %s\n", path);
    exit(2);
  }
  return f;
}

static const uint8_t *data_or_null(const Bytes *b) { return b->present ? b->bytes : NULL; }

static int new_codec(const char *settings, const Bytes *key, const Bytes *cipher_key,
                     tavik_codec **codec) {
  return tavik_codec_new(settings, data_or_null(key), key->len, data_or_null(cipher_key),
                         cipher_key->len, codec);
}

/* One line of codewords.tsv: settings key cipher_key input word typo recovered. */
static void check_codeword(size_t number, char *fields[kMaxFields], tavik_scratch *scratch) {
  static Bytes key, cipher_key, input, word, typo, recovered;
  tavik_codec *codec = NULL;
  char out_word[TAVIK_MAX_WORD_LEN], settings[TAVIK_MAX_SETTINGS_LEN];
  size_t settings_len = 0;
  char words[3 * TAVIK_MAX_WORD_LEN];
  size_t word_len = 0, lens[3];
  uint8_t decoded[16], again[16], many[3 * 16];
  int status, statuses[3];

  read_hex(fields[1], &key);
  read_hex(fields[2], &cipher_key);
  read_hex(fields[3], &input);
  read_hex(fields[4], &word);
  read_hex(fields[5], &typo);
  read_hex(fields[6], &recovered);
  status = new_codec(fields[0], &key, &cipher_key, &codec);
  EXPECT(status == TAVIK_OK, "line %zu: tavik_codec_new: %s", number, tavik_status_text(status));
  if (status != TAVIK_OK) return;

  /* The settings text it writes is the one it was built from: these are canonical. */
  status = tavik_codec_settings(codec, settings, sizeof settings, &settings_len);
  EXPECT(status == TAVIK_OK && settings_len == strlen(fields[0]) &&
             memcmp(settings, fields[0], settings_len) == 0,
         "line %zu: settings %.*s", number, (int)settings_len, settings);

  status = tavik_encode(codec, input.bytes, input.len, out_word, sizeof out_word, &word_len);
  EXPECT(status == TAVIK_OK && word_len == word.len && memcmp(out_word, word.bytes, word.len) == 0,
         "line %zu: encode gives %.*s (%s)", number, (int)word_len, out_word,
         tavik_status_text(status));
  /* One byte short: the status says so and gives the size needed. */
  word_len = 0;
  status = tavik_encode(codec, input.bytes, input.len, out_word, word.len - 1, &word_len);
  EXPECT(status == TAVIK_E_WORD_BUFFER && word_len == word.len, "line %zu: short buffer: %d %zu",
         number, status, word_len);

  status = tavik_decode(codec, (const char *)word.bytes, word.len, decoded);
  EXPECT(status == TAVIK_OK, "line %zu: decode: %s", number, tavik_status_text(status));
  if (strstr(fields[0], "mode=plain") == NULL) {
    status = tavik_recover(codec, (const char *)word.bytes, word.len, again);
    EXPECT(status == TAVIK_OK && memcmp(again, decoded, 16) == 0, "line %zu: recover of the word",
           number);
  }
  if (typo.present) {
    /* recover corrects the typo back to what the word decodes to. */
    EXPECT(memcmp(decoded, recovered.bytes, 16) == 0, "line %zu: decode differs from recovered",
           number);
    status = tavik_recover(codec, (const char *)typo.bytes, typo.len, again);
    EXPECT(status == TAVIK_OK && memcmp(again, recovered.bytes, 16) == 0,
           "line %zu: recover of the typo: %s", number, tavik_status_text(status));
  }

  /* The bulk forms give each item what the single call gives it. */
  {
    uint8_t inputs[3 * kMaxBytes];
    size_t i;
    for (i = 0; i < 3; ++i) memcpy(inputs + i * input.len, input.bytes, input.len);
    status = tavik_encode_many(codec, scratch, inputs, input.len, 3, words, TAVIK_MAX_WORD_LEN,
                               lens, statuses);
    EXPECT(status == TAVIK_OK, "line %zu: encode_many: %s", number, tavik_status_text(status));
    for (i = 0; i < 3; ++i) {
      EXPECT(statuses[i] == TAVIK_OK && lens[i] == word.len &&
                 memcmp(words + i * TAVIK_MAX_WORD_LEN, word.bytes, word.len) == 0,
             "line %zu: encode_many item %zu", number, i);
    }
    if (typo.present) {
      memcpy(words + TAVIK_MAX_WORD_LEN, typo.bytes, typo.len);
      lens[1] = typo.len;
    }
    status = tavik_decode_many(codec, scratch, words, TAVIK_MAX_WORD_LEN, lens, 3, many, statuses);
    EXPECT(status == TAVIK_OK && statuses[0] == TAVIK_OK && memcmp(many, decoded, 16) == 0,
           "line %zu: decode_many", number);
    if (typo.present) {
      status = tavik_decode(codec, (const char *)typo.bytes, typo.len, again);
      EXPECT(statuses[1] == status, "line %zu: decode_many of the typo: %d, not %d", number,
             statuses[1], status);
      status = tavik_recover_many(codec, scratch, words, TAVIK_MAX_WORD_LEN, lens, 3, many,
                                  statuses);
      EXPECT(status == TAVIK_OK && statuses[1] == TAVIK_OK &&
                 memcmp(many + 16, recovered.bytes, 16) == 0,
             "line %zu: recover_many of the typo: %s", number, tavik_status_text(statuses[1]));
    }
  }
  tavik_codec_free(codec);
}

/* One line of failures.tsv: op settings key cipher_key argument message. */
static void check_failure(size_t number, char *fields[kMaxFields]) {
  static Bytes settings, key, cipher_key, argument;
  const char *op = fields[0];
  const char *message = fields[5];
  tavik_codec *codec = NULL;
  int status;
  char word[TAVIK_MAX_WORD_LEN];
  uint8_t out[16];
  size_t word_len;

  read_hex(fields[1], &settings);
  read_hex(fields[2], &key);
  read_hex(fields[3], &cipher_key);
  read_hex(fields[4], &argument);
  settings.bytes[settings.len] = '\0';
  status = new_codec((const char *)settings.bytes, &key, &cipher_key, &codec);
  if (strcmp(op, "new") == 0) {
    EXPECT(codec == NULL && status != TAVIK_OK && status != TAVIK_E_INTERNAL &&
               strcmp(tavik_status_text(status), message) == 0,
           "line %zu: tavik_codec_new gives %d \"%s\", not \"%s\"", number, status,
           tavik_status_text(status), message);
    return;
  }
  EXPECT(status == TAVIK_OK, "line %zu: tavik_codec_new: %s", number, tavik_status_text(status));
  if (status != TAVIK_OK) return;
  if (strcmp(op, "encode") == 0) {
    status = tavik_encode(codec, argument.bytes, argument.len, word, sizeof word, &word_len);
  } else if (strcmp(op, "decode") == 0) {
    status = tavik_decode(codec, (const char *)argument.bytes, argument.len, out);
  } else {
    status = tavik_recover(codec, (const char *)argument.bytes, argument.len, out);
  }
  EXPECT(status != TAVIK_OK && status != TAVIK_E_INTERNAL &&
             strcmp(tavik_status_text(status), message) == 0,
         "line %zu: %s gives %d \"%s\", not \"%s\"", number, op, status, tavik_status_text(status),
         message);
  tavik_codec_free(codec);
}

static size_t each_line(const char *dir, const char *name, void (*check)(size_t, char **, void *),
                        void *context) {
  static char line[kMaxLine];
  char *fields[kMaxFields];
  size_t number = 0, count = 0;
  FILE *f = open_vectors(dir, name);
  while (fgets(line, sizeof line, f) != NULL) {
    ++number;
    if (line[0] == '#') continue;
    if (split(line, fields) < 6) {
      fprintf(stderr, "%s:%zu: too few fields\n", name, number);
      exit(2);
    }
    check(number, fields, context);
    ++count;
  }
  fclose(f);
  return count;
}

static void codeword_line(size_t number, char **fields, void *scratch) {
  check_codeword(number, fields, (tavik_scratch *)scratch);
}

static void failure_line(size_t number, char **fields, void *unused) {
  (void)unused;
  check_failure(number, fields);
}

/* A NULL or out-of-range argument is a status, never a crash. */
static void check_arguments(tavik_scratch *scratch) {
  static const char kPlain[] =
      "tavik/1 level=universal mode=plain bits=128 cipher=feistel8:public check=1 case=upper "
      "chunk=balanced sep=U+002D";
  tavik_codec *codec = NULL;
  uint8_t id[16] = {0}, out[16];
  char word[TAVIK_MAX_WORD_LEN];
  size_t word_len, lens[2] = {3, 300};
  int statuses[2];

  EXPECT(tavik_abi_version() == TAVIK_ABI_VERSION, "ABI %d", tavik_abi_version());
  EXPECT(strcmp(tavik_status_text(-1), "unknown status") == 0, "unknown status text");
  EXPECT(strcmp(tavik_status_text(TAVIK_E_AMBIGUOUS + 7), "ambiguous: 7 candidates") == 0,
         "ambiguous text");
  EXPECT(tavik_codec_new(NULL, NULL, 0, NULL, 0, &codec) == TAVIK_E_NULL_ARGUMENT, "NULL settings");
  EXPECT(tavik_codec_new(kPlain, NULL, 5, NULL, 0, &codec) == TAVIK_E_NULL_ARGUMENT,
         "NULL key with a length");
  EXPECT(tavik_codec_new(kPlain, NULL, 0, NULL, 0, NULL) == TAVIK_E_NULL_ARGUMENT, "NULL out");
  EXPECT(tavik_codec_new(kPlain, NULL, 0, NULL, 0, &codec) == TAVIK_OK, "plain codec");
  EXPECT(tavik_encode(NULL, id, 16, word, sizeof word, &word_len) == TAVIK_E_NULL_ARGUMENT,
         "NULL codec");
  EXPECT(tavik_encode(codec, NULL, 16, word, sizeof word, &word_len) == TAVIK_E_NULL_ARGUMENT,
         "NULL data");
  EXPECT(tavik_encode(codec, id, 16, word, sizeof word, NULL) == TAVIK_E_NULL_ARGUMENT,
         "NULL word_len");
  EXPECT(tavik_encode(codec, id, 16, NULL, 0, &word_len) == TAVIK_E_WORD_BUFFER && word_len > 0,
         "no buffer: the size needed");
  EXPECT(tavik_encode(codec, NULL, 0, word, sizeof word, &word_len) == TAVIK_OK, "no data");
  EXPECT(tavik_decode(codec, NULL, 0, out) == TAVIK_E_NORMALIZATION, "no word");
  EXPECT(tavik_decode(codec, NULL, 4, out) == TAVIK_E_NULL_ARGUMENT, "NULL word");
  EXPECT(tavik_recover(codec, word, word_len, NULL) == TAVIK_E_NULL_ARGUMENT, "NULL out");
  EXPECT(tavik_scratch_new(NULL) == TAVIK_E_NULL_ARGUMENT, "NULL scratch out");
  EXPECT(tavik_decode_many(codec, NULL, word, 4, lens, 1, out, statuses) ==
             TAVIK_E_NULL_ARGUMENT, "NULL scratch");
  EXPECT(tavik_decode_many(codec, scratch, word, 100, lens, 2, out, statuses) == TAVIK_E_RANGE,
         "a word longer than its stride");
  EXPECT(tavik_encode_many(codec, scratch, id, 16, (size_t)-1, word, 100, lens, statuses) ==
             TAVIK_E_RANGE, "a count beyond memory");
  EXPECT(tavik_recover_many(codec, scratch, NULL, 0, NULL, 0, NULL, NULL) == TAVIK_OK,
         "no items");
  tavik_codec_free(codec);
  tavik_codec_free(NULL);
  tavik_scratch_free(NULL);
}

/* The settings text of a codec is canonical whatever order and spacing built it: here the
 * longest that any codec writes, 873 bytes (every field at its longest; a pattern keeps 32
 * sizes that saturate the sum). A short buffer gets the size needed. */
#define TAVIK_TEST_N "18446744073709551615"
#define TAVIK_TEST_N8 TAVIK_TEST_N "," TAVIK_TEST_N "," TAVIK_TEST_N "," TAVIK_TEST_N "," \
  TAVIK_TEST_N "," TAVIK_TEST_N "," TAVIK_TEST_N "," TAVIK_TEST_N
#define TAVIK_TEST_PATTERN \
  "pattern:" TAVIK_TEST_N8 "," TAVIK_TEST_N8 "," TAVIK_TEST_N8 "," TAVIK_TEST_N8
static void check_settings_text(void) {
  static const char kGiven[] =
      "tavik/1   granularity=minute chunk=" TAVIK_TEST_PATTERN ",0 epoch_ms=-9223372036854775808 "
      "case=lower cipher=feistel8:cipher_key  check=8 mode=open sep=U+002D level=universal "
      "modulus=340282366920938463463374607431768211455";
  static const char kCanonical[] =
      "tavik/1 level=universal mode=open modulus=340282366920938463463374607431768211455 "
      "cipher=feistel8:cipher_key check=8 case=lower chunk=" TAVIK_TEST_PATTERN " sep=U+002D "
      "epoch_ms=-9223372036854775808 granularity=minute";
  const uint8_t key[] = {1}, cipher_key[] = {2};
  char text[TAVIK_MAX_SETTINGS_LEN];
  size_t len = 0;
  tavik_codec *codec = NULL;
  int status = tavik_codec_new(kGiven, key, sizeof key, cipher_key, sizeof cipher_key, &codec);
  EXPECT(status == TAVIK_OK, "the longest settings: %s", tavik_status_text(status));
  if (status != TAVIK_OK) return;
  status = tavik_codec_settings(codec, text, sizeof text, &len);
  EXPECT(status == TAVIK_OK && len == strlen(kCanonical) && memcmp(text, kCanonical, len) == 0,
         "canonical settings: %s: %.*s", tavik_status_text(status), (int)len, text);
  len = 0;
  EXPECT(tavik_codec_settings(codec, text, strlen(kCanonical) - 1, &len) == TAVIK_E_BUFFER &&
             len == strlen(kCanonical),
         "short settings buffer: %zu", len);
  EXPECT(tavik_codec_settings(codec, NULL, 4, &len) == TAVIK_E_NULL_ARGUMENT, "NULL text");
  tavik_codec_free(codec);
}

/* Batches longer than the core's (512 items), with failing items among them: each item as the
 * single call gives it. */
static void check_long_batch(tavik_scratch *scratch) {
  enum { kCount = 1300, kStride = 64 };
  static const char kSealed[] =
      "tavik/1 level=eu mode=sealed bits=100 cipher=feistel8:key check=2 case=lower chunk=none "
      "sep=none";
  static uint8_t ids[kCount * 16], out[kCount * 16];
  static char words[kCount * kStride];
  static size_t lens[kCount];
  static int statuses[kCount];
  const uint8_t key[] = {1, 2, 3};
  tavik_codec *codec = NULL;
  uint32_t state = 12345;
  size_t i;
  int status = tavik_codec_new(kSealed, key, sizeof key, NULL, 0, &codec);
  EXPECT(status == TAVIK_OK, "long batch codec: %s", tavik_status_text(status));
  if (status != TAVIK_OK) return;
  for (i = 0; i < sizeof ids; ++i) {
    state = state * 1103515245u + 12345u;
    ids[i] = (uint8_t)(state >> 16);
  }
  status = tavik_encode_many(codec, scratch, ids, 16, kCount, words, kStride, lens, statuses);
  EXPECT(status == TAVIK_OK, "encode_many: %s", tavik_status_text(status));
  for (i = 0; i < kCount; ++i) {
    char word[TAVIK_MAX_WORD_LEN];
    size_t len = 0;
    status = tavik_encode(codec, ids + 16 * i, 16, word, sizeof word, &len);
    EXPECT(statuses[i] == status && lens[i] == len && memcmp(words + i * kStride, word, len) == 0,
           "encode_many item %zu", i);
    if (i % 3 == 1) words[i * kStride + 2] ^= 0x01; /* a letter changed: check or typo */
    if (i % 7 == 5) lens[i] = 0;
  }
  status = tavik_decode_many(codec, scratch, words, kStride, lens, kCount, out, statuses);
  EXPECT(status == TAVIK_OK, "decode_many: %s", tavik_status_text(status));
  for (i = 0; i < kCount; ++i) {
    uint8_t one[16];
    status = tavik_decode(codec, words + i * kStride, lens[i], one);
    EXPECT(statuses[i] == status && (status != TAVIK_OK || memcmp(out + 16 * i, one, 16) == 0),
           "decode_many item %zu: %d, not %d", i, statuses[i], status);
  }
  status = tavik_recover_many(codec, scratch, words, kStride, lens, kCount, out, statuses);
  EXPECT(status == TAVIK_OK, "recover_many: %s", tavik_status_text(status));
  for (i = 0; i < kCount; ++i) {
    uint8_t one[16];
    status = tavik_recover(codec, words + i * kStride, lens[i], one);
    EXPECT(statuses[i] == status && (status != TAVIK_OK || memcmp(out + 16 * i, one, 16) == 0),
           "recover_many item %zu: %d, not %d", i, statuses[i], status);
  }
  tavik_codec_free(codec);
}

int main(int argc, char **argv) {
  tavik_scratch *scratch = NULL;
  size_t words, refusals;
  if (argc != 2) {
    fprintf(stderr, "usage: vectors_test VECTORS_DIR\n");
    return 2;
  }
  if (tavik_scratch_new(&scratch) != TAVIK_OK) return 2;
  words = each_line(argv[1], "codewords.tsv", codeword_line, scratch);
  refusals = each_line(argv[1], "failures.tsv", failure_line, NULL);
  check_arguments(scratch);
  check_settings_text();
  check_long_batch(scratch);
  tavik_scratch_free(scratch);
  EXPECT(words > 500 && refusals > 30, "%zu words, %zu failures read", words, refusals);
  printf("C interface (tavik %s): %zu known words, %zu failures: %s\n", tavik_version(), words,
         refusals, failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
