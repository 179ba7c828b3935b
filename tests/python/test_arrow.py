"""The bulk methods over Arrow columns: every type in and out, chunks, slices, nulls, failures,
malformed arrays, and results that outlive their input; each item equals the single call's."""

import gc
import os
import random
import sys
import uuid

import pytest

from tavik import Tavik

pa = pytest.importorskip("pyarrow", reason="pyarrow is not installed (the test extra installs it)")

KEY = b"arrow key of the suite"
RNG = random.Random(18)
IDS = [RNG.randbytes(16) for _ in range(40)]

BINARY_TYPES = [pa.binary(16), pa.binary(), pa.large_binary(), pa.binary_view()]
STRING_TYPES = [pa.string(), pa.large_string(), pa.string_view()]


def with_nulls(values, every=7):
    return [None if i % every == 3 else v for i, v in enumerate(values)]


def sliced(values, type_):
    """An array of `values` that is the slice of a longer one, so its offset is not 0."""
    return pa.array([values[-1]] * 5 + values, type_).slice(5)


def single(call, items):
    """What the single call gives each item: its result, None for a null, or the exception."""
    out = []
    for item in items:
        if item is None:
            out.append(None)
            continue
        try:
            out.append(call(item))
        except ValueError as error:
            out.append(error)
    return out


@pytest.mark.parametrize("type_", BINARY_TYPES + STRING_TYPES + ["uuid"], ids=str)
@pytest.mark.parametrize("bit_width", [128, 64])
def test_encode_reads_every_type_as_the_single_call(type_, bit_width):
    codec = Tavik(KEY, bit_width=bit_width)
    ids = with_nulls(IDS)
    if type_ in STRING_TYPES:
        # Either form of UUID text, in either case.
        items = [None if b is None else (str(uuid.UUID(bytes=b)) if i % 2 else b.hex().upper())
                 for i, b in enumerate(ids)]
        want = single(codec.encode, ids)
    else:
        # Short items for the variable-size types (a view holds up to 12 bytes inline).
        items = [b if b is None or type_ == pa.binary(16) or type_ == "uuid" or i % 3 else b[:9]
                 for i, b in enumerate(ids)]
        want = single(codec.encode, items)
        if type_ == "uuid":
            if not hasattr(pa, "uuid"):
                pytest.skip("this pyarrow has no arrow.uuid type")
            type_ = pa.uuid()
    column = codec.encode_many(sliced(items, type_))
    assert len(column) == len(items)
    assert pa.array(column).type == pa.string()
    assert pa.array(column).to_pylist() == want


@pytest.mark.parametrize("type_", STRING_TYPES, ids=str)
@pytest.mark.parametrize("method", ["decode", "recover"])
def test_decode_and_recover_read_every_string_type_as_the_single_call(type_, method):
    codec = Tavik(KEY).with_check_syllables(2)
    words = codec.encode_many(IDS)
    words[5] = words[5][:-1]  # fails decode; recover may mend it
    words[9] = "NOT A WORD"
    words[11] = words[11].lower()
    words = with_nulls(words)
    want = single(getattr(codec, method), words)
    got = getattr(codec, f"{method}_many")(sliced(words, type_), errors="none")
    assert pa.array(got).type == pa.binary(16)
    assert pa.array(got).to_pylist() == [None if isinstance(w, ValueError) else w for w in want]
    first = next(i for i, w in enumerate(want) if isinstance(w, ValueError))
    with pytest.raises(ValueError) as excinfo:
        getattr(codec, f"{method}_many")(sliced(words, type_))
    assert str(excinfo.value) == str(want[first])
    assert excinfo.value.__notes__[-1] == f"while processing item {first} of 'words'"


