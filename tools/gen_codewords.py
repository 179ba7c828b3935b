#!/usr/bin/env python3
"""Write the code-word known answers, tests/vectors/codewords.jsonl, from the installed module.

    python -P tools/gen_codewords.py > tests/vectors/codewords.jsonl

Every configuration and input comes from fixed lists and one seeded generator, so the same
module always writes the same file. The file was written once by this script and is only read
by the tests; they never run it. Running it again is how a deliberate change of the code-word
format is recorded: the diff of the file shows every word that changes.

Each line after the header holds one code word: the constructor's arguments, the builder calls
in order, the input bytes and the word that encode returned, and the codec's settings text with
the cipher key that builds it back. Some lines also hold a word with one
onset or nucleus replaced along recover's confusion graph and the 16 bytes recover returns for it.
"""

import json
import random
import sys

from tavik import Tavik

SEED = 0x7A71C0DE
rng = random.Random(SEED)

LEVELS = ["universal", "eu", "en", "numeric", "ko"]
MODES = ["sealed", "open", "plain"]
GRANULARITIES = ["second", "minute", "hour", "day", "week", "month"]

KEY_TEXT = b"tavik code words"
KEY_ONE = b"k"
KEY_32 = rng.randbytes(32)
KEY_64 = rng.randbytes(64)  # exactly one HMAC block
KEY_LONG = rng.randbytes(100)  # longer than a block, so HMAC hashes it first
KEYS = [KEY_TEXT, KEY_ONE, KEY_32, KEY_64, KEY_LONG]

HEADER = {
    "comment": (
        "Known code words of tavik. A line may change only with a deliberate, announced change "
        "of the code-word format: every stored word depends on it. Written by "
        "tools/gen_codewords.py (seeded); the tests only read it. One JSON object per line; "
        "readers skip this one. key: the constructor's key in hex, or null; level, mode, "
        "bit_width: the other constructor arguments. calls: the builder calls in order, each "
        "[name, [positional arguments]]; integers are JSON numbers (up to 2**128 - 1), text is "
        "a JSON string (UTF-8, U+0000 written \\u0000), a byte argument is {\"hex\": \"...\"} "
        "and null is None. input: the bytes given to encode, in hex; word: what encode "
        "returned. settings: the codec's settings text (Tavik.settings); cipher_key: the key "
        "that Tavik.from_settings(settings, key, cipher_key) takes beside key, in hex, or null; "
        "from_settings builds the same codec. typo (some lines): word with one onset or nucleus replaced by a neighbour in "
        "recover's confusion graph; recovered: the 16 bytes recover(typo) returns, in hex."
    )
}

# The onset tables of the levels, index order, and the nuclei (the same at every level).
ONSETS = {
    "universal": "m k j p w t s b h g d f v z q bl br dr fl fr gl gr kl kr pl pr sl sr tr st sp "
                 "sk sm sw tw",
    "eu": "m k f p j g s v b z t h w d q gr kr pr tr br dr fr gl kl pl bl fl st sp sk sl sr sm "
          "sw tw",
    "en": "m k f p t s b g d h j w v z q st sp sk sm sw tw bl br dr fl fr gl gr kl kr pl pr sl "
          "sr tr",
    "numeric": "s k t p m b d g f h j w v z q st sp sk sm sw tw gr kr pr tr br dr fr gl kl pl bl "
               "fl sl sr",
    "ko": "b d f g k p s t j m h w y c z gr dr br kr pr tr fr gl bl pl kl fl sl sr st sp sk sm "
          "sw tw",
}
ONSETS = {level: table.split() for level, table in ONSETS.items()}
NUCLEI = "a e i o u an al ar en el er in il ir on ol or un ul ur".split()

# recover's confusion graph, on onset and nucleus indices (the same at every level).
ONSET_EDGES = [(4, 5), (0, 6), (1, 7), (9, 10), (2, 3), (15, 16), (18, 19), (20, 21), (22, 23),
               (24, 25), (26, 27)]
NUCLEUS_EDGES = [(5, 6), (6, 7), (8, 9), (9, 10), (11, 12), (12, 13), (14, 15), (15, 16),
                 (17, 18), (18, 19)]


