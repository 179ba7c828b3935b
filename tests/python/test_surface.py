"""The module surface: names, signatures, argument binding and conversions, messages."""

import inspect

import pytest

import tavik
from tavik import Tavik
from uuid_forms import uuid_v7

KEY = b"surface key"

SIGNATURES = {
    "with_bit_width": "(bits)",
    "with_modulus": "(modulus)",
    "with_cipher": "(kind, key=None)",
    "with_case": "(case)",
    "with_check_syllables": "(n)",
    "with_separator": "(sep)",
    "with_chunk_none": "()",
    "with_chunk_fixed": "(char_size)",
    "with_chunk_pattern": "(pattern)",
    "with_timestamp_config": "(epoch_ms, granularity='month')",
    "encode": "(data)",
    "decode": "(input)",
    "recover": "(input)",
}


def notes(excinfo):
    return getattr(excinfo.value, "__notes__", [])


def test_module_and_class_names():
    assert tavik.__all__ == ["Tavik", "Keyring"]
    assert tavik.tavik.__all__ == ["Tavik", "Keyring"]
    assert tavik.Tavik is tavik.tavik.Tavik
    assert tavik.Keyring is tavik.tavik.Keyring
    assert tavik.Keyring.__module__ == "builtins"
    assert [str(inspect.signature(getattr(tavik.Keyring, m))) for m in
            ("decode", "recover", "decode_many", "rekey_many")] == [
        "(self, /, input)", "(self, /, input)", "(self, /, words, errors='raise')",
        "(self, /, words, errors='raise')"]
    assert Tavik.__module__ == "builtins"
    assert Tavik.__name__ == "Tavik"
    assert tavik.tavik.__doc__ == ""
    assert Tavik.__doc__ in (None, "")


def test_signatures():
    assert str(inspect.signature(Tavik)) == (
        "(key=None, level='universal', mode='sealed', bit_width=128)"
    )
    codec = Tavik(KEY)
    for name, text in SIGNATURES.items():
        method = getattr(Tavik, name)
        expected = "(self, /)" if text == "()" else "(self, /, " + text[1:]
        assert str(inspect.signature(method)) == expected
        assert str(inspect.signature(getattr(codec, name))) == text
        assert method.__doc__ is None


def test_settings_surface():
    assert str(inspect.signature(Tavik.from_settings)) == "(settings, key=None, cipher_key=None)"
    assert Tavik.from_settings.__doc__ is None
    assert Tavik.settings.__doc__ is None
    codec = Tavik(KEY)
    assert type(codec.settings) is str
    with pytest.raises(AttributeError):
        codec.settings = "tavik/1"
    assert type(codec.from_settings(codec.settings, KEY)) is Tavik
    with pytest.raises(TypeError):
        Tavik.from_settings(codec.settings.encode(), KEY)
    with pytest.raises(TypeError):
        Tavik.from_settings(codec.settings, KEY, "cipher key")


def test_objects_are_immutable_and_unsubclassable():
    codec = Tavik(KEY)
    with pytest.raises((AttributeError, TypeError)):
        codec.level = "eu"
    with pytest.raises(TypeError):

        class Sub(Tavik):  # noqa: F841
            pass


@pytest.mark.parametrize(
    "call",
    [
        lambda c: c.with_bit_width(64, 1),
        lambda c: c.with_bit_width(bitz=64),
        lambda c: c.with_bit_width(64, bits=64),
        lambda c: c.with_bit_width(),
        lambda c: c.with_cipher("feistel", None, None),
        lambda c: c.with_cipher(key=None),
        lambda c: c.with_chunk_none(1),
        lambda c: c.with_chunk_none(x=1),
        lambda c: c.encode(),
        lambda c: c.encode(b"", b""),
        lambda c: c.decode(input="x", data=b""),
        lambda c: c.with_timestamp_config(0, "month", 1),
        lambda c: Tavik(KEY, "universal", "sealed", 128, 1),
        lambda c: Tavik(KEY, key=KEY),
        lambda c: Tavik(kee=KEY),
    ],
)
def test_argument_binding_errors(call):
    with pytest.raises(TypeError):
        call(Tavik(KEY))


def test_arguments_by_position_and_keyword():
    a = Tavik(KEY, "eu", "open", 64)
    b = Tavik(bit_width=64, mode="open", level="eu", key=KEY)
    data = bytes(range(8))
    assert a.encode(data) == b.encode(data)
    assert a.with_cipher("feistel", KEY).encode(data) == a.with_cipher(key=KEY, kind="feistel").encode(data)
    assert a.with_timestamp_config(0).encode(data) == a.with_timestamp_config(
        granularity="month", epoch_ms=0
    ).encode(data)


