"""The settings text: Tavik.settings and Tavik.from_settings."""

import random

import pytest

from tavik import Tavik

KEY = b"settings key"
CIPHER_KEY = b"settings cipher key"
BASE = ("tavik/1 level=universal mode=sealed bits=128 cipher=feistel8:key check=1 case=upper "
        "chunk=balanced sep=U+002D")
OPEN = ("tavik/1 level=eu mode=open bits=128 cipher=feistel8:key check=2 case=lower "
        "chunk=balanced sep=U+002D epoch_ms=1700000000000 granularity=month")
SEPARATORS = ["-", " ", ".", "9", "\u00b7", "\u2014", "\u3000", "\U0001f600", "\0", "/x"]


def random_codec(rng):
    """A codec as the constructor and builders make it, and the cipher_key it was given."""
    mode = rng.choice(["sealed", "open", "plain"])
    key = None if mode == "plain" and rng.random() < 0.5 else rng.randbytes(rng.randrange(1, 40))
    level = rng.choice(["universal", "eu", "en", "numeric", "ko"])
    codec = Tavik(key, level, mode, rng.choice([16, 37, 64, 100, 128, 0, 500]))
    cipher_key = None
    calls = [
        lambda c: c.with_bit_width(rng.randrange(0, 140)),
        lambda c: c.with_modulus(rng.choice([2, 3, 700, 10**6 + 1, 2**64, 2**127 + 1,
                                             2**128 - 1, rng.randrange(2, 2**128)])),
        lambda c: c.with_cipher("shuffle", rng.choice([None, b"ignored"])),
        lambda c: c.with_cipher("feistel"),
        lambda c: c.with_check_syllables(rng.randrange(0, 12)),
        lambda c: c.with_case(rng.choice(["upper", "lower"])),
        lambda c: c.with_separator(rng.choice(SEPARATORS)),
        lambda c: c.with_chunk_none(),
        lambda c: c.with_chunk_fixed(rng.choice([0, 1, 4, 7, 2**64 - 1])),
        lambda c: c.with_chunk_pattern(
            [rng.choice([0, 1, 2, 3, 2**64 - 1]) for _ in range(rng.randrange(0, 40))]),
        lambda c: c.with_timestamp_config(rng.choice([0, -(2**63), 2**63 - 1, 1704067200000]),
                                          rng.choice(["second", "minute", "hour", "day",
                                                      "week", "month"])),
    ]
    for _ in range(rng.randrange(0, 6)):
        if rng.random() < 0.12:
            cipher_key = rng.randbytes(rng.randrange(0, 70))
            codec = codec.with_cipher("feistel8", cipher_key)
            continue
        codec = rng.choice(calls)(codec)
        if "cipher=feistel8:cipher_key" not in codec.settings:
            cipher_key = None  # another cipher replaced the one under cipher_key
    return codec, key, cipher_key


def test_round_trip_over_random_configurations():
    rng = random.Random(0x5E771)
    for _ in range(400):
        codec, key, cipher_key = random_codec(rng)
        text = codec.settings
        assert text.isascii() and text.isprintable() and text.startswith("tavik/1 ")
        fields = text.split()[1:]
        rng.shuffle(fields)  # any order after the version, spaces repeated
        shuffled = "  ".join(["tavik/1"] + fields) + " "
        for given in (text, shuffled):
            rebuilt = Tavik.from_settings(given, key, cipher_key)
            assert rebuilt.settings == text
            for _ in range(3):
                data = rng.randbytes(16)
                try:
                    word = codec.encode(data)
                except ValueError:  # a value whose cycle walk cannot return
                    continue
                assert rebuilt.encode(data) == word, text
                assert rebuilt.decode(word) == codec.decode(word)