def neighbours(edges, index):
    return [b if a == index else a for a, b in edges if index in (a, b)]


def clamp(value, low, high):
    return max(low, min(high, value))


def syllable_count(bits):
    n = 1
    while 700**n < 2**bits and n < 14:
        n += 1
    return n


def shape(bit_width, calls):
    """(bit width, number of check syllables) after the calls."""
    bits, checks = clamp(bit_width, 16, 128), 1
    for name, args in calls:
        if name == "with_bit_width":
            bits = clamp(args[0], 16, 128)
        elif name == "with_modulus":
            bits = args[0].bit_length()
        elif name == "with_check_syllables":
            checks = clamp(args[0], 1, 8)
    return bits, checks


def build(key, level, mode, bit_width, calls):
    codec = Tavik(key, level, mode, bit_width)
    for name, args in calls:
        codec = getattr(codec, name)(*args)
    return codec


def syllable_spans(word):
    """(onset start, nucleus start, end) of every syllable of a word, prefix included."""
    def letter(c):
        return c.isascii() and c.isalpha()

    spans, i = [], 0
    while i < len(word):
        if not letter(word[i]):
            i += 1
            continue
        start = i
        while letter(word[i]) and word[i].lower() not in "aeiou":
            i += 1
        middle = i
        assert word[i].lower() in "aeiou", word
        i += 1
        if i < len(word) and word[i].lower() in "nlr":
            i += 1
        spans.append((start, middle, i))
    return spans


def find_typo(codec, level, bits, checks, word):
    """A word with one confusion that decode refuses and recover corrects, or None."""
    spans = syllable_spans(word)[-(syllable_count(bits) + checks):]
    choices = [(span, part) for span in spans for part in ("onset", "nucleus")]
    rng.shuffle(choices)
    for (start, middle, end), part in choices:
        if part == "onset":
            table, edges, lo, hi = ONSETS[level], ONSET_EDGES, start, middle
        else:
            table, edges, lo, hi = NUCLEI, NUCLEUS_EDGES, middle, end
        piece = word[lo:hi]
        for other in neighbours(edges, table.index(piece.lower())):
            text = table[other].upper() if piece.isupper() else table[other]
            typo = word[:lo] + text + word[hi:]
            try:
                codec.decode(typo)
                continue  # the confusion passes the check by chance: no search happens
            except ValueError:
                pass
            try:
                return typo, codec.recover(typo)
            except ValueError:
                continue  # ambiguous: another substitution passes too
    return None


def as_json(value):
    if isinstance(value, bytes):
        return {"hex": value.hex()}
    if isinstance(value, list):
        return [as_json(v) for v in value]
    return value


lines = []


def cipher_key_of(calls):
    """The key of the last with_cipher("feistel", key) call in hex, or None: the cipher_key
    that from_settings takes."""
    found = None
    for name, args in calls:
        if name == "with_cipher":
            key = args[1] if len(args) > 1 else None
            found = key.hex() if key is not None and args[0].startswith("feistel") else None
    return found


def emit(key, level, mode, bit_width, calls, data, typo=False):
    codec = build(key, level, mode, bit_width, calls)
    word = codec.encode(data)
    line = {
        "key": None if key is None else key.hex(),
        "level": level,
        "mode": mode,
        "bit_width": bit_width,
        "calls": [[name, as_json(list(args))] for name, args in calls],
        "input": data.hex(),
        "word": word,
        "settings": codec.settings,
        "cipher_key": cipher_key_of(calls),
    }
    if typo:
        bits, checks = shape(bit_width, calls)
        found = find_typo(codec, level, bits, checks, word)
        assert found is not None, line
        line["typo"], line["recovered"] = found[0], found[1].hex()
    lines.append(line)


def emit_encodable(key, level, mode, bit_width, calls, make_input):
    """Emits the first input from make_input() that encode accepts (a modulus of odd bit
    length refuses the rare values whose cipher walk cannot return)."""
    codec = build(key, level, mode, bit_width, calls)
    for _ in range(1000):
        data = make_input()
        try:
            codec.encode(data)
        except ValueError:
            continue
        emit(key, level, mode, bit_width, calls, data)
        return
    raise AssertionError("no encodable input")


