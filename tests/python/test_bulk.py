"""encode_many, decode_many and recover_many: every item's result is the single call's, for
random configurations, at batch and lane boundaries, with failures anywhere."""

import itertools
import random
import sys
import threading
import tracemalloc

import pytest

from tavik import Tavik

KEY = b"bulk key of the suite"


def random_codec(rng):
    codec = Tavik(
        rng.choice([KEY, b"k", bytes(range(70))]) if rng.random() < 0.8 else None,
        rng.choice(["universal", "eu", "en", "numeric", "ko"]),
        "plain",
        rng.randrange(16, 129),
    )
    mode = rng.choice(["sealed", "open", "plain"])
    if mode != "plain":
        codec = Tavik(KEY, rng.choice(["universal", "eu", "ko"]), mode, rng.randrange(16, 129))
    step = rng.randrange(6)
    if step == 0:
        codec = codec.with_modulus(rng.choice([10**6, 2**20 + 4112, 3, 2**127 + 1]))
    elif step == 1:
        codec = codec.with_cipher(rng.choice(["feistel", "shuffle"]), rng.choice([None, b"c"]))
    codec = codec.with_check_syllables(rng.randrange(1, 9))
    layout = rng.randrange(4)
    if layout == 0:
        codec = codec.with_chunk_fixed(rng.randrange(8))
    elif layout == 1:
        codec = codec.with_separator(rng.choice([" ", "\u00b7", "\0"]))
    elif layout == 2:
        codec = codec.with_chunk_pattern([rng.randrange(4) for _ in range(rng.randrange(5))])
    return codec.with_case(rng.choice(["upper", "lower"]))


def single(call, item):
    try:
        return call(item)
    except (ValueError, TypeError, RuntimeError) as error:
        return error


def damaged(rng, word):
    """The word with one confused ending, a letter dropped, or as it is."""
    roll = rng.random()
    if roll < 0.3 and "l" in word.lower():
        at = word.lower().index("l")
        return word[:at] + ("R" if word[at] == "L" else "r") + word[at + 1:]
    if roll < 0.5 and word:
        at = rng.randrange(len(word))
        return word[:at] + word[at + 1:]
    return word


def check_same(codec, rng, n):
    items = [bytes(rng.randrange(256) for _ in range(rng.randrange(20))) for _ in range(n)]
    expected = [single(codec.encode, item) for item in items]
    got = codec.encode_many(items, errors="none")
    assert got == [None if isinstance(e, Exception) else e for e in expected]
    words = [damaged(rng, w) if isinstance(w, str) else "junk" for w in expected]
    for method in ("decode", "recover"):
        want = [single(getattr(codec, method), w) for w in words]
        got = getattr(codec, method + "_many")(words, errors="none")
        assert got == [None if isinstance(e, Exception) else e for e in want], method
        first_failure = next((i for i, e in enumerate(want) if isinstance(e, Exception)), None)
        if first_failure is None:
            assert getattr(codec, method + "_many")(words) == want
        else:
            with pytest.raises(type(want[first_failure])) as excinfo:
                getattr(codec, method + "_many")(words)
            assert str(excinfo.value) == str(want[first_failure])
            assert excinfo.value.__notes__[-1] == f"while processing item {first_failure} of 'words'"


def test_every_item_is_the_single_calls_result_for_random_configurations():
    rng = random.Random(7)
    for _ in range(60):
        check_same(random_codec(rng), rng, rng.randrange(1, 60))


@pytest.mark.parametrize("n", [0, 1, 3, 4, 5, 511, 512, 513, 1023, 1024, 1025])
def test_lane_and_batch_boundaries(n):
    rng = random.Random(n)
    check_same(Tavik(KEY).with_check_syllables(2), rng, n)


@pytest.mark.parametrize("where", ["first", "middle", "last"])
def test_the_first_failure_raises_the_single_calls_exception_with_its_index(where):
    codec = Tavik(KEY).with_modulus(1000)
    items = [(i % 1000).to_bytes(2, "big") for i in range(700)]
    at = {"first": 0, "middle": 350, "last": 699}[where]
    items[at] = (1000).to_bytes(2, "big")
    items[-1 if where != "last" else 0] = b"\xff\xff"  # a later (or earlier) failure too
    if where == "last":
        items[0] = b"\x00\x01"
    with pytest.raises(ValueError, match="value must be below the modulus") as excinfo:
        codec.encode_many(items)
    assert excinfo.value.__notes__ == [f"while processing item {at} of 'items'"]
    # An item of the wrong type raises encode's TypeError, with its note and the index.
    with pytest.raises(TypeError, match="data must be bytes") as excinfo:
        codec.encode_many([b"\x00\x01"] * at + [bytearray(2)])
    assert excinfo.value.__notes__ == ["while processing 'data'", f"while processing item {at} of 'items'"]
    got = codec.encode_many(items[:at] + [bytearray(2)] + items[at + 1:], errors="none")
    assert got[at] is None and got[:at] == codec.encode_many(items[:at])


