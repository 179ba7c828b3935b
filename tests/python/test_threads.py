"""Threads sharing one object and the objects derived from it, calling every method at random:
every result, error or not, equals the result of the same call made by one thread."""

import random
import subprocess
import sys
import threading

import pytest

from tavik import Tavik

KEY = b"stress key"
DATA = bytes(range(16))
NUM_THREADS = 6
CALLS_PER_THREAD = 1500


def build_calls(objects, rng, count):
    """(object index, method name, args) for every method, with good and bad arguments."""
    words = [obj.encode(DATA) for obj in objects]
    choices = [
        ("with_bit_width", lambda: (rng.choice([8, 16, 64, 127, 200, -1, "x"]),)),
        ("with_modulus", lambda: (rng.choice([2, 1000, 10**12, 2**20 + 4112, 1, 2**130]),)),
        ("with_cipher", lambda: (rng.choice(["feistel", "shuffle", "aes"]), rng.choice([None, b"k"]))),
        ("with_case", lambda: (rng.choice(["upper", "lower", "Upper"]),)),
        ("with_check_syllables", lambda: (rng.choice([0, 1, 3, 8, 9, -1]),)),
        ("with_separator", lambda: (rng.choice(["_", " ", "\u20ac", "", "a", "\U0001F600"]),)),
        ("with_chunk_none", lambda: ()),
        ("with_chunk_fixed", lambda: (rng.choice([0, 3, 5, 2**64 - 1]),)),
        ("with_chunk_pattern", lambda: (rng.choice([[], [2, 3], range(10**9), [1, -1], "12"]),)),
        ("with_timestamp_config", lambda: (rng.choice([0, -(2**63), 2**63 - 1]),
                                           rng.choice(["second", "week", "month", "year"]))),
        ("encode", lambda: (rng.randbytes(rng.choice([0, 3, 16, 20])),)),
        ("decode", lambda: (rng.choice(words) if rng.random() < 0.7 else rng.choice(["", "MAMA", "x\udc00"]),)),
        ("recover", lambda: (typo(rng, rng.choice(words)),)),
    ]
    calls = []
    for _ in range(count):
        name, make_args = rng.choice(choices)
        calls.append((rng.randrange(len(objects)), name, make_args()))
    return calls


def typo(rng, word):
    i = rng.randrange(len(word))
    return word[:i] + rng.choice("MSKBGDAEIOU") + word[i + 1:]


def outcome(objects, call):
    index, name, args = call
    try:
        result = getattr(objects[index], name)(*args)
    except Exception as error:  # every error is part of the outcome
        return (type(error).__name__, str(error), getattr(error, "__notes__", None))
    if isinstance(result, Tavik):
        return ("Tavik", repr(result), result.encode(b"\x00\x01"))  # 1 fits every domain
    return result


@pytest.fixture
def fast_switching():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def test_threads_calling_every_method_see_single_threaded_results(fast_switching):
    base = Tavik(KEY, mode="open")
    objects = [base, base.with_bit_width(64), base.with_modulus(10**12),
               base.with_case("lower").with_separator(" "),
               base.with_separator("\u00b7").with_check_syllables(4),
               base.with_chunk_pattern([2, 5]), Tavik(mode="plain", level="numeric"),
               base.with_cipher("shuffle")]
    calls = build_calls(objects, random.Random(7), 2 * CALLS_PER_THREAD)
    expected = [outcome(objects, call) for call in calls]

    results = [None] * NUM_THREADS
    barrier = threading.Barrier(NUM_THREADS)

    def run(slot):
        # Threads run in pairs over the same calls in the same order, so that the same call on
        # the same object is often in progress on two threads at once.
        order = list(range(len(calls)))
        random.Random(slot // 2).shuffle(order)
        barrier.wait()
        results[slot] = {i: outcome(objects, calls[i]) for i in order[:CALLS_PER_THREAD]}

    threads = [threading.Thread(target=run, args=(slot,)) for slot in range(NUM_THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for seen in results:
        assert seen is not None, "a thread failed"
        for i, got in seen.items():
            assert got == expected[i], calls[i]


# Daemon threads still inside bulk calls when the main thread returns: at finalization the
# interpreter ends each of them (with a forced unwinding on CPython 3.11 to 3.13) as it retakes
# the interpreter lock, after a batch was hashed without it or inside an iterator that released
# it (a builder's pattern too). The program must exit as it would without them.
EXIT_WITH_BULK_THREADS = """
import random, sys, threading, time
from tavik import Tavik

codec = Tavik(b"exit key")
seed, kind = int(sys.argv[1]), sys.argv[2]
rng = random.Random(seed)
block = bytes(rng.randrange(256) for _ in range(4096)) * 4096     # 16 MB, a million UUIDs
words = codec.encode_many(block[:16 * 20000])

def releasing(items):
    for i, item in enumerate(items):
        if i % 64 == 0:
            time.sleep(0)                      # lets go of the lock inside the bulk call
        yield item

calls = {
    "encode_buffer": lambda: codec.encode_many(block),
    "encode_iterator": lambda: codec.encode_many(releasing(
        block[i:i + 16] for i in range(0, len(block), 16))),
    "decode": lambda: codec.decode_many(words * 20, as_buffer=True),
    "recover": lambda: codec.recover_many(releasing(words)),
}
class Pattern(list):
    def __iter__(self):
        return releasing(list.__iter__(self))

calls["pattern"] = lambda: codec.with_chunk_pattern(Pattern([3, 4] * 50000))
chosen = list(calls) if kind == "mixed" else [kind]

def loop(call):
    while True:
        call()

for i in range(4):
    threading.Thread(target=loop, args=(calls[chosen[i % len(chosen)]],), daemon=True).start()
time.sleep(rng.uniform(0.2, 0.8))
"""


@pytest.mark.parametrize("kind", ["encode_buffer", "encode_iterator", "decode", "recover",
                                  "pattern", "mixed", "mixed", "mixed"])
def test_daemon_threads_inside_bulk_calls_let_the_program_exit(kind, tmp_path):
    script = tmp_path / "exit_with_bulk_threads.py"
    script.write_text(EXIT_WITH_BULK_THREADS)
    for seed in range(2):
        result = subprocess.run([sys.executable, str(script), str(seed), kind],
                                capture_output=True, text=True, timeout=120)
        assert (result.returncode, result.stderr) == (0, ""), (kind, seed, result.stderr)