def test_constructor_checks_in_order():
    with pytest.raises(ValueError, match="^key is required for sealed and open modes(\n|$)"):
        Tavik()
    with pytest.raises(ValueError, match="^key is required for sealed and open modes(\n|$)"):
        Tavik(None, mode="open")
    with pytest.raises(ValueError, match="^key must not be empty for sealed/open modes(\n|$)"):
        Tavik(b"")
    with pytest.raises(ValueError, match="^key must not be empty for sealed/open modes(\n|$)"):
        Tavik(b"", mode="open")
    Tavik(b"", mode="plain")
    Tavik(mode="plain")
    with pytest.raises(ValueError, match=r"^level must be one of: universal, eu, en, numeric(\n|$)"):
        Tavik(KEY, level="EU")
    Tavik(KEY, level="ko")
    with pytest.raises(ValueError, match="^level must be one of"):
        Tavik(KEY, level="xx", mode="yy")
    with pytest.raises(ValueError, match="^mode must be one of: sealed, open, plain(\n|$)"):
        Tavik(level="eu", mode="Plain")
    # A conversion error wins over any value check.
    with pytest.raises(TypeError) as excinfo:
        Tavik(level="xx", bit_width="128")
    assert notes(excinfo) == ["while processing 'bit_width'"]


@pytest.mark.parametrize("bad", ["key", bytearray(b"key"), memoryview(b"key"), 1])
@pytest.mark.parametrize("mode", ["sealed", "open", "plain"])
def test_key_must_be_bytes(bad, mode):
    with pytest.raises(TypeError) as excinfo:
        Tavik(bad, mode=mode)
    assert notes(excinfo) == ["while processing 'key'"]


def test_bit_width_conversion_and_clamping():
    data = bytes(range(16))
    reference = {w: Tavik(KEY, bit_width=w).encode(data) for w in (16, 128)}
    assert Tavik(KEY, bit_width=0).encode(data) == reference[16]
    assert Tavik(KEY, bit_width=15).encode(data) == reference[16]
    assert Tavik(KEY, bit_width=129).encode(data) == reference[128]
    assert Tavik(KEY, bit_width=4294967295).encode(data) == reference[128]
    assert Tavik(KEY, bit_width=True).encode(data) == reference[16]
    for bad in (-1, 4294967296, 2**40):
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted(\n|$)") as excinfo:
            Tavik(KEY, bit_width=bad)
        assert notes(excinfo) == ["while processing 'bit_width'"]
    with pytest.raises(OverflowError) as excinfo:
        Tavik(KEY, bit_width=2**70)
    assert str(excinfo.value) != "out of range integral type conversion attempted"
    for bad in (12.0, "12", None):
        with pytest.raises(TypeError):
            Tavik(KEY, bit_width=bad)