def key_for(mode, i):
    return KEYS[i % len(KEYS)] if mode != "plain" else [None, KEY_TEXT][i % 2]


def uuid4():
    raw = bytearray(rng.randbytes(16))
    raw[6] = 0x40 | (raw[6] & 0x0F)
    raw[8] = 0x80 | (raw[8] & 0x3F)
    return bytes(raw)


def uuid7(unix_ms):
    raw = bytearray(unix_ms.to_bytes(6, "big") + rng.randbytes(10))
    raw[6] = 0x70 | (raw[6] & 0x0F)
    raw[8] = 0x80 | (raw[8] & 0x3F)
    return bytes(raw)


def uuid1(ticks):
    """A version 1 UUID of `ticks` 100-ns units since 1582-10-15."""
    raw = bytearray(rng.randbytes(16))
    raw[0:4] = (ticks & 0xFFFFFFFF).to_bytes(4, "big")
    raw[4:6] = ((ticks >> 32) & 0xFFFF).to_bytes(2, "big")
    raw[6:8] = (0x1000 | (ticks >> 48)).to_bytes(2, "big")
    raw[8] = 0x80 | (raw[8] & 0x3F)
    return bytes(raw)


def uuid6(ticks):
    raw = bytearray(rng.randbytes(16))
    raw[0:6] = (ticks >> 12).to_bytes(6, "big")
    raw[6:8] = (0x6000 | (ticks & 0xFFF)).to_bytes(2, "big")
    raw[8] = 0x80 | (raw[8] & 0x3F)
    return bytes(raw)


def ticks_of(unix_ms):
    return (unix_ms + 12219292800000) * 10000 + rng.randrange(10000)


# Every level, mode and case: a random UUID and a version 7 one (prefixed in mode open).
i = 0
for level in LEVELS:
    for mode in MODES:
        for case in ("upper", "lower"):
            calls = [] if case == "upper" and i % 2 == 0 else [("with_case", [case])]
            emit(key_for(mode, i), level, mode, 128, calls, uuid4())
            emit(key_for(mode, i + 1), level, mode, 128, calls, uuid7(1700807049216 + i))
            i += 1

# A plain codec without a key, with a key and with an empty key writes the same words.
same = uuid4()
for key in (None, KEY_TEXT, b""):
    emit(key, "universal", "plain", 128, [], same)

# Layouts, at widths that give 2 to 14 data syllables.
LAYOUTS = [
    [],
    [("with_separator", ["-"])],
    [("with_separator", [" "])],
    [("with_separator", ["."])],
    [("with_separator", ["_x"])],  # only the first character counts
    [("with_separator", ["/"])],
    [("with_separator", ["9"])],
    [("with_separator", ["\u00b7"])],
    [("with_separator", ["\u2014"])],
    [("with_separator", ["\u3000"])],
    [("with_separator", ["\U0001f600"])],
    [("with_separator", ["\u0000"])],
    [("with_chunk_none", [])],
    [("with_chunk_fixed", [0])],
    [("with_chunk_fixed", [1])],
    [("with_chunk_fixed", [3])],
    [("with_chunk_fixed", [4])],
    [("with_chunk_fixed", [7])],
    [("with_chunk_fixed", [12])],
    [("with_chunk_fixed", [1000])],
    [("with_chunk_fixed", [2**64 - 1])],
    [("with_chunk_pattern", [[]])],
    [("with_chunk_pattern", [[0]])],
    [("with_chunk_pattern", [[0, 0, 0]])],
    [("with_chunk_pattern", [[1]])],
    [("with_chunk_pattern", [[2, 3]])],
    [("with_chunk_pattern", [[3, 3, 3, 3, 2]])],
    [("with_chunk_pattern", [[5, 0, 5]])],
    [("with_chunk_pattern", [[1] * 20])],
    [("with_chunk_pattern", [list(range(1, 31))])],
    [("with_chunk_pattern", [[2**64 - 1, 1]])],
    [("with_separator", ["."]), ("with_chunk_fixed", [3])],  # the separator returns to "-"
    [("with_chunk_fixed", [3]), ("with_separator", ["."])],  # five balanced groups again
    [("with_separator", [" "]), ("with_chunk_none", [])],
    [("with_chunk_pattern", [[2, 2]]), ("with_separator", ["\U0001f600"])],
]
for n, layout in enumerate(LAYOUTS):
    level, mode = LEVELS[n % 5], MODES[n % 3]
    for width in (16, 40, 128):
        calls = [("with_bit_width", [width])] + layout
        if n % 4 == 1:
            calls.append(("with_case", ["lower"]))
        if n % 6 == 2:
            calls.append(("with_check_syllables", [3]))
        emit(key_for(mode, n), level, mode, 128, calls, uuid4())