def test_a_buffer_holds_identifiers_of_the_codecs_byte_count():
    codec = Tavik(KEY, bit_width=64)
    records = [bytes([i] * 8) for i in range(10)]
    joined = b"".join(records)
    want = [codec.encode(r) for r in records]
    for form in (joined, bytearray(joined), memoryview(joined)):
        assert codec.encode_many(form) == want
    with pytest.raises(ValueError, match="does not hold whole identifiers of 8 bytes") as excinfo:
        codec.encode_many(joined[:-1])
    assert excinfo.value.__notes__ == ["while processing 'items'"]
    wide = Tavik(KEY).with_modulus(10**6)  # 20 bits: records of 3 bytes
    assert wide.encode_many(bytes(9)) == [wide.encode(bytes(3))] * 3


def test_numpy_arrays_go_in_and_come_out_without_copies():
    numpy = pytest.importorskip("numpy")
    codec = Tavik(KEY)
    ids = numpy.random.default_rng(3).integers(0, 256, size=(100, 16), dtype=numpy.uint8)
    words = codec.encode_many(ids)
    assert words == [codec.encode(bytes(row)) for row in ids]
    buffer = codec.decode_many(words, as_buffer=True)
    view = numpy.frombuffer(buffer, dtype=numpy.uint8).reshape(-1, 16)
    assert (view == ids).all()
    view[0, 0] ^= 1  # a view, not a copy
    assert buffer[0] == ids[0, 0] ^ 1


def test_a_buffer_of_anything_but_bytes_or_whole_records_is_refused():
    numpy = pytest.importorskip("numpy")
    import array
    codec = Tavik(KEY)
    raw = numpy.random.default_rng(5).integers(0, 256, size=(4, 16), dtype=numpy.uint8)
    want = [codec.encode(bytes(row)) for row in raw]
    for form in (raw, raw.view(numpy.int8), raw.view("V16"), raw.view("S16").ravel(),
                 memoryview(raw.tobytes()).cast("c")):
        assert codec.encode_many(form) == want
    # Heap pointers, text, numbers and records of another size are no identifiers.
    uuids = numpy.array(["123e4567-e89b-12d3-a456-426614174000"] * 2)
    for form, format in ((numpy.array([bytes(16)] * 4, dtype=object), "O"), (uuids, "36w"),
                         (array.array("w" if sys.version_info >= (3, 13) else "u", "x" * 16), "w"), (numpy.zeros(8, "f8"), "d"),
                         (numpy.zeros(8, "S8"), "8s"), (array.array("I", [0] * 8), "I")):
        with pytest.raises(TypeError, match=f"not of format '{format}'") as excinfo:
            codec.encode_many(form)
        assert excinfo.value.__notes__ == ["while processing 'items'"]


def test_failures_with_errors_none_and_a_buffer_come_with_their_indices():
    codec = Tavik(KEY)
    words = codec.encode_many([bytes([i]) * 16 for i in range(5)])
    words[1] = "MAMA"
    words[3] = words[3][:-1] + ("A" if words[3][-1] != "A" else "E")
    buffer, failed = codec.decode_many(words, errors="none", as_buffer=True)
    assert failed == [1, 3]
    assert bytes(buffer[16:32]) == bytes(16) and bytes(buffer[48:64]) == bytes(16)
    assert bytes(buffer[:16]) == bytes(16) and bytes(buffer[64:]) == bytes([4]) * 16
    buffer, failed = codec.recover_many(words[:1], errors="none", as_buffer=True)
    assert (bytes(buffer), failed) == (bytes(16), [])


def test_arguments_are_checked_like_every_method():
    codec = Tavik(KEY)
    with pytest.raises(ValueError, match="errors must be 'raise' or 'none'"):
        codec.decode_many([], errors="ignore")
    with pytest.raises(TypeError) as excinfo:
        codec.decode_many("ABCD")
    assert excinfo.value.__notes__ == ["while processing 'words'"]
    with pytest.raises(TypeError):
        codec.encode_many(5)
    with pytest.raises(TypeError):
        codec.encode_many([], "none", 3)
    assert codec.decode_many(iter([])) == [] and codec.encode_many(b"") == []
    with pytest.raises(ValueError, match="recovery not supported in plain mode"):
        Tavik(mode="plain").recover_many(["MAMA"])


