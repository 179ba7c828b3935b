#!/usr/bin/env python3
"""Fuzz target: random calls on the Python surface of tavik.

The input picks constructor calls, builder calls, encode, decode and recover on a small pool of
objects, with arguments of random types and values: valid names and numbers, ints of every size,
bools, floats, None, str (lone surrogates included), bytes, bytearray, subclasses of str, bytes
and int, objects whose __index__ raises or returns a huge int, sequences whose iteration or
__len__ raises, huge ranges, arguments whose conversion releases the other arguments, keyword
arguments, too many arguments.

Only the documented exceptions may come out: TypeError, ValueError (UnicodeEncodeError
included), OverflowError, RuntimeError "failed to decode after recovery", and the exception the
argument itself raised. A SystemError, tavik.InternalError (a BaseException), any other
exception or a crash fails the run; so does a result of the wrong type or a word that does not
read back.

Run it with tools/fuzz.sh, which builds the extension with coverage and sanitizers and preloads
the sanitizer runtime.
"""

import sys

import atheris

with atheris.instrument_imports():
    import tavik


class Raised(Exception):
    """The exception that hostile arguments raise; it must come out unchanged."""


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if self.value is None:
            raise Raised("__index__")
        return self.value


class Releaser:
    """An integer (or a pattern) whose conversion drops the caller's references to the other
    arguments: it empties every dictionary and list that holds it, then allocates objects of
    the freed sizes, so that a binding still reading a released argument reads other data."""

    def __init__(self, value):
        self.value = value

    def release(self):
        import gc

        for holder in gc.get_referrers(self):
            if isinstance(holder, (dict, list)) and holder is not self.__dict__:
                holder.clear()
        self.filler = [bytes(n) for n in range(64)] + [str(n) * 8 for n in range(64)]

    def __index__(self):
        self.release()
        return self.value

    def __iter__(self):
        self.release()
        return iter([self.value % 15] * 3)


class Str(str):
    pass


class Bytes(bytes):
    pass


class Int(int):
    pass


class BadSequence:
    """A sequence whose __len__ or iteration raises."""

    def __init__(self, items, fail_len, fail_at):
        self.items, self.fail_len, self.fail_at = items, fail_len, fail_at

    def __len__(self):
        if self.fail_len:
            raise Raised("__len__")
        return len(self.items)

    def __getitem__(self, i):
        if i == self.fail_at:
            raise Raised("__getitem__")
        return self.items[i]


NAMES = ["universal", "eu", "en", "numeric", "ko", "sealed", "open", "plain", "upper",
         "lower", "feistel", "feistel8", "shuffle", "shuffle4", "second", "minute", "hour",
         "day", "week", "month", "-", " ", ".", "\x00", "\U0001F600", "a", ""]
METHODS = ["with_bit_width", "with_modulus", "with_cipher", "with_case",
           "with_check_syllables", "with_separator", "with_chunk_none", "with_chunk_fixed",
           "with_chunk_pattern", "with_timestamp_config", "encode", "decode", "recover"]
KEYWORDS = ["key", "level", "mode", "bit_width", "bits", "modulus", "kind", "case", "n", "sep",
            "char_size", "pattern", "epoch_ms", "granularity", "data", "input", "other"]
ALLOWED = (TypeError, ValueError, OverflowError, Raised)


def make_int(fdp):
    kind = fdp.ConsumeIntInRange(0, 5)
    if kind == 0:
        return fdp.ConsumeIntInRange(-2, 300)
    if kind == 1:
        return fdp.ConsumeInt(9) * (1 if fdp.ConsumeBool() else -1)
    if kind == 2:
        return (1 << fdp.ConsumeIntInRange(0, 200)) - fdp.ConsumeIntInRange(-1, 1)
    if kind == 3:
        return -(1 << fdp.ConsumeIntInRange(0, 200)) + fdp.ConsumeIntInRange(-1, 1)
    if kind == 4:
        return Int(fdp.ConsumeIntInRange(0, 1 << 70))
    return Index(None if fdp.ConsumeBool() else make_int(fdp))


