"""Encode, decode and recover through Python across many configurations."""

import random
import re
import uuid

import pytest

from tavik import Tavik
from uuid_forms import uuid_v6, uuid_v7

KEY = b"round trip key"
LEVELS = ["universal", "eu", "en", "numeric", "ko"]
MODES = ["sealed", "open", "plain"]


def selected_value(data: bytes, width: int | None, modulus: int | None) -> int:
    """The value the encoder reads: the head bytes, or the tail with a modulus, masked."""
    bits = modulus.bit_length() if modulus is not None else width
    nbytes = (bits + 7) // 8
    if modulus is not None:
        chunk = data[-nbytes:] if data else b""
    else:
        chunk = data[:nbytes].ljust(nbytes, b"\0")
    return int.from_bytes(chunk, "big") & ((1 << bits) - 1)


def random_codec(rng: random.Random):
    mode = rng.choice(MODES)
    codec = Tavik(KEY if mode != "plain" or rng.random() < 0.5 else None, rng.choice(LEVELS), mode)
    width = modulus = None
    if rng.random() < 0.3:
        modulus = rng.choice([2, 3, 700, 1000, 1000003, 2**64, 2**127 + 1, rng.randrange(2, 2**128)])
        codec = codec.with_modulus(modulus)
    else:
        width = rng.randrange(16, 129)
        codec = codec.with_bit_width(width)
    if rng.random() < 0.3:
        codec = codec.with_cipher(rng.choice(["feistel", "feistel8", "shuffle", "shuffle4"]),
                                  rng.choice([None, b"cipher key"]))
        # A chosen cipher survives a later domain change.
        if rng.random() < 0.5:
            if modulus is not None:
                modulus = rng.choice([5, 1000, 2**100 + 7])
                codec = codec.with_modulus(modulus)
            else:
                width = rng.randrange(16, 129)
                codec = codec.with_bit_width(width)
    codec = codec.with_check_syllables(rng.randrange(0, 10)).with_case(rng.choice(["upper", "lower"]))
    layout = rng.randrange(5)
    if layout == 0:
        codec = codec.with_chunk_none()
    elif layout == 1:
        codec = codec.with_chunk_fixed(rng.randrange(0, 12))
    elif layout == 2:
        codec = codec.with_chunk_pattern([rng.randrange(0, 5) for _ in range(rng.randrange(5))])
    elif layout == 3:
        codec = codec.with_separator(rng.choice(["-", " ", ".", "_", "\0", "·", "\U0001F600", "9"]))
    if rng.random() < 0.3:
        codec = codec.with_timestamp_config(rng.randrange(-(2**63), 2**63),
                                            rng.choice(["second", "minute", "hour", "day", "week", "month"]))
    return codec, mode, width, modulus


def test_random_configurations_round_trip():
    rng = random.Random(20261207)
    for _ in range(400):
        codec, mode, width, modulus = random_codec(rng)
        for _ in range(5):
            data = rng.randbytes(rng.randrange(0, 20))
            value = selected_value(data, width, modulus)
            if modulus is not None and value >= modulus:
                with pytest.raises(ValueError, match="^value must be below the modulus$"):
                    codec.encode(data)
                continue
            word = codec.encode(data)
            want = value.to_bytes(16, "big")
            assert codec.decode(word) == want
            assert codec.decode(word.swapcase()) == want
            if mode != "plain":
                assert codec.recover(word) == want


def test_default_shape():
    codec = Tavik(KEY)
    for _ in range(50):
        word = codec.encode(uuid.uuid4().bytes)
        groups = word.split("-")
        assert len(groups) == 6 and word == word.upper()
        assert re.fullmatch(r"[A-Z]{2,4}", groups[-1])


def test_width_and_modulus_byte_selection():
    codec = Tavik(KEY)
    w64 = codec.with_bit_width(64)
    a, b = bytes(range(16)), bytes(range(8)) + bytes(8)
    assert w64.encode(a) == w64.encode(b)
    assert w64.decode(w64.encode(a)) == bytes(8) + bytes(range(8))
    w20 = codec.with_bit_width(20)
    assert w20.encode(b"\x0f\xff\xff") == w20.encode(b"\xff\xff\xff")
    m = codec.with_modulus(60000)
    assert m.encode(b"\x01\x02") == m.encode(b"\xff\x01\x02")
    assert codec.encode(b"") == codec.encode(b"\0") == codec.encode(bytes(16))


def test_plain_mode_ignores_the_key():
    data = uuid.uuid4().bytes
    words = {Tavik(key, mode="plain").encode(data) for key in (None, b"", b"anything")}
    assert len(words) == 1


def test_open_mode_prefix_for_time_based_uuids():
    codec = Tavik(KEY, mode="open")
    day = codec.with_timestamp_config(1700000000000, "day")
    v7 = uuid_v7(1700807049216, bytes(range(10)))
    assert day.encode(v7.bytes).startswith("BE-DU-")
    assert codec.encode(v7.bytes).startswith("BA-DA-")
    u1 = uuid.uuid1()
    u6 = uuid_v6(u1)
    same_instant = [codec.with_timestamp_config(0, "second").encode(u.bytes)[:5] for u in (u1, u6)]
    assert same_instant[0] == same_instant[1]
    assert re.fullmatch(r"B[AEIOU]-D[AEIOU]", same_instant[0])
    for u in (u1, u6, v7):
        word = codec.with_case("lower").encode(u.bytes)
        assert re.match(r"B[AEIOU]-D[AEIOU]-[a-z]", word)
        assert codec.decode(word) == u.bytes
        assert codec.decode(word[6:]) == u.bytes
        assert codec.recover(word) == u.bytes
    assert not re.match(r"B[AEIOU]-D[AEIOU]-", codec.encode(uuid.uuid4().bytes) + "x")
    for other in (Tavik(KEY), Tavik(mode="plain"), codec.with_bit_width(64)):
        assert not other.encode(v7.bytes).startswith(("BA-DA-", "BE-DU-"))


def test_recover_corrects_one_confused_nucleus():
    codec = Tavik(KEY).with_check_syllables(2)
    rng = random.Random(7)
    corrected = 0
    for _ in range(200):
        data = rng.randbytes(16)
        word = codec.encode(data)
        match = re.search(r"(?<=[BCDFGHJKMPQSTVWZ])(A|E|I|O|U)(L)", word)
        if not match:
            continue
        typo = word[: match.start(2)] + "N" + word[match.end(2):]
        try:
            assert codec.recover(typo) == data
            corrected += 1
        except ValueError as exc:
            assert str(exc).startswith("ambiguous: ") or str(exc) == "reject: unrecoverable"
    assert corrected > 50
