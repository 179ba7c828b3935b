"""Every method, on its success and error paths, many times over: the process's resident memory
stays flat and the arguments' reference counts come back to what they were."""

import gc
import os
import sys

from tavik import Keyring, Tavik

KEY = b"leak key"
ROUNDS = int(os.environ.get("TAVIK_LEAK_ROUNDS", "1500"))  # memcheck runs fewer


def rss_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS")


class Raises:
    def __index__(self):
        raise KeyError("index")

    def __len__(self):
        raise KeyError("len")

    def __getitem__(self, i):
        if i == 2:
            raise KeyError("item")
        return 1


def find_recover_failures(codec):
    """A word that recover corrects, one it finds ambiguous and one it rejects."""
    found = {}
    for n in range(2000):
        word = codec.encode(n.to_bytes(16, "big"))
        body = word[: word.rindex("-")]
        for i, c in enumerate(body):
            for sub in "MSKBGDJPWTNLRAEIOU":
                if sub == c or not c.isalpha():
                    continue
                typo = word[:i] + sub + word[i + 1:]
                try:
                    codec.recover(typo)
                    found.setdefault("corrected", typo)
                except ValueError as e:
                    found.setdefault(str(e).split(":")[0], typo)
            if {"corrected", "ambiguous", "reject"} <= found.keys():
                return {k: found[k] for k in ("corrected", "ambiguous", "reject")}
    raise AssertionError(f"only found {sorted(found)}")


def test_calls_of_every_kind_leak_nothing():
    sealed = Tavik(KEY)
    plain = Tavik(mode="plain")
    one_check = sealed.with_check_syllables(1)
    data = bytes(range(16))
    word = sealed.encode(data)
    plain_word = plain.encode(data)
    bad_check = word[:-2] + ("KA" if word[-2:] != "KA" else "MA")
    recover_inputs = find_recover_failures(one_check)
    pattern = [3, 4, 3]
    huge_range = range(10**12)
    surrogate = "MA\udcffMA"
    big = 2**200
    raises = Raises()
    names = ("universal", "open", "lower", "feistel", "day", "-", "none")
    other = Tavik(b"other leak key")
    not_a_word = "KA-AT"

    def expect(exc_type, fn, *args, **kwargs):
        try:
            fn(*args, **kwargs)
        except exc_type:
            return
        raise AssertionError(f"{fn} did not raise {exc_type.__name__}")

    def one_round():
        # constructor
        Tavik(KEY, "ko", "open", 64)
        Tavik(None, mode="plain")
        expect(ValueError, Tavik, KEY, level="xx")
        expect(ValueError, Tavik, KEY, mode="xx")
        expect(ValueError, Tavik)
        expect(ValueError, Tavik, b"")
        expect(TypeError, Tavik, "key")
        expect(OverflowError, Tavik, KEY, bit_width=big)
        expect(TypeError, Tavik, KEY, bit_width=1.5)
        expect(TypeError, Tavik, KEY, "universal", "sealed", 128, 5)
        expect(TypeError, Tavik, KEY, other=1)
        expect(UnicodeEncodeError, Tavik, KEY, level=surrogate)
        # builders
        sealed.with_bit_width(64)
        expect(OverflowError, sealed.with_bit_width, -1)
        expect(TypeError, sealed.with_bit_width, "64")
        expect(KeyError, sealed.with_bit_width, raises)
        sealed.with_modulus(10**12)
        expect(ValueError, sealed.with_modulus, 1)
        expect(OverflowError, sealed.with_modulus, big)
        sealed.with_cipher("feistel", KEY)
        sealed.with_cipher("shuffle")
        expect(ValueError, sealed.with_cipher, "aes")
        expect(TypeError, sealed.with_cipher, "feistel", "key")
        sealed.with_case("lower")
        expect(ValueError, sealed.with_case, "Upper")
        sealed.with_check_syllables(3)
        expect(OverflowError, sealed.with_check_syllables, -1)
        sealed.with_separator("\u20ac")
        expect(ValueError, sealed.with_separator, "")
        expect(ValueError, sealed.with_separator, "a")
        expect(UnicodeEncodeError, sealed.with_separator, surrogate)
        sealed.with_chunk_none()
        expect(TypeError, sealed.with_chunk_none, 1)
        sealed.with_chunk_fixed(4)
        expect(OverflowError, sealed.with_chunk_fixed, big)
        sealed.with_chunk_pattern(pattern)
        sealed.with_chunk_pattern(huge_range)
        expect(TypeError, sealed.with_chunk_pattern, "23")
        expect(TypeError, sealed.with_chunk_pattern, {1})
        expect(OverflowError, sealed.with_chunk_pattern, [1, -1])
        expect(KeyError, sealed.with_chunk_pattern, raises)
        sealed.with_timestamp_config(0, "day")
        expect(ValueError, sealed.with_timestamp_config, 0, "Day")
        expect(OverflowError, sealed.with_timestamp_config, big)
        expect(TypeError, sealed.with_timestamp_config, 0, None)
        # encode, decode, recover
        sealed.encode(data)
        expect(TypeError, sealed.encode, word)
        expect(ValueError, sealed.with_modulus(1000).encode, b"\xff\xff")
        sealed.decode(word)
        expect(ValueError, sealed.decode, "")
        expect(ValueError, sealed.decode, bad_check)
        expect(TypeError, sealed.decode, data)
        expect(UnicodeEncodeError, sealed.decode, surrogate)
        plain.decode(plain_word)
        sealed.recover(word)
        one_check.recover(recover_inputs["corrected"])
        expect(ValueError, one_check.recover, recover_inputs["ambiguous"])
        expect(ValueError, one_check.recover, recover_inputs["reject"])
        expect(ValueError, plain.recover, plain_word)
        expect(ValueError, sealed.recover, "123")
        expect(UnicodeEncodeError, sealed.recover, surrogate)
        repr(sealed)
        repr(sealed.with_chunk_pattern(huge_range))
        # the keyring, and the notes of the failures
        ring = Keyring([other, sealed])
        ring.decode(word)
        ring.recover(word)
        ring.codecs
        ring.decode_many([word, not_a_word], "none")
        ring.rekey_many([word])
        expect(ValueError, ring.decode, bad_check)
        expect(ValueError, ring.recover, not_a_word)
        expect(ValueError, ring.rekey_many, [word, not_a_word])
        expect(TypeError, Keyring, [sealed, word])
        expect(ValueError, Keyring, [sealed, plain])

    arguments = [KEY, data, word, plain_word, bad_check, pattern, huge_range, surrogate, big,
                 raises, *recover_inputs.values(), *names, sealed, plain, other, not_a_word]
    for _ in range(100):
        one_round()
    gc.collect()
    refcounts = [sys.getrefcount(a) for a in arguments]
    before = rss_kib()
    for _ in range(ROUNDS):
        one_round()
    gc.collect()
    grown = rss_kib() - before
    assert [sys.getrefcount(a) for a in arguments] == refcounts
    preload = os.environ.get("LD_PRELOAD", "")
    if "asan" in preload or "vgpreload" in preload:
        # AddressSanitizer keeps freed blocks in quarantine and Valgrind allocates for itself:
        # resident memory says nothing under them.
        return
    # About 70 calls a round: a leak of one small block per call would be over 3 MB.
    assert grown < 1024, f"resident memory grew by {grown} KiB"
