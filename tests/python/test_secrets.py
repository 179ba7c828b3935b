"""The key never shows: not in a repr, a message, a note or anything an exception carries, and
an object keeps no reference to the key object it was given."""

import copy
import pickle

import pytest

from tavik import Tavik

KEY = b"K3y-0f-the-Secrets-suite\x00\xfe"
CIPHER_KEY = b"Ciph3r-K3y-0f-the-Secrets-suite"


def shown(text, key):
    """The forms of the key that text shows: its first bytes as Latin-1 text (which a full or
    escaped key also contains), as hex digits or as a list of numbers."""
    head = key[:8]
    forms = [head.decode("latin-1"), head.hex(), head.hex().upper(), str(list(head))[1:-1]]
    return [form for form in forms if form in text]


def everything_an_error_says(error):
    parts = []
    while error is not None:  # the error and every one it was raised from or during
        parts += [str(error), repr(error), *getattr(error, "__notes__", [])]
        parts += [repr(arg) for arg in error.args]
        error = error.__cause__ or error.__context__
    return "\n".join(parts)


def keyed_objects(key=KEY, cipher_key=CIPHER_KEY):
    sealed = Tavik(key)
    opened = Tavik(key, level="ko", mode="open", bit_width=72)
    return [sealed, opened, Tavik(key, mode="plain"), sealed.with_cipher("feistel", cipher_key),
            opened.with_cipher("feistel", cipher_key).with_modulus(10**9).with_separator("\u00b7"),
            sealed.with_chunk_pattern(range(10**6)).with_timestamp_config(-5, "week"),
            opened.with_timestamp_config(-5, "week").with_cipher("feistel8", key),
            Tavik(key, mode="plain").with_cipher("feistel", cipher_key),
            sealed.with_cipher("shuffle", cipher_key)]


def failing_calls(codec):
    word = codec.encode(bytes(16))
    return [
        lambda: codec.decode(""),
        lambda: codec.decode(word[:-1] + ("A" if word[-1] != "A" else "E")),
        lambda: codec.recover("MA" * 40),
        lambda: codec.recover("\ud800"),
        lambda: codec.recover("KA-KA"),
        lambda: Tavik(KEY, mode="plain").recover(word),
        lambda: codec.encode(KEY.decode("latin-1")),
        lambda: codec.with_modulus(1),
        lambda: codec.with_modulus(3).encode(b"\xff"),
        lambda: codec.with_cipher("aes", CIPHER_KEY),
        lambda: codec.with_cipher("feistel", bytearray(CIPHER_KEY)),
        lambda: codec.with_cipher("feistel", CIPHER_KEY.decode("latin-1")),
        lambda: codec.with_case(KEY.decode("latin-1")),
        lambda: codec.with_separator("x"),
        lambda: codec.with_timestamp_config(0, "eon"),
        lambda: codec.with_chunk_pattern([1, -1]),
        lambda: codec.with_bit_width(2**40),
        lambda: codec.encode(),
        lambda: codec.decode(input=word, key=KEY),
        lambda: Tavik(KEY, level="xx"),
        lambda: Tavik(KEY, mode="xx"),
        lambda: Tavik(KEY, bit_width=-1),
        lambda: Tavik(KEY, bit_width="wide"),
        lambda: Tavik(KEY, "universal", "sealed", 128, KEY),
        lambda: Tavik(bytearray(KEY)),
        lambda: pickle.dumps(codec),
        lambda: copy.deepcopy(codec),
        lambda: setattr(codec, "key", KEY),
    ]


def test_no_repr_or_error_shows_the_key():
    for codec in keyed_objects():
        assert shown(repr(codec), KEY) == [] and shown(repr(codec), CIPHER_KEY) == []
        assert shown(str(codec), KEY) == []
        for call in failing_calls(codec):
            with pytest.raises(Exception) as excinfo:
                call()
            said = everything_an_error_says(excinfo.value)
            assert shown(said, KEY) == [] and shown(said, CIPHER_KEY) == [], said


def test_repr_depends_on_the_settings_alone():
    # Nothing derived from a key shows either: other keys, the same repr.
    other = keyed_objects(b"another key", b"another cipher key")
    assert [repr(codec) for codec in keyed_objects()] == [repr(codec) for codec in other]


def test_objects_keep_no_reference_to_the_key_objects():
    freed = []

    class Key(bytes):
        def __del__(self):
            freed.append(bytes(self))

    key, cipher_key = Key(KEY), Key(CIPHER_KEY)
    codec = Tavik(key, mode="open")
    derived = codec.with_cipher("feistel", cipher_key)
    del key, cipher_key
    assert freed == [KEY, CIPHER_KEY]
    # The objects copied the key material: reusing the freed memory changes nothing.
    filler = [bytes([0x5A]) * len(KEY) for _ in range(1000)]  # noqa: F841
    data = bytes(range(16))
    assert codec.encode(data) == Tavik(KEY, mode="open").encode(data)
    assert derived.encode(data) == Tavik(KEY, mode="open").with_cipher(
        "feistel", CIPHER_KEY).encode(data)
    assert [name for name in dir(derived) if "key" in name.lower()] == []
