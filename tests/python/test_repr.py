"""repr() shows the settings of a Tavik object; neither it nor any error message shows the key."""

import pytest

from tavik import Tavik

KEY = b"Repr-Key \x00\xfe 0123456789abcdef"


def leaks(text: str, key: bytes = KEY) -> bool:
    forms = [key.hex(), key.hex().upper(), repr(key), repr(key)[2:-1],
             key.decode("latin-1"), "Repr-Key"]
    return any(form in text for form in forms)


def test_repr_shows_every_setting():
    base = Tavik(KEY)
    assert repr(base) == ("Tavik(level='universal', mode='sealed', bit_width=128, "
                          "check_syllables=1, case='upper', chunk='balanced', separator='-')")
    derived = (Tavik(KEY, "ko", "open", 64).with_check_syllables(3).with_case("lower")
               .with_separator(" "))
    assert repr(derived) == ("Tavik(level='ko', mode='open', bit_width=64, check_syllables=3, "
                             "case='lower', chunk='balanced', separator=' ')")
    assert "modulus=1000000," in repr(base.with_modulus(10**6))
    assert "modulus=340282366920938463463374607431768211455," in repr(base.with_modulus(2**128 - 1))
    assert "chunk='none', separator=None" in repr(base.with_chunk_none())
    assert "chunk='fixed:7', separator='-'" in repr(base.with_separator(".").with_chunk_fixed(7))
    assert "chunk='pattern:3,4,3'" in repr(base.with_chunk_pattern([3, 4, 3]))
    assert "chunk='pattern:'" in repr(base.with_chunk_pattern([]))
    long_pattern = repr(base.with_chunk_pattern(range(100)))
    assert "pattern:0,1,2," in long_pattern and long_pattern.count(",") < 40
    assert repr(Tavik(mode="plain")).startswith("Tavik(level='universal', mode='plain', ")
    for codec in (base, derived, base.with_cipher("feistel", KEY), Tavik(KEY, mode="plain")):
        assert not leaks(repr(codec)) and not leaks(str(codec))


def test_error_messages_never_show_the_key():
    codec = Tavik(KEY).with_check_syllables(2)
    word = codec.encode(bytes(16))
    failing = [
        lambda: Tavik(KEY, "klingon"),
        lambda: Tavik(KEY, mode="secret"),
        lambda: Tavik(KEY, bit_width=-1),
        lambda: Tavik(KEY, bit_width="wide"),
        lambda: codec.with_cipher("rot13", KEY),
        lambda: codec.with_cipher("feistel", KEY.decode("latin-1")),
        lambda: codec.with_modulus(1),
        lambda: codec.with_separator("k"),
        lambda: codec.with_timestamp_config(0, "year"),
        lambda: codec.with_modulus(1000).encode(b"\xff\xff"),
        lambda: codec.decode(word[:-1] + "X"),
        lambda: codec.decode(""),
        lambda: codec.recover("KA-KA"),
        lambda: codec.recover(word.replace("-", "")[:-4] + "MAMA"),
        lambda: codec.encode(KEY.decode("latin-1")),
        lambda: Tavik(KEY, mode="plain").recover(word),
    ]
    for call in failing:
        with pytest.raises((ValueError, TypeError, OverflowError, RuntimeError)) as excinfo:
            call()
        texts = [str(excinfo.value), repr(excinfo.value), *getattr(excinfo.value, "__notes__", [])]
        assert not any(leaks(text) for text in texts), texts