def test_builder_conversions_and_messages():
    codec = Tavik(KEY)
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted(\n|$)") as excinfo:
        codec.with_bit_width(2**40)
    assert notes(excinfo) == ["while processing 'bits'"]
    with pytest.raises(OverflowError):
        codec.with_bit_width(-1)
    for bad in (0, 1):
        with pytest.raises(ValueError, match="^modulus must be at least 2(\n|$)"):
            codec.with_modulus(bad)
    for bad in (2**128, -5):
        with pytest.raises(OverflowError) as excinfo:
            codec.with_modulus(bad)
        assert notes(excinfo) == ["while processing 'modulus'"]
    codec.with_modulus(2**128 - 1)
    with pytest.raises(TypeError):
        codec.with_modulus(3.0)
    for kind in ("FEISTEL", " feistel", "aes", ""):
        with pytest.raises(ValueError, match="^unknown cipher: use 'feistel' or 'shuffle'(\n|$)"):
            codec.with_cipher(kind)
    with pytest.raises(TypeError) as excinfo:
        codec.with_cipher("unknown", "key as str")
    assert notes(excinfo) == ["while processing 'key'"]
    with pytest.raises(ValueError, match="^case must be 'upper' or 'lower'(\n|$)"):
        codec.with_case("Upper")
    for bad in (-1, 2**64):
        with pytest.raises(OverflowError) as excinfo:
            codec.with_check_syllables(bad)
        assert notes(excinfo) == ["while processing 'n'"]
    with pytest.raises(ValueError, match="^separator must not be empty(\n|$)"):
        codec.with_separator("")
    for bad in ("a", "Z", "é", "ß", "字", "ab"):
        with pytest.raises(ValueError, match="^invalid separator: must be non-alphabetic(\n|$)"):
            codec.with_separator(bad)
    for good in ("1", "_", " ", "/", "€", "\0", "_a", "·", "\U0001F600"):
        codec.with_separator(good)
    with pytest.raises(OverflowError):
        codec.with_chunk_fixed(-1)
    codec.with_chunk_fixed(0)
    with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`(\n|$)") as excinfo:
        codec.with_chunk_pattern("23")
    assert notes(excinfo) == ["while processing 'pattern'"]
    with pytest.raises(TypeError):
        codec.with_chunk_pattern({1, 2})
    with pytest.raises(OverflowError):
        codec.with_chunk_pattern([3, -1])
    with pytest.raises(TypeError):
        codec.with_chunk_pattern([3, 1.5])
    for good in ([], (3, 4), range(5), b"\x03\x04", [0, 0]):
        codec.with_chunk_pattern(good)
    with pytest.raises(TypeError):
        codec.with_timestamp_config(0, None)
    with pytest.raises(ValueError, match="^granularity must be one of: second, minute, hour, day, week, month(\n|$)"):
        codec.with_timestamp_config(0, "Month")
    with pytest.raises(OverflowError) as excinfo:
        codec.with_timestamp_config(2**63)
    assert notes(excinfo) == ["while processing 'epoch_ms'"]
    codec.with_timestamp_config(-(2**63), "second")


def test_working_method_argument_types(sealed):
    for bad in ("text", bytearray(b"x"), memoryview(b"x"), 5, None):
        with pytest.raises(TypeError) as excinfo:
            sealed.encode(bad)
        assert notes(excinfo) == ["while processing 'data'"]
    for method in (sealed.decode, sealed.recover):
        for bad in (b"MAMA", None, 3):
            with pytest.raises(TypeError) as excinfo:
                method(bad)
            assert notes(excinfo) == ["while processing 'input'"]
        with pytest.raises(UnicodeEncodeError) as excinfo:
            method("MA\udcffMA")
        assert notes(excinfo) == ["while processing 'input'"]


def test_results_are_of_the_documented_types(sealed):
    # Equality alone would let a str subclass or a bytearray through.
    word = sealed.encode(b"x")
    assert type(word) is str
    for data in (sealed.decode(word), sealed.recover(word)):
        assert type(data) is bytes and len(data) == 16


def test_builders_change_only_the_object_they_return():
    codec = Tavik(KEY, mode="open")
    data = uuid_v7(1700807049216, bytes(range(10))).bytes
    before = (repr(codec), codec.encode(data))
    for derived in (
        codec.with_bit_width(64),
        codec.with_modulus(10**6),
        codec.with_cipher("shuffle"),
        codec.with_case("lower"),
        codec.with_check_syllables(3),
        codec.with_separator("_"),
        codec.with_chunk_none(),
        codec.with_chunk_fixed(3),
        codec.with_chunk_pattern([2]),
        codec.with_timestamp_config(1700000000000, "day"),
    ):
        assert derived.encode(data) != before[1]
        assert (repr(codec), codec.encode(data)) == before


def test_errors_map_to_their_exceptions(sealed, plain):
    with pytest.raises(ValueError, match="^input normalization failed(\n|$)"):
        sealed.decode("")
    body, check = sealed.encode(b"x").rsplit("-", 1)
    with pytest.raises(ValueError, match="^check verification failed \u2014 input may be corrupted(\n|$)"):
        sealed.decode(body + "-" + ("KA" if check == "MA" else "MA"))
    with pytest.raises(ValueError, match="^recovery not supported in plain mode(\n|$)"):
        plain.recover(plain.encode(b"x"))
    with pytest.raises(ValueError, match="^input normalization failed(\n|$)"):
        sealed.recover("123")
    with pytest.raises(ValueError, match="^value must be below the modulus(\n|$)"):
        sealed.with_modulus(1000).encode((1000).to_bytes(2, "big"))


def test_stubs_refuse_a_misspelt_name(tmp_path):
    # The names the constructor and the builders accept are Literal types in the stubs.
    api = pytest.importorskip("mypy.api")
    (tmp_path / "misspelt.py").write_text(
        "from tavik import Tavik\n"
        "Tavik(b'k', mode='sealde')\n"
        "Tavik(b'k', level='universal').with_case('lower').with_cipher('shufle')\n"
        "Tavik(b'k').with_timestamp_config(0, 'days')\n")
    out, _, status = api.run(["--no-incremental", "--cache-dir", str(tmp_path / "cache"),
                              str(tmp_path / "misspelt.py")])
    assert status == 1
    assert [line.split(": error: ")[0].split(":")[-1] for line in out.splitlines()
            if ": error: " in line] == ["2", "3", "4"]
