"""Benchmark of the bulk methods over Arrow columns, against the buffer path and the Python loop.

Each figure is the median over rounds of the CPU time per row of the calling thread (the calls
release the interpreter lock per batch but run in that thread; a shared machine's load moves
wall times several-fold, CPU times little); every ratio is taken within a round,
its two sides timed back to back, so that load on a shared machine moves both alike.

- encode: a fixed_size_binary(16) column against one buffer of the same identifiers (today's
  buffer path), and a string column of UUID text against the binary column;
- decode: a string column of words to fixed_size_binary(16), against decode_many of the same
  words as a list with as_buffer=True, and to UUID text (uuid_text()) against that;
- pandas: encode_many(df.id) of a column of UUID strings (pandas' Arrow-backed str, and a plain
  object column) against the loop codec.encode_many(uuid.UUID(s).bytes for s in df.id), and
  the words back to UUID text against str(uuid.UUID(bytes=b)) over decode_many's list;
- the form of a column of words: built and exported as string (32-bit offsets) or as
  string_view, each taken by pyarrow and by Polars;
- allocations (tracemalloc): the peak during encode_many of a column, less the result's own
  buffers (traced after the call, the result still alive), for two numbers of rows.

    python bench/arrow_bench.py [--rounds N] [--rows N] [--pandas-rows N] [--out FILE]
"""

from __future__ import annotations

import argparse
import gc
import platform
import statistics
import subprocess
import time
import tracemalloc
import uuid

import pandas as pd
import polars as pl
import pyarrow as pa

import tavik

KEY = b"benchmark key of 32 bytes, fixed"


def identifiers(rows: int) -> bytes:
    """rows version 4 UUIDs, 16 bytes each, from a fixed sequence."""
    step = 0x9E3779B97F4A7C15F39CC0605CEDC834
    return b"".join(((step * (i + 1)) % 2**128).to_bytes(16, "big") for i in range(rows))


def timed(fn) -> float:
    gc.collect()
    start = time.thread_time()
    fn()
    return time.thread_time() - start


def processor() -> str:
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return platform.processor() or platform.machine()
    fields = dict(line.split(":", 1) for line in out.splitlines() if ":" in line)
    name = fields.get("Model name", "?").strip()
    cpus = fields.get("CPU(s)", "?").strip()
    flags = fields.get("Flags", "").split()
    extensions = [label for flag, label in (("sha_ni", "SHA-NI"), ("avx512f", "AVX-512"),
                                            ("avx2", "AVX2")) if flag in flags]
    return f"{name} ({', '.join(extensions) or 'no SHA-NI'}), {cpus} CPUs (lscpu)"


def pairs(rounds: int, cases: dict[str, tuple]) -> dict[str, tuple[float, float, float]]:
    """For each case (fn, baseline, rows): the median seconds per row of fn and of the
    baseline, and the median of their ratios within a round."""
    out = {}
    for name, (fn, baseline, rows) in cases.items():
        times, bases, ratios = [], [], []
        for _ in range(rounds):
            base = timed(baseline)
            t = timed(fn)
            times.append(t / rows)
            bases.append(base / rows)
            ratios.append(t / base)
        out[name] = (statistics.median(times), statistics.median(bases),
                     statistics.median(ratios))
    return out