def make_arg(fdp, words):
    kind = fdp.ConsumeIntInRange(0, 20)
    if kind <= 2:
        return make_int(fdp)
    if kind == 3:
        return fdp.PickValueInList(NAMES)
    if kind == 4:
        return fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 40))  # may hold lone surrogates
    if kind == 5:
        return Str(fdp.ConsumeUnicodeNoSurrogates(fdp.ConsumeIntInRange(0, 40)))
    if kind == 6:
        return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 40))
    if kind == 7:
        return Bytes(fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 20)))
    if kind == 8:
        return bytearray(fdp.ConsumeBytes(16))
    if kind == 9:
        return [make_int(fdp) for _ in range(fdp.ConsumeIntInRange(0, 40))]
    if kind == 10:
        return tuple(fdp.ConsumeIntInRange(0, 20) for _ in range(fdp.ConsumeIntInRange(0, 8)))
    if kind == 11:
        start = fdp.ConsumeIntInRange(-3, 1 << 66)
        stop = start + (1 << fdp.ConsumeIntInRange(0, 70)) * (1 if fdp.ConsumeBool() else -1)
        return range(start, stop, fdp.PickValueInList([1, 2, -1, 7]))
    if kind == 12:
        items = [fdp.ConsumeIntInRange(0, 9) for _ in range(fdp.ConsumeIntInRange(0, 50))]
        return BadSequence(items, fdp.ConsumeBool(), fdp.ConsumeIntInRange(0, 60))
    if kind == 13 and words:
        return fdp.PickValueInList(words)
    if kind == 14 and words:
        word = fdp.PickValueInList(words)
        at = fdp.ConsumeIntInRange(0, len(word))
        return word[:at] + fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 2)) + word[at + 1:]
    if kind == 15:
        return fdp.ConsumeFloat()
    if kind == 16:
        return fdp.ConsumeBool()
    if kind == 17:
        return None
    if kind == 18:
        return fdp.ConsumeBytes(16)
    if kind == 19:
        return Releaser(fdp.ConsumeIntInRange(0, 200))
    return object()


def call(fn, fdp, words):
    args = [make_arg(fdp, words) for _ in range(fdp.ConsumeIntInRange(0, 3))]
    kwargs = {}
    for _ in range(fdp.ConsumeIntInRange(0, 2)):
        kwargs[fdp.PickValueInList(KEYWORDS)] = make_arg(fdp, words)
    return fn(*args, **kwargs)


def check_error(error):
    if isinstance(error, RuntimeError):
        if str(error) != "failed to decode after recovery":
            raise error
    elif not isinstance(error, ALLOWED) or isinstance(error, SystemError):
        raise error


def check_word(codec, word, words):
    """A word that encode returned reads back through decode and recover."""
    assert type(word) is str, type(word)
    try:
        decoded = codec.decode(word)
        assert type(decoded) is bytes and len(decoded) == 16
        if "mode='plain'" not in repr(codec):
            assert codec.recover(word) == decoded
    except Exception as error:  # an allowed type here is still a fault
        raise AssertionError(f"{word!r} does not read back: {error!r}") from error
    if len(words) < 16:
        words.append(word)


def TestOneInput(data):
    fdp = atheris.FuzzedDataProvider(data)
    pool = [tavik.Tavik(b"fuzz key"), tavik.Tavik(mode="plain"),
            tavik.Tavik(b"k", level="ko", mode="open", bit_width=64)]
    words = []
    for _ in range(fdp.ConsumeIntInRange(1, 12)):
        op = fdp.ConsumeIntInRange(0, 3)
        codec = fdp.PickValueInList(pool)
        try:
            if op == 0:
                result = call(tavik.Tavik, fdp, words)
                assert type(result) is tavik.Tavik
                pool.append(result)
            elif op == 1:
                name = fdp.PickValueInList(METHODS)
                result = call(getattr(codec, name), fdp, words)
                if name.startswith("with_"):
                    assert type(result) is tavik.Tavik
                    pool.append(result)
                elif name == "encode":
                    check_word(codec, result, words)
                else:
                    assert type(result) is bytes and len(result) == 16
            elif op == 2:
                check_word(codec, codec.encode(fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 20))),
                           words)
            else:
                text = make_arg(fdp, words)
                if isinstance(text, str):
                    codec.decode(text)
                    codec.recover(text)
            repr(codec)
        except Exception as error:  # noqa: BLE001 - sorted by check_error
            check_error(error)
        del pool[8:]


def main():
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