# Every width from 16 to 128, with the constructor or with a builder.
for width in range(16, 129):
    level, mode = LEVELS[width % 5], MODES[width % 3]
    data = rng.randbytes(16)
    if width % 2:
        emit(key_for(mode, width), level, mode, width, [], data)
    else:
        emit(key_for(mode, width), level, mode, 128, [("with_bit_width", [width])], data)
# Widths outside 16..128 are clamped.
for width in (0, 15, 129, 2**32 - 1):
    emit(KEY_TEXT, "universal", "sealed", width, [], rng.randbytes(16))
for width in (0, 8, 200, 2**32 - 1):
    emit(None, "en", "plain", 128, [("with_bit_width", [width])], rng.randbytes(16))

# Moduli, with even and odd bit lengths; the tail bytes of the input count.
MODULI = [2, 3, 5, 100, 700, 1000, 10**6, 10**6 + 1, 1000003, 2**20 + 4112, 2**32, 2**32 + 15,
          2**64, 2**64 + 1, 10**30, 2**100 + 7, 2**127 + 1, 2**128 - 1]
for n, m in enumerate(MODULI):
    level, mode = LEVELS[n % 5], MODES[n % 3]
    calls = [("with_modulus", [m])]
    nbytes = (m.bit_length() + 7) // 8
    key = key_for(mode, n)
    emit_encodable(key, level, mode, 128, calls, lambda: (0).to_bytes(nbytes, "big"))
    emit_encodable(key, level, mode, 128, calls, lambda: rng.randrange(m).to_bytes(nbytes, "big"))
    # Leading bytes beyond the modulus's width are ignored.
    emit_encodable(key, level, mode, 128, calls,
                   lambda: rng.randbytes(3) + rng.randrange(m).to_bytes(nbytes, "big"))
    emit_encodable(key, level, mode, 128, calls + [("with_check_syllables", [2])],
                   lambda: rng.randrange(m - max(1, m // 16), m).to_bytes(nbytes, "big"))
# The largest values of small moduli; values just above 2^20 in a 21-bit modulus.
for m in (2, 3, 700, 1000003):
    emit(KEY_TEXT, "universal", "sealed", 128, [("with_modulus", [m])],
         (m - 1).to_bytes(4, "big"))
for _ in range(4):
    emit_encodable(None, "universal", "plain", 128, [("with_modulus", [2**20 + 4112])],
                   lambda: rng.randrange(2**20, 2**20 + 4112).to_bytes(3, "big"))

# Check syllables: 0 and above 8 are clamped.
for n, count in enumerate([0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1000]):
    for mode in ("sealed", "plain"):
        emit(key_for(mode, n), LEVELS[n % 5], mode, 128, [("with_check_syllables", [count])],
             uuid4())
    emit(KEY_64, "universal", "open", 24, [("with_check_syllables", [count])], rng.randbytes(3))

# Time prefixes in mode open: versions 1, 6 and 7 under several epochs and granularities.
TIMES = [1700807049216, 1700000000000, 1701388800000, 1704067199999, 1704067200000,
         1735689600000 + 123456789, 0, 86400000 * 365 * 200]
EPOCHS = [None, 0, 1700000000000, 1704067200000, -(2**63), 2**63 - 1, -86400000 * 400]
for n, unix_ms in enumerate(TIMES):
    for m, epoch in enumerate(EPOCHS):
        if (n + m) % 2:
            continue
        granularity = GRANULARITIES[(n + m) % 6]
        calls = [] if epoch is None else [("with_timestamp_config", [epoch, granularity])]
        if epoch is not None and (n + m) % 3 == 0:
            calls = [("with_timestamp_config", [epoch])]  # month by default
        form = [uuid7(unix_ms), uuid1(ticks_of(unix_ms)), uuid6(ticks_of(unix_ms))][(n + m) % 3]
        emit(key_for("open", n + m), LEVELS[(n + m) % 5], "open", 128, calls, form)
# The worked instant in all three forms, by day; case lower keeps the prefix upper case.
for form in (uuid7(1700807049216), uuid1(ticks_of(1700807049216)),
             uuid6(ticks_of(1700807049216))):
    emit(KEY_TEXT, "universal", "open", 128,
         [("with_timestamp_config", [1700000000000, "day"]), ("with_case", ["lower"])], form)
# Ten bytes or more reach the version nibble; fewer never give a prefix.
for width in (64, 72, 73, 80, 96):
    emit(KEY_TEXT, "universal", "open", width, [], bytes.fromhex("7a") + rng.randbytes(15))
    emit(KEY_TEXT, "eu", "open", width, [], uuid7(1700807049216))

# Chosen ciphers, with and without keys, before and after width and modulus changes.
CIPHERS = [("feistel", None), ("feistel", KEY_TEXT), ("feistel8", KEY_64), ("feistel", KEY_LONG),
           ("shuffle", None), ("shuffle", KEY_TEXT), ("shuffle4", None), ("feistel8", b"")]
DOMAINS = [[], [("with_bit_width", [64])], [("with_bit_width", [37])],
           [("with_modulus", [1000003])], [("with_modulus", [2**127 + 1])]]
for n, (kind, ckey) in enumerate(CIPHERS):
    args = [kind] if ckey is None and n % 2 == 0 else [kind, ckey]
    for m, domain in enumerate(DOMAINS):
        if (n + m) % 2:
            continue
        mode = MODES[(n + m) % 3]
        key = key_for(mode, n)
        calls = [("with_cipher", args)] + domain if m % 4 == 0 else domain + [("with_cipher", args)]
        bits = shape(128, calls)[0]
        emit_encodable(key, LEVELS[n % 5], mode, 128, calls,
                       lambda: rng.randbytes((bits + 7) // 8))
# A chosen cipher carried over two domain changes.
for domain in ([("with_bit_width", [20]), ("with_modulus", [1000])],
               [("with_modulus", [10**6]), ("with_bit_width", [100])]):
    emit_encodable(KEY_32, "ko", "sealed", 128, [("with_cipher", ["feistel", KEY_ONE])] + domain,
                   lambda: rng.randbytes(13))

# Short, long and empty inputs: encode pads with zero bytes and cuts to the width.
INPUTS = [b"", b"\x00", b"\x01", b"\xff", bytes(15), bytes(16), b"\xff" * 16, b"\xff" * 15,
          rng.randbytes(7), rng.randbytes(17), rng.randbytes(32), rng.randbytes(100)]
for n, data in enumerate(INPUTS):
    emit(key_for("sealed", n), "universal", "sealed", 128, [], data)
    emit(None, "numeric", "plain", 128, [("with_bit_width", [20 + 7 * n])], data)
    if data[-16:] != b"\xff" * 16:  # the one value not below the modulus
        emit(KEY_ONE, "en", "open", 128, [("with_modulus", [2**128 - 1])], data)

# Words with one confusion, in data and check syllables, at every level.
for n in range(36):
    level = LEVELS[n % 5]
    mode = ("sealed", "open")[n % 2]
    calls = [("with_check_syllables", [1 + n % 4])]
    if n % 3 == 1:
        calls.append(("with_case", ["lower"]))
    if n % 6 == 5:
        calls.append(("with_bit_width", [48]))
    if n % 9 == 4:
        calls.append(("with_modulus", [1000003]))
    data = uuid7(1700807049216 + n) if n % 4 == 3 else uuid4()
    if n % 9 == 4:
        data = rng.randrange(1000003).to_bytes(16, "big")
    emit(KEYS[n % 5], level, mode, 128, calls, data, typo=True)

print(json.dumps(HEADER, ensure_ascii=False))
for line in lines:
    print(json.dumps(line, ensure_ascii=False))