def test_texts_of_known_codecs():
    plain = Tavik(mode="plain")
    assert Tavik(KEY).settings == BASE
    assert plain.settings == BASE.replace("sealed", "plain").replace(":key", ":public")
    assert plain.with_modulus(2**128 - 1).with_chunk_none().settings == (
        "tavik/1 level=universal mode=plain modulus=340282366920938463463374607431768211455 "
        "cipher=feistel8:public check=1 case=upper chunk=none sep=none")
    assert Tavik(KEY, "eu", "open").with_check_syllables(2).with_case("lower").settings == OPEN
    assert Tavik(KEY).with_separator("\U0001f600").with_cipher("shuffle").settings == (
        BASE.replace("feistel8:key", "shuffle4:public").replace("U+002D", "U+1F600"))
    assert Tavik(KEY).with_cipher("feistel", CIPHER_KEY).with_chunk_pattern([3, 0]).settings == (
        BASE.replace("feistel8:key", "feistel8:cipher_key").replace("balanced", "pattern:3,0"))
    # The time settings belong to mode open only.
    assert Tavik(KEY).with_timestamp_config(0, "day").settings == BASE


def swap(text, old, new):
    assert old in text
    return text.replace(old, new)


MALFORMED = [
    # (text, the field or fault its message names)
    ("", "start with tavik/1"),
    (BASE.replace("tavik/1", "tavik/2"), "another version"),
    (BASE.replace("tavik/1", "Tavik/1"), "start with tavik/1"),
    (BASE[8:], "start with tavik/1"),
    (BASE + " colour=red", "unknown field"),
    (BASE + " Level=eu", "unknown field"),
    (BASE + " level", "name=value"),
    (BASE + "\n", "printable ASCII"),
    (BASE.replace(" ", "\t"), "printable ASCII"),
    (BASE.replace("upper", "\u00fcpper"), "printable ASCII"),
    (BASE + " level=eu", "repeats the field 'level'"),
    (BASE + " sep=U+002D", "repeats the field 'sep'"),
    (swap(BASE, " level=universal", ""), "lacks the field 'level'"),
    (swap(BASE, " mode=sealed", ""), "lacks the field 'mode'"),
    (swap(BASE, " bits=128", ""), "lacks the field 'bits' (or 'modulus')"),
    (swap(BASE, " cipher=feistel8:key", ""), "lacks the field 'cipher'"),
    (swap(BASE, " check=1", ""), "lacks the field 'check'"),
    (swap(BASE, " case=upper", ""), "lacks the field 'case'"),
    (swap(BASE, " chunk=balanced", ""), "lacks the field 'chunk'"),
    (swap(BASE, " sep=U+002D", ""), "lacks the field 'sep'"),
    (swap(OPEN, " epoch_ms=1700000000000", ""), "lacks the field 'epoch_ms'"),
    (swap(OPEN, " granularity=month", ""), "lacks the field 'granularity'"),
    (BASE + " epoch_ms=0", "'epoch_ms' applies only to mode open"),
    (BASE + " granularity=day", "'granularity' applies only to mode open"),
    (BASE + " modulus=1000", "both 'bits' and 'modulus'"),
    (swap(BASE, "universal", "Universal"), "field 'level'"),
    (swap(BASE, "universal", ""), "field 'level'"),
    (swap(BASE, "sealed", "seal"), "field 'mode'"),
    *[(swap(BASE, "bits=128", f"bits={v}"), "field 'bits'")
      for v in ["15", "129", "0128", "+64", "", "64.0", "0x40", "4294967312"]],
    *[(swap(BASE, "bits=128", f"modulus={v}"), "field 'modulus'")
      for v in ["0", "1", str(2**128), "01000", "-5", "1e6", "99999999999999999999999999999999999999999"]],
    (swap(BASE, "feistel8:key", "aes"), "field 'cipher'"),
    (swap(BASE, "feistel8:key", "feistel"), "field 'cipher'"),
    (swap(BASE, "feistel8:key", "shuffle4:key"), "field 'cipher'"),
    (BASE.replace("sealed", "plain"), "must not be feistel8:key in mode plain"),
    *[(swap(BASE, "check=1", f"check={v}"), "field 'check'") for v in ["0", "9", "01", "-1"]],
    (swap(BASE, "case=upper", "case=UPPER"), "field 'case'"),
    *[(swap(BASE, "chunk=balanced", f"chunk={v}"), "field 'chunk'")
      for v in ["fixed", "fixed:", "fixed:18446744073709551616", "fixed:-1", "pattern",
                "pattern:1,,2", "pattern:1,", "pattern:,1", "pattern:1;2", "balanced:5",
                "None"]],
    *[(swap(BASE, "sep=U+002D", f"sep={v}"), "field 'sep'")
      for v in ["-", "U+002d", "U+2D", "U+0002D", "u+002D", "U+0041", "U+00E9", "U+D800",
                "U+110000", "U+0000", "NONE", ""]],
    (swap(swap(BASE, "balanced", "fixed:3"), "U+002D", "U+002E"), "'sep' must be U+002D"),
    (swap(swap(BASE, "balanced", "pattern:3"), "U+002D", "none"), "'sep' must be U+002D"),
    (swap(BASE, "balanced", "none"), "'sep' must be none"),
    *[(swap(OPEN, "epoch_ms=1700000000000", f"epoch_ms={v}"), "field 'epoch_ms'")
      for v in [str(2**63), str(-(2**63) - 1), "-0", "+5", "01", ""]],
    (swap(OPEN, "month", "year"), "field 'granularity'"),
]


