"""The key never shows: not in a repr, a message, a note or anything an exception carries, and
an object keeps no reference to the key object it was given."""

import copy
import gc
import pickle
import sys

import pytest

from tavik import Tavik

KEY = b"K3y-0f-the-Secrets-suite\x00\xfe"
CIPHER_KEY = b"Ciph3r-K3y-0f-the-Secrets-suite"


def leaks(text, key):
    forms = [key, key.hex(), key.hex().upper(), repr(key), key.decode("latin-1"),
             key[:12].decode("latin-1"), str(list(key[:8]))[1:-1]]
    if isinstance(text, bytes):
        text = text.decode("latin-1")
    return [form for form in forms if (form if isinstance(form, str) else form.decode("latin-1")) in text]


def everything_an_error_says(error):
    parts = [str(error), repr(error), *getattr(error, "__notes__", [])]
    parts += [repr(arg) for arg in error.args]
    return "\n".join(parts)


def keyed_objects():
    sealed = Tavik(KEY)
    opened = Tavik(KEY, level="ko", mode="open", bit_width=72)
    return [sealed, opened, sealed.with_cipher("feistel", CIPHER_KEY),
            opened.with_cipher("feistel", CIPHER_KEY).with_modulus(10**9).with_separator("\u00b7"),
            sealed.with_chunk_pattern(range(10**6)).with_timestamp_config(-5, "week")]


def failing_calls(codec):
    word = codec.encode(bytes(16))
    return [
        lambda: codec.decode(""),
        lambda: codec.decode(word[:-1] + ("A" if word[-1] != "A" else "E")),
        lambda: codec.recover("MA" * 40),
        lambda: codec.recover("\ud800"),
        lambda: codec.encode("text"),
        lambda: codec.with_modulus(1),
        lambda: codec.with_modulus(3).encode(b"\xff"),
        lambda: codec.with_cipher("aes", CIPHER_KEY),
        lambda: codec.with_cipher("feistel", bytearray(CIPHER_KEY)),
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
        lambda: Tavik(KEY, "universal", "sealed", 128, KEY),
        lambda: Tavik(bytearray(KEY)),
        lambda: pickle.dumps(codec),
        lambda: copy.deepcopy(codec),
        lambda: setattr(codec, "key", KEY),
    ]


def test_no_repr_or_error_shows_the_key():
    for codec in keyed_objects():
        assert leaks(repr(codec), KEY) == [] and leaks(repr(codec), CIPHER_KEY) == []
        assert leaks(str(codec), KEY) == []
        for call in failing_calls(codec):
            with pytest.raises(Exception) as excinfo:
                call()
            said = everything_an_error_says(excinfo.value)
            assert leaks(said, KEY) == [] and leaks(said, CIPHER_KEY) == [], said


def test_objects_keep_no_reference_to_the_key_object():
    key = bytes(KEY)  # an object of its own
    cipher_key = bytes(CIPHER_KEY)
    before = (sys.getrefcount(key), sys.getrefcount(cipher_key))
    codec = Tavik(key).with_cipher("feistel", cipher_key)
    assert (sys.getrefcount(key), sys.getrefcount(cipher_key)) == before
    assert key not in gc.get_referents(codec)
    assert not hasattr(codec, "__dict__")
    assert [name for name in dir(codec) if "key" in name.lower()] == []
