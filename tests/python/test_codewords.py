"""Replays the known code words of tests/vectors/codewords.jsonl: the frozen code-word format
and settings texts."""

import json
import pathlib
import re

import pytest

from tavik import Tavik

VECTORS = pathlib.Path(__file__).resolve().parents[1] / "vectors" / "codewords.jsonl"


def read_lines():
    """The known answers as pytest parameters, each named after its line number."""
    with VECTORS.open(encoding="utf-8") as file:
        lines = [(number, json.loads(text)) for number, text in enumerate(file, 1)]
    return [pytest.param(line, id=f"line{number}")
            for number, line in lines if "comment" not in line]


PARAMS = read_lines()
LINES = [param.values[0] for param in PARAMS]
TYPO_PARAMS = [param for param in PARAMS if "typo" in param.values[0]]


def argument(value):
    if isinstance(value, dict):
        return bytes.fromhex(value["hex"])
    return value


def build(line):
    key = None if line["key"] is None else bytes.fromhex(line["key"])
    codec = Tavik(key, line["level"], line["mode"], line["bit_width"])
    for name, args in line["calls"]:
        codec = getattr(codec, name)(*map(argument, args))
    return codec


def expected_bytes(line):
    """The 16 bytes decode returns: the input's head ceil(bits/8) bytes, or its tail with a
    modulus, right-aligned and cut to the width."""
    bits, tail = max(16, min(128, line["bit_width"])), False
    for name, args in line["calls"]:
        if name == "with_bit_width":
            bits, tail = max(16, min(128, args[0])), False
        elif name == "with_modulus":
            bits, tail = args[0].bit_length(), True
    data, num_bytes = bytes.fromhex(line["input"]), (bits + 7) // 8
    selected = data[-num_bytes:] if tail and data else data[:num_bytes].ljust(num_bytes, b"\0")
    return (int.from_bytes(selected, "big") & ((1 << bits) - 1)).to_bytes(16, "big")


def test_the_file_covers_every_level_and_mode():
    # Guards against a truncated file: an empty replay would pass every test below.
    assert {(line["level"], line["mode"]) for line in LINES} == {
        (level, mode)
        for level in ("universal", "eu", "en", "numeric", "ko")
        for mode in ("sealed", "open", "plain")
    }
    assert len(TYPO_PARAMS) >= 30


@pytest.mark.parametrize("line", PARAMS)
def test_known_word(line):
    codec = build(line)
    word, want = line["word"], expected_bytes(line)
    assert codec.encode(bytes.fromhex(line["input"])) == word
    assert codec.decode(word) == want
    assert codec.decode(re.sub(r"[^A-Za-z]", " ", word.lower())) == want
    if line["mode"] != "plain":
        assert codec.recover(word) == want


@pytest.mark.parametrize("line", PARAMS)
def test_settings_text_builds_the_same_codec(line):
    built = build(line)
    assert built.settings == line["settings"]
    key, cipher_key = (None if line[name] is None else bytes.fromhex(line[name])
                       for name in ("key", "cipher_key"))
    codec = Tavik.from_settings(line["settings"], key, cipher_key)
    assert codec.settings == line["settings"]
    assert codec.encode(bytes.fromhex(line["input"])) == line["word"]


@pytest.mark.parametrize("line", TYPO_PARAMS)
def test_known_typo(line):
    assert build(line).recover(line["typo"]) == bytes.fromhex(line["recovered"])