@pytest.mark.parametrize("text, names", MALFORMED)
def test_malformed_texts_are_refused_naming_the_field(text, names):
    with pytest.raises(ValueError) as excinfo:
        Tavik.from_settings(text, KEY)
    assert names in str(excinfo.value)
    if names == "unknown field":
        name = text.split()[-1].split("=")[0]
        assert excinfo.value.__notes__[0].startswith(f"unknown field '{name}'")


def test_extremes_are_accepted_as_written():
    for text in (swap(OPEN, "1700000000000", str(-(2**63))),
                 swap(OPEN, "1700000000000", str(2**63 - 1)),
                 swap(BASE, "bits=128", f"modulus={2**128 - 1}"),
                 swap(BASE, "bits=128", "modulus=2"),
                 swap(BASE, "bits=128", "bits=16"),
                 swap(BASE, "check=1", "check=8"),
                 swap(BASE, "U+002D", "U+10FFFD"),
                 swap(BASE, "balanced", "fixed:18446744073709551615")):
        assert Tavik.from_settings(text, KEY).settings == text


def test_keys():
    sealed_with_cipher_key = swap(BASE, "feistel8:key", "feistel8:cipher_key")
    refusals = [
        ((BASE,), "key is required for sealed and open modes"),
        ((BASE, b""), "key must not be empty for sealed/open modes"),
        ((sealed_with_cipher_key, KEY), "cipher_key is required for cipher=feistel8:cipher_key"),
        ((BASE, KEY, CIPHER_KEY), "cipher_key is only for cipher=feistel8:cipher_key"),
        ((swap(BASE, "feistel8:key", "shuffle4:public"), KEY, CIPHER_KEY), "cipher_key is only"),
    ]
    for args, message in refusals:
        with pytest.raises(ValueError, match=message):
            Tavik.from_settings(*args)
    # An empty cipher key is a key, as with_cipher takes it.
    assert Tavik.from_settings(sealed_with_cipher_key, KEY, b"").encode(bytes(16)) == (
        Tavik(KEY).with_cipher("feistel", b"").encode(bytes(16)))
    # Mode plain takes a key, and ignores it, as the constructor does.
    plain = swap(swap(BASE, "sealed", "plain"), ":key", ":public")
    assert Tavik.from_settings(plain, KEY).encode(bytes(16)) == Tavik(mode="plain").encode(
        bytes(16))
