"""repr() shows the settings of a Tavik object (test_secrets checks that it hides the key)."""

import uuid

from tavik import Tavik

KEY = b"repr key"
OTHER_KEY = b"another repr key"
DATA = uuid.UUID("123e4567-e89b-12d3-a456-426614174000").bytes


def test_repr_shows_every_setting():
    base = Tavik(KEY)
    assert repr(base) == ("Tavik(level='universal', mode='sealed', bit_width=128, "
                          "cipher='feistel8, your key', check_syllables=1, case='upper', "
                          "chunk='balanced', separator='-')")
    derived = (Tavik(KEY, "ko", "open", 64).with_check_syllables(3).with_case("lower")
               .with_separator(" ").with_timestamp_config(-5, "week"))
    assert repr(derived) == ("Tavik(level='ko', mode='open', bit_width=64, "
                             "cipher='feistel8, your key', check_syllables=3, case='lower', "
                             "chunk='balanced', separator=' ', epoch_ms=-5, granularity='week')")
    assert repr(Tavik(KEY, mode="open")).endswith(
        ", epoch_ms=1700000000000, granularity='month')")
    # The time prefix exists in mode open only, and so do its settings.
    assert "epoch_ms" not in repr(base.with_timestamp_config(-5, "week"))
    assert "modulus=1000000," in repr(base.with_modulus(10**6))
    assert "modulus=340282366920938463463374607431768211455," in repr(base.with_modulus(2**128 - 1))
    assert "chunk='none', separator=None" in repr(base.with_chunk_none())
    assert "chunk='fixed:7', separator='-'" in repr(base.with_separator(".").with_chunk_fixed(7))
    assert "chunk='pattern:3,4,3'" in repr(base.with_chunk_pattern([3, 4, 3]))
    assert "chunk='pattern:'" in repr(base.with_chunk_pattern([]))
    long_pattern = repr(base.with_chunk_pattern(range(100)))
    assert "pattern:0,1,2," in long_pattern and long_pattern.count(",") < 40
    assert repr(Tavik(mode="plain")).startswith("Tavik(level='universal', mode='plain', ")


# Each way of building a codec, from the constructor's key and a key for with_cipher, and the
# cipher that its repr names.
CIPHERS = [
    (lambda k, c: Tavik(k), "feistel8, your key"),
    (lambda k, c: Tavik(k, "eu", "open", 64), "feistel8, your key"),
    (lambda k, c: Tavik(k, mode="plain"), "feistel8, public key"),
    (lambda k, c: Tavik(k).with_cipher("feistel", c), "feistel8, with_cipher key"),
    (lambda k, c: Tavik(k, mode="plain").with_cipher("feistel8", c), "feistel8, with_cipher key"),
    (lambda k, c: Tavik(k).with_cipher("feistel", c).with_modulus(10**6),
     "feistel8, with_cipher key"),
    (lambda k, c: Tavik(k, mode="open").with_cipher("feistel"), "feistel8, public key"),
    (lambda k, c: Tavik(k).with_cipher("shuffle", c), "shuffle4, public key"),
    (lambda k, c: Tavik(k).with_cipher("feistel", c).with_cipher("shuffle4").with_bit_width(64),
     "shuffle4, public key"),
]


def data_syllables(word):
    return word.rsplit("-", 1)[0]  # the check syllables follow the last separator


def test_repr_names_the_cipher_and_whose_key_it_runs_under():
    for build, cipher in CIPHERS:
        codec = build(KEY, KEY + b" for the cipher")
        assert f"cipher='{cipher}'" in repr(codec)
        # A public key means what it says: under another key of every kind, the data syllables
        # are the same. Any other cipher changes them with its key.
        changed = [build(OTHER_KEY, KEY + b" for the cipher"), build(KEY, OTHER_KEY)]
        same = [data_syllables(other.encode(DATA)) == data_syllables(codec.encode(DATA))
                for other in changed]
        if cipher.endswith("your key"):
            assert same == [False, True]
        elif cipher.endswith("with_cipher key"):
            assert same == [True, False]
        else:
            assert same == [True, True]


def test_shuffle_in_mode_plain_is_mode_plain():
    plain = Tavik(mode="plain")
    for codec in (plain.with_cipher("shuffle"), plain.with_cipher("feistel"),
                  Tavik(KEY, mode="plain").with_cipher("shuffle4", KEY)):
        assert codec.encode(DATA) == plain.encode(DATA)
        assert codec.with_bit_width(40).encode(DATA) == plain.with_bit_width(40).encode(DATA)