def test_iteration_errors_and_interrupts_propagate(raise_after):
    codec = Tavik(KEY)

    class Broken(Exception):
        pass

    def failing():
        yield b"x"
        raise Broken

    with pytest.raises(Broken):
        codec.encode_many(failing(), errors="none")

    raise_after(0.2, KeyboardInterrupt)
    with pytest.raises(KeyboardInterrupt):
        codec.encode_many(itertools.repeat(b"x"))  # runs no Python code between items


@pytest.mark.parametrize("method", ["encode_many", "decode_many", "recover_many"])
def test_the_first_failure_in_item_order_wins_over_the_iterators_error(method):
    codec = Tavik(KEY).with_modulus(10**6)
    good = bytes(3) if method == "encode_many" else codec.encode(bytes(3))
    bad = {"encode_many": b"\xff" * 3, "decode_many": "NOT A WORD", "recover_many": "NOT A WORD"}
    single = getattr(codec, method.removesuffix("_many"))
    for at in (0, 5, 511, 512, 700):
        for item in (bad[method], 7):
            def items():
                yield from [good] * at + [item] + [good] * 3
                raise KeyError("the iterator's own")
            with pytest.raises(Exception) as want:
                single(item)
            with pytest.raises(type(want.value)) as excinfo:
                getattr(codec, method)(items())
            assert str(excinfo.value) == str(want.value)
            assert excinfo.value.__notes__[-1] == f"while processing item {at} of " + (
                "'items'" if method == "encode_many" else "'words'")


@pytest.mark.parametrize("method", ["encode_many", "decode_many"])
def test_an_iterator_is_read_to_the_end_of_the_failing_items_batch_whatever_the_failure(method):
    codec = Tavik(KEY).with_modulus(10**6)
    good = bytes(3) if method == "encode_many" else codec.encode(bytes(3))
    bad_value = b"\xff" * 3 if method == "encode_many" else "NOT A WORD"
    for at, batch_end in ((3, 512), (511, 512), (512, 1024), (1500, 1536)):
        for bad in (bad_value, 7):  # the core's ValueError, the conversion's TypeError
            items = iter([good] * at + [bad] + [good] * 2000)
            with pytest.raises((ValueError, TypeError)):
                getattr(codec, method)(items)
            assert len(list(items)) == at + 2001 - batch_end, (at, bad)


def test_a_bulk_call_from_inside_another_gets_its_own_buffers():
    codec = Tavik(KEY)
    inner_words = []

    def items():
        for i in range(600):
            if i % 100 == 0:
                inner_words.append(codec.encode_many([bytes([i % 256]) * 16] * 3))
            yield bytes([i % 256]) * 16

    outer = codec.encode_many(items())
    assert outer == [codec.encode(bytes([i % 256]) * 16) for i in range(600)]
    assert all(w == [codec.encode(bytes([i * 100 % 256]) * 16)] * 3 for i, w in enumerate(inner_words))


def test_threads_mixing_bulk_and_single_calls_on_one_codec_agree():
    codec = Tavik(KEY).with_check_syllables(2)
    ids = [bytes(random.Random(i).randbytes(16)) for i in range(3000)]
    words = [codec.encode(i) for i in ids]
    failures = []

    def work(seed):
        rng = random.Random(seed)
        for _ in range(20):
            start = rng.randrange(len(ids) - 600)
            part = slice(start, start + rng.randrange(1, 600))
            if codec.encode_many(ids[part]) != words[part] or codec.decode_many(words[part]) != ids[part]:
                failures.append(seed)
            if codec.decode(words[start]) != ids[start]:
                failures.append(seed)

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


def test_python_objects_made_per_item_are_the_results_alone():
    # Traced by the interpreter's allocators: the blocks a call leaves are its results and their
    # list, and its peak stays near them (no temporary object or copy per item on the way).
    codec = Tavik(KEY)
    ids = [i.to_bytes(16, "big") for i in range(5000)]
    words = codec.encode_many(ids)
    buffer = b"".join(ids)
    for call in (lambda: codec.encode_many(ids), lambda: codec.decode_many(words),
                 lambda: codec.encode_many(buffer)):
        call()
        tracemalloc.start()
        try:
            result = call()
            current, peak = tracemalloc.get_traced_memory()
            made = sum(stat.count for stat in tracemalloc.take_snapshot().statistics("filename"))
        finally:
            tracemalloc.stop()
        assert len(ids) <= made <= len(ids) + 8
        assert peak <= current + 64 * 1024
        del result