def test_results_are_exported_in_the_forms_asked_for():
    codec = Tavik(KEY)
    ids = with_nulls(IDS)
    words = codec.encode_many(pa.array(ids, pa.binary(16)))
    want = single(codec.encode, ids)
    for type_ in STRING_TYPES:
        assert pa.array(words, type=type_).to_pylist() == want
    back = codec.decode_many(words)
    text = [None if b is None else str(uuid.UUID(bytes=b)) for b in ids]
    for type_ in STRING_TYPES:
        assert pa.array(back, type=type_).to_pylist() == text
    assert pa.array(back.uuid_text()).to_pylist() == text
    assert pa.chunked_array(back.uuid_text()).to_pylist() == text  # through the stream
    assert pa.array(back).to_pylist() == ids
    with pytest.raises(TypeError, match="uuid_text needs a column of identifiers"):
        words.uuid_text()


def test_chunked_input_with_empty_single_and_long_chunks():
    codec = Tavik(KEY)
    ids = [RNG.randbytes(16) for _ in range(513 + 1 + 513)]
    ids[700] = None
    cuts = [0, 0, 1, 514, 514, len(ids)]  # chunks of 0, 1, 513, 0, 513 items
    chunked = pa.chunked_array([pa.array(ids[a:b], pa.binary(16)) for a, b in zip(cuts, cuts[1:])],
                               pa.binary(16))
    words = codec.encode_many(chunked)
    assert pa.chunked_array(words).to_pylist() == single(codec.encode, ids)
    bad = pa.chunked_array(words).to_pylist()
    bad[900] = "NOT A WORD"
    text_chunks = pa.chunked_array(
        [pa.array(bad[a:b], pa.string()) for a, b in zip(cuts, cuts[1:])], pa.string())
    with pytest.raises(ValueError) as excinfo:
        codec.decode_many(text_chunks)
    assert excinfo.value.__notes__ == ["while processing item 900 of 'words'"]
    back = pa.array(codec.decode_many(text_chunks, errors="none")).to_pylist()
    assert back == [None if i in (700, 900) else b for i, b in enumerate(ids)]
    assert len(codec.encode_many(pa.chunked_array([], pa.binary(16)))) == 0


def test_failures_raise_in_item_order_or_give_nulls():
    codec = Tavik(KEY).with_modulus(1000)
    items = pa.array([(5).to_bytes(2, "big"), None, (1000).to_bytes(2, "big"), b"\xff\xff"],
                     pa.binary())
    with pytest.raises(ValueError, match="below the modulus") as excinfo:
        codec.encode_many(items)
    assert excinfo.value.__notes__ == ["while processing item 2 of 'items'"]
    assert pa.array(codec.encode_many(items, errors="none")).to_pylist() == [
        codec.encode((5).to_bytes(2, "big")), None, None, None]
    # UUID text that fails its parse before a later item that fails the cipher.
    text = pa.array(["0" * 32, "{" + "0" * 32 + "}", "g" * 32,
                     "0" * 8 + "-0000" * 3 + "-" + "0" * 12])
    with pytest.raises(ValueError, match="UUID text must be") as excinfo:
        Tavik(KEY).encode_many(text)
    assert excinfo.value.__notes__ == ["while processing item 1 of 'items'"]
    assert pa.array(Tavik(KEY).encode_many(text, errors="none")).null_count == 2


def test_invalid_utf8_fails_its_item():
    codec = Tavik(KEY)
    word = codec.encode(IDS[0]).encode()
    # The letters of a valid word around a stray continuation byte, an overlong "/", a
    # surrogate and a truncated sequence: each fails, though the letters alone would decode.
    bad = [word + b"\x80", word + b"\xc0\xaf", word + b"\xed\xa0\x80", word + b"\xe2\x82"]
    items = [word] + bad + [word + " \u00e9".encode()]
    data = b"".join(items)
    offsets = [0]
    for item in items:
        offsets.append(offsets[-1] + len(item))
    array = pa.StringArray.from_buffers(len(items), pa.array(offsets, pa.int32()).buffers()[1],
                                        pa.py_buffer(data))
    got = pa.array(codec.decode_many(array, errors="none")).to_pylist()
    assert got == [IDS[0], None, None, None, None, IDS[0]]
    with pytest.raises(ValueError, match="not valid UTF-8") as excinfo:
        codec.decode_many(array)
    assert excinfo.value.__notes__ == ["while processing item 1 of 'words'"]


