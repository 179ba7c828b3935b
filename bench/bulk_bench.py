"""Benchmark of the bulk methods against the single-call floor, and of threads over one codec.

The floor of one identifier is a fast call that runs the 18 chained SHA-256 compressions of one
encode or decode (floor_call.Empty().call_floor, built by bench/run.sh). Each figure is the
median over rounds of CPU time per identifier for 10 000 UUIDs; every ratio is taken within a
round (the bulk call and the floor timed back to back), so that load on a shared machine
moves both alike. Threads: the wall time of one thread doing N batches against two threads
doing N batches each, on one shared codec; the figure is two threads' throughput over one's.

    python bench/bulk_bench.py [--rounds N] [--out FILE]   (floor_call on PYTHONPATH)
"""

from __future__ import annotations

import argparse
import statistics
import threading
import time
import uuid

import tavik

KEY = b"benchmark key of 32 bytes, fixed"
NUM_IDS = 10_000


def ids(count: int) -> list[bytes]:
    return [uuid.UUID(int=(0x9E3779B97F4A7C15F39CC0605CEDC834 * (i + 1)) % 2**128).bytes
            for i in range(count)]


def typo_words(codec: tavik.Tavik, words: list[str]) -> list[str]:
    """Every word with one confused ending where it has an L (recover's work), else as is."""
    out = []
    for word in words:
        at = word.find("L")
        out.append(word if at < 0 else word[:at] + "R" + word[at + 1:])
    return out


def cpu_per_item(fn, count: int) -> float:
    start = time.thread_time_ns()
    fn()
    return (time.thread_time_ns() - start) / count


def floor_ns(call_floor) -> float:
    def run() -> None:
        for _ in range(NUM_IDS):
            call_floor(b"x")
    return cpu_per_item(run, NUM_IDS)


def threads_ratio(codec: tavik.Tavik, data: list[bytes], batches: int) -> float:
    def work() -> None:
        for _ in range(batches):
            codec.encode_many(data)

    start = time.perf_counter()
    work()
    one = time.perf_counter() - start
    threads = [threading.Thread(target=work) for _ in range(2)]
    start = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    two = time.perf_counter() - start
    return 2 * one / two


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--out", default=None, help="write the Markdown table here")
    args = parser.parse_args()
    import floor_call

    call_floor = floor_call.Empty().call_floor
    data = ids(NUM_IDS)
    buffer = b"".join(data)
    rows: dict[str, list[float]] = {}
    for mode in ("sealed", "plain"):
        codec = tavik.Tavik(KEY if mode == "sealed" else None, mode=mode)
        words = codec.encode_many(data)
        typos = typo_words(codec, words)
        cases = {
            f"{mode}: encode_many, list of bytes": lambda c=codec: c.encode_many(data),
            f"{mode}: encode_many, one buffer": lambda c=codec: c.encode_many(buffer),
            f"{mode}: decode_many": lambda c=codec, w=words: c.decode_many(w),
            f"{mode}: decode_many, as_buffer": lambda c=codec, w=words: c.decode_many(w, as_buffer=True),
            f"{mode}: encode, one call each": lambda c=codec: [c.encode(d) for d in data],
            f"{mode}: decode, one call each": lambda c=codec, w=words: [c.decode(x) for x in w],
        }
        if mode == "sealed":
            cases[f"{mode}: recover_many, a confused sound in each"] = (
                lambda c=codec, t=typos: c.recover_many(t, errors="none"))
        for name in cases:
            rows.setdefault(name, [])
        for _ in range(args.rounds):
            for name, fn in cases.items():
                fn()  # warm
                ns = cpu_per_item(fn, NUM_IDS)
                rows[name].append(ns / floor_ns(call_floor))
    ratio_threads = [threads_ratio(tavik.Tavik(KEY), data, 20) for _ in range(max(3, args.rounds // 3))]
    floor = statistics.median(floor_ns(call_floor) for _ in range(args.rounds))

    lines = ["## Bulk methods against the floor", "",
             f"Per identifier, {NUM_IDS} UUIDs a call, median of {args.rounds} rounds; the floor "
             f"(a call running the 18 chained compressions of one code word) is {floor:.0f} ns "
             "here. Each ratio is taken within its round.", "",
             "| case | x floor |", "|---|---:|"]
    for name, ratios in rows.items():
        lines.append(f"| {name} | {statistics.median(ratios):.2f} |")
    lines += ["", f"Two threads over one shared codec, encode_many of {NUM_IDS} UUIDs 20 times "
              f"each: {statistics.median(ratio_threads):.2f} x the throughput of one thread "
              f"(runs: {', '.join(f'{r:.2f}' for r in ratio_threads)}).", ""]
    median = {name: statistics.median(ratios) for name, ratios in rows.items()}
    threads = statistics.median(ratio_threads)
    verdicts = [(f"{name} <= 0.5 x floor", f"{median[name]:.2f}", median[name] <= 0.5)
                for name in median if "_many" in name and "recover" not in name]
    verdicts.append(("two threads >= 1.8 x one", f"{threads:.2f}", threads >= 1.8))
    lines += ["### Targets of the bulk path", "", "| target | figure | met |", "|---|---:|---|"]
    lines += [f"| {t} | {v} | {'yes' if ok else '**no**'} |" for t, v, ok in verdicts]
    lines.append("")
    text = "\n".join(lines)
    print(text)
    if args.out:
        with open(args.out, "w") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