def allocation(codec: tavik.Tavik, rows: int) -> list[tuple[str, int, int, int, int]]:
    """For encode_many of a fixed_size_binary(16) column and decode_many of its words: (case,
    rows, peak traced bytes during the call, bytes still traced with the result alive, blocks
    still traced)."""
    column = pa.FixedSizeBinaryArray.from_buffers(pa.binary(16), rows,
                                                  [None, pa.py_buffer(identifiers(rows))])
    words = pa.array(codec.encode_many(column))
    out = []
    for case, call in (("encode_many, binary column to words", lambda: codec.encode_many(column)),
                       ("decode_many, words to fixed_size_binary(16)",
                        lambda: codec.decode_many(words))):
        call()  # the batch storage of the thread, made once
        gc.collect()
        tracemalloc.start()
        try:
            before = tracemalloc.take_snapshot()
            base = tracemalloc.get_traced_memory()[0]
            result = call()
            current, peak = tracemalloc.get_traced_memory()
            grown = tracemalloc.take_snapshot().compare_to(before, "filename")
        finally:
            tracemalloc.stop()
        blocks = sum(max(stat.count_diff, 0) for stat in grown)
        out.append((case, rows, peak - base, current - base, blocks))
        del result
    return out


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--pandas-rows", type=int, default=200_000,
                        help="rows of the pandas comparison (the loop takes ~10 s a million)")
    parser.add_argument("--out", default=None, help="write the Markdown section here")
    args = parser.parse_args()

    codec = tavik.Tavik(KEY)
    rows = args.rows
    raw = identifiers(rows)
    binary = pa.FixedSizeBinaryArray.from_buffers(pa.binary(16), rows, [None, pa.py_buffer(raw)])
    text = pa.array([str(uuid.UUID(bytes=raw[16 * i:16 * i + 16])) for i in range(rows)])
    words = pa.array(codec.encode_many(binary))
    word_list = words.to_pylist()

    n = args.pandas_rows
    ids = [str(uuid.UUID(bytes=raw[16 * i:16 * i + 16])) for i in range(n)]
    frame = pd.DataFrame({"id": ids})                       # pandas' str: Arrow-backed
    objects = pd.DataFrame({"id": pd.Series(ids, dtype=object)})
    frame["word"] = pd.Series.from_arrow(codec.encode_many(frame.id)).array

    cases = {
        "encode: fixed_size_binary(16) column vs one buffer":
            (lambda: codec.encode_many(binary), lambda: codec.encode_many(raw), rows),
        "encode: string column of UUID text vs the binary column":
            (lambda: codec.encode_many(text), lambda: codec.encode_many(binary), rows),
        "decode: word column to fixed_size_binary(16) vs list, as_buffer":
            (lambda: codec.decode_many(words),
             lambda: codec.decode_many(word_list, as_buffer=True), rows),
        "decode: word column to UUID text vs to fixed_size_binary(16)":
            (lambda: codec.decode_many(words).uuid_text(), lambda: codec.decode_many(words), rows),
        "pandas: encode_many(df.id), str column vs the UUID loop":
            (lambda: codec.encode_many(frame.id),
             lambda: codec.encode_many(uuid.UUID(s).bytes for s in frame.id), n),
        "pandas: encode_many(df.id), object column vs the UUID loop":
            (lambda: codec.encode_many(objects.id),
             lambda: codec.encode_many(uuid.UUID(s).bytes for s in objects.id), n),
        "pandas: df.word back to UUID text, str column vs the UUID loop":
            (lambda: pd.Series.from_arrow(codec.decode_many(frame.word).uuid_text()),
             lambda: [str(uuid.UUID(bytes=b)) for b in codec.decode_many(frame.word.tolist())], n),
        "words exported as string_view vs string, into pyarrow":
            (lambda: pa.array(codec.encode_many(binary), type=pa.string_view()),
             lambda: pa.array(codec.encode_many(binary)), rows),
        "words exported as string_view vs string, into Polars":
            (lambda: pl.from_arrow(pa.array(codec.encode_many(binary), type=pa.string_view())),
             lambda: pl.Series(codec.encode_many(binary)), rows),
    }
    results = pairs(args.rounds, cases)
    targets = {
        "encode: fixed_size_binary(16) column vs one buffer": ("<=", 1.1),
        "encode: string column of UUID text vs the binary column": ("<=", 1.3),
        "decode: word column to fixed_size_binary(16) vs list, as_buffer": ("<=", 1.1),
        "decode: word column to UUID text vs to fixed_size_binary(16)": ("<=", 1.3),
        "pandas: encode_many(df.id), str column vs the UUID loop": ("<=", 1 / 8),
        "pandas: encode_many(df.id), object column vs the UUID loop": ("<=", 1 / 8),
        "pandas: df.word back to UUID text, str column vs the UUID loop": ("<=", 1 / 8),
    }
    small, large = max(rows // 10, 1000), rows
    allocations = allocation(codec, small) + allocation(codec, large)

    lines = [
        "## Arrow columns",
        "",
        f"Processor: {processor()}. Python {platform.python_version()}, pyarrow "
        f"{pa.__version__}, pandas {pd.__version__}, Polars {pl.__version__}. Median over "
        f"{args.rounds} rounds of the CPU time per row; {rows:,} rows (pandas: {n:,}). The "
        "ratio is the median of the ratios taken within each round, case against baseline.",
        "",
        "| case | ns per row | baseline ns per row | ratio | target | met |",
        "|---|---:|---:|---:|---:|---|",
    ]
    for name, (t, base, ratio) in results.items():
        target = targets.get(name)
        goal = f"{target[0]} {target[1]:.3g}" if target else ""
        met = "" if not target else ("yes" if ratio <= target[1] else "**no**")
        lines.append(f"| {name} | {t * 1e9:,.0f} | {base * 1e9:,.0f} | {ratio:.3f} | {goal} "
                     f"| {met} |")
    lines += [
        "",
        "Allocations traced by tracemalloc during the call. The result's buffers come from the "
        "interpreter's raw allocator, so they are traced; *kept* is what stays traced with the "
        "result alive (its buffers and the Column), in that many blocks. The rest of the peak "
        "is the buffers' room while they grew (for words, a sixteenth over the estimate from "
        "the first batch, given back at the end); nothing else grows with the rows.",
        "",
        "| case | rows | peak bytes | kept bytes | kept blocks | peak less kept |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    lines += [f"| {case} | {r:,} | {peak:,} | {kept:,} | {blocks} | {peak - kept:,} |"
              for case, r, peak, kept, blocks in allocations]
    report = "\n".join(lines) + "\n"
    print(report)
    if args.out:
        with open(args.out, "w", encoding="utf-8") as out:
            out.write(report)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