def test_results_outlive_their_input_and_exports_outlive_the_result():
    codec = Tavik(KEY)
    words = codec.encode_many(pa.array(IDS, pa.binary(16)))
    back = codec.decode_many(pa.array(words))
    gc.collect()
    exported = pa.array(words, type=pa.string_view())
    identifiers = pa.array(back)
    del words, back
    gc.collect()
    assert exported.to_pylist() == [codec.encode(b) for b in IDS]
    assert identifiers.to_pylist() == IDS


def test_columns_of_other_types_are_refused():
    codec = Tavik(KEY)
    with pytest.raises(TypeError, match="not an Arrow column of format 'l'") as excinfo:
        codec.encode_many(pa.array([1, 2]))
    assert excinfo.value.__notes__ == ["while processing 'items'"]
    with pytest.raises(TypeError, match="dictionary-encoded"):
        codec.decode_many(pa.array(["a", "a"]).dictionary_encode())
    with pytest.raises(TypeError, match="words must be a column of string"):
        codec.decode_many(pa.array(IDS, pa.binary(16)))
    with pytest.raises(TypeError, match="format '\\+s'"):
        codec.encode_many(pa.table({"a": IDS, "b": IDS}))
    with pytest.raises(ValueError, match="as_buffer=True does not apply"):
        codec.decode_many(pa.array(["x"]), as_buffer=True)
    # A table of one column is that column.
    table = pa.table({"id": IDS}).slice(3, 5)
    assert pa.array(codec.encode_many(table)).to_pylist() == [codec.encode(b) for b in IDS[3:8]]


def test_malformed_arrays_are_refused_not_read_out_of_bounds():
    codec = Tavik(KEY)
    data = pa.py_buffer(b"x" * 64)
    backwards = pa.array([0, 40, 20], pa.int32()).buffers()[1]
    array = pa.StringArray.from_buffers(2, backwards, data)
    with pytest.raises(ValueError, match="malformed Arrow array"):
        codec.decode_many(array, errors="none")
    # An item that fails before the malformed one is the first failure.
    with pytest.raises(ValueError, match="input normalization failed"):
        codec.decode_many(array)
    # A view that points past its data buffer.
    view = b"".join(n.to_bytes(4, "little") for n in (40, 0x78787878, 0, 30))
    array = pa.Array.from_buffers(pa.string_view(), 1, [None, pa.py_buffer(view), data])
    with pytest.raises(ValueError, match="malformed Arrow array") as excinfo:
        codec.decode_many(array, errors="none")
    assert excinfo.value.__notes__ == ["while processing item 0 of 'words'"]


def test_str_items_are_uuid_text():
    codec = Tavik(KEY)
    u = uuid.UUID(bytes=IDS[0])
    same = [str(u), u.hex, str(u).upper(), IDS[0]]
    assert codec.encode_many(same) == [codec.encode(u.bytes)] * 4
    bad = [str(u)[:-1], "{" + str(u) + "}", str(u).replace("-", "_"), u.hex[:-1] + "\u0660",
           u.hex[:8] + "-" + u.hex[8:], ""]
    assert codec.encode_many(bad, errors="none") == [None] * len(bad)
    with pytest.raises(ValueError, match="UUID text must be") as excinfo:
        codec.encode_many([u.bytes, bad[3]])
    assert excinfo.value.__notes__ == ["while processing 'data'",
                                       "while processing item 1 of 'items'"]


def test_polars_series_in_and_out():
    pl = pytest.importorskip("polars",
                             reason="polars is not installed (the test extra installs it)")
    codec = Tavik(KEY)
    text = [str(uuid.UUID(bytes=b)) for b in IDS]
    series = pl.concat([pl.Series(text[:3]), pl.Series(text[3:])], rechunk=False)
    words = pl.Series(codec.encode_many(series))
    assert words.to_list() == [codec.encode(b) for b in IDS]
    assert pl.Series(codec.decode_many(words).uuid_text()).to_list() == text


def test_a_stream_that_calls_the_codec_or_fails_while_it_is_read():
    codec = Tavik(KEY)
    schema = pa.schema([("id", pa.binary(16))])

    def batches():
        for start in range(0, 40, 10):
            # A bulk call of the same thread while the outer one holds its batch.
            assert codec.encode_many(IDS[start:start + 10]) == [codec.encode(b)
                                                                for b in IDS[start:start + 10]]
            yield pa.record_batch([pa.array(IDS[start:start + 10], pa.binary(16))], schema=schema)

    reader = pa.RecordBatchReader.from_batches(schema, batches())
    assert pa.array(codec.encode_many(reader)).to_pylist() == [codec.encode(b) for b in IDS]

    def failing():
        yield pa.record_batch([pa.array(IDS[:3], pa.binary(16))], schema=schema)
        raise OSError("the disk went away")

    with pytest.raises(RuntimeError, match="the disk went away") as excinfo:
        codec.encode_many(pa.RecordBatchReader.from_batches(schema, failing()))
    assert excinfo.value.__notes__[-1] == "while processing 'items'"


def test_columns_and_their_exports_leak_nothing():
    # Exports taken and dropped, capsules never consumed, streams, failures: resident memory
    # stays flat, and the input's reference count comes back.
    rounds = int(os.environ.get("TAVIK_LEAK_ROUNDS", "1500")) // 3
    codec = Tavik(KEY)
    binary = pa.array(with_nulls(IDS), pa.binary(16))
    words = pa.array(codec.encode_many(binary))
    bad = pa.array(["NOT A WORD"] * 3)
    schema = pa.schema([("id", pa.binary(16))])

    def one_round():
        column = codec.encode_many(binary)
        pa.array(column, type=pa.string_view())
        column.__arrow_c_array__()
        column.__arrow_c_stream__()
        back = codec.decode_many(pa.chunked_array([words, words]))
        pa.chunked_array(back.uuid_text())
        pa.array(back, type=pa.large_string())
        batch = pa.record_batch([binary], schema=schema)
        codec.encode_many(pa.RecordBatchReader.from_batches(schema, [batch]))
        codec.decode_many(bad, errors="none")
        try:
            codec.recover_many(bad)
        except ValueError:
            pass

    for _ in range(50):
        one_round()
    gc.collect()
    refcount = sys.getrefcount(binary)
    before = rss_kib()
    for _ in range(rounds):
        one_round()
    gc.collect()
    assert sys.getrefcount(binary) == refcount
    if any(tool in os.environ.get("LD_PRELOAD", "") for tool in ("asan", "vgpreload")):
        return  # resident memory says nothing under a sanitizer or Valgrind
    grown = rss_kib() - before
    # A result of a few KiB a round: one kept would be over 1 MB.
    assert grown < 1024, f"resident memory grew by {grown} KiB"


def rss_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS")


def test_a_column_stands_where_the_list_stood():
    # A pandas Series exports Arrow: code that assigned the list encode_many gave must get the
    # words, not the column object in every row.
    pd = pytest.importorskip("pandas",
                             reason="pandas is not installed (the test extra installs it)")
    codec = Tavik(KEY)
    frame = pd.DataFrame({"id": pd.Series(with_nulls(IDS), dtype=object)})
    frame["word"] = codec.encode_many(frame["id"])
    assert [None if pd.isna(w) else w for w in frame["word"]] == single(codec.encode,
                                                                         with_nulls(IDS))
    back = codec.decode_many(pa.array(frame["word"]))
    assert list(back) == with_nulls(IDS) and back[-1] == IDS[-1]
    with pytest.raises(IndexError):
        back[len(IDS)]
