"""Python benchmark of tavik and of the libraries one would pick instead for the same job.

The job: a 16-byte UUID to text and back. tavik is timed at widths 128, 64 and 16 and with a
modulus of 1000003, in sealed and plain mode, for encode, decode and recover (a correct word
and a word with one confused nucleus), together with the constructor, a builder that shares
the cipher, and an empty METH_FASTCALL call (the cost of any call into C). The peers run in
the same process, in the same rounds. Every figure is the median of the rounds, in
nanoseconds of CPU time per call; ratios come from this one run.

With the core benchmark's JSON (--core-json) it also reports the floor: the core's time for
18 chained SHA-256 compressions, plus the empty call. It writes a Markdown report and a bar
chart of the comparison. Run it through bench/run.sh.
"""

from __future__ import annotations

import argparse
import json
import re
import statistics
import sys
import time
import timeit
import uuid
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable

import tavik

KEY = b"benchmark key of 32 bytes, fixed"
MODULUS = 1000003


@dataclass
class Case:
    group: str
    name: str
    fn: Callable[[Any], Any]
    arg: Any
    number: int = 0
    samples: list[float] = field(default_factory=list)

    @property
    def ns(self) -> float:
        return statistics.median(self.samples)


def uuids(count: int) -> list[bytes]:
    return [uuid.UUID(int=(0x9E3779B97F4A7C15F39CC0605CEDC834 * (i + 1)) % 2**128).bytes
            for i in range(count)]


def confused(codec: tavik.Tavik, data_list: list[bytes]) -> tuple[bytes, str]:
    """An encoded word with one nucleus ending l typed as n or r, which recover corrects."""
    for data in data_list:
        word = codec.encode(data)
        want = codec.decode(word)
        for m in re.finditer(r"[AEIOU]L", word):
            for ending in "NR":
                typo = word[: m.start() + 1] + ending + word[m.start() + 2:]
                try:
                    if codec.recover(typo) == want:
                        return data, typo
                except ValueError:
                    continue
    raise RuntimeError("no recoverable confusion found")


def tavik_cases(ids: list[bytes]) -> list[Case]:
    cases = [
        Case("tavik", "Tavik(key=...)", lambda key: tavik.Tavik(key=key), KEY),
        Case("tavik", "with_case (shares the cipher)", tavik.Tavik(key=KEY).with_case, "lower"),
    ]
    for mode in ("sealed", "plain"):
        base = tavik.Tavik(key=KEY if mode == "sealed" else None, mode=mode)
        for label, codec in (("128", base), ("64", base.with_bit_width(64)),
                             ("16", base.with_bit_width(16)),
                             (f"mod {MODULUS}", base.with_modulus(MODULUS))):
            data = ids[0]
            if label.startswith("mod"):
                data = (int.from_bytes(data, "big") % MODULUS).to_bytes(3, "big")
            word = codec.encode(data)
            assert codec.decode(word)[-len(data):] == data or label == "16" or label == "64"
            group = f"tavik {mode} {label}"
            cases.append(Case(group, "encode", codec.encode, data))
            cases.append(Case(group, "decode", codec.decode, word))
            if mode == "sealed":
                cases.append(Case(group, "recover (correct)", codec.recover, word))
                pool = ids if not label.startswith("mod") else [
                    (int.from_bytes(d, "big") % MODULUS).to_bytes(3, "big") for d in ids]
                _, typo = confused(codec, pool)
                cases.append(Case(group, "recover (one confused nucleus)", codec.recover, typo))
    return cases


def floor_cases() -> list[Case]:
    try:
        import floor_call
    except ImportError:
        return []
    empty = floor_call.Empty()
    return [Case("floor", "empty METH_FASTCALL call", empty.call, b"x" * 16),
            Case("floor", "call + 18 chained compressions", empty.call_floor, b"x" * 16)]


def paired_ratio(a: Case, b: Case) -> float:
    """The median over the rounds of a's time over b's time in the same round."""
    return statistics.median(x / y for x, y in zip(a.samples, b.samples))


def peer_cases(data: bytes) -> list[Case]:
    """The peers, each as encode and decode of the same 16 bytes; round trips are checked."""
    import base32_crockford
    import hashids
    import shortuuid
    import sqids
    from ff3 import FF3Cipher
    from typeid import TypeID

    mask63 = 2**63 - 1
    sq = sqids.Sqids()
    hs = hashids.Hashids(salt="benchmark salt")
    ff3 = FF3Cipher("2DE79D232DF5585D68CE47882AE256D6", "CBD09280979564", radix=10)
    peers: dict[str, tuple[Callable[[bytes], str], Callable[[str], bytes]]] = {
        # sqids takes numbers below 2^63: the 128 bits go as 63 + 63 + 2 bits.
        "sqids": (
            lambda b: sq.encode([(n := int.from_bytes(b, "big")) >> 65, (n >> 2) & mask63,
                                 n & 3]),
            lambda t: (lambda p: ((p[0] << 65) | (p[1] << 2) | p[2]).to_bytes(16, "big"))(
                sq.decode(t)),
        ),
        "hashids": (
            lambda b: hs.encode(int.from_bytes(b[:8], "big"), int.from_bytes(b[8:], "big")),
            lambda t: b"".join(x.to_bytes(8, "big") for x in hs.decode(t)),
        ),
        "shortuuid": (
            lambda b: shortuuid.encode(uuid.UUID(bytes=b)),
            lambda t: shortuuid.decode(t).bytes,
        ),
        "typeid-python": (
            lambda b: str(TypeID.from_uuid(uuid.UUID(bytes=b), prefix="user")),
            lambda t: TypeID.from_string(t).uuid_bytes,
        ),
        "base32-crockford": (
            lambda b: base32_crockford.encode(int.from_bytes(b, "big"), checksum=True),
            lambda t: base32_crockford.decode(t, checksum=True).to_bytes(16, "big"),
        ),
        "ff3 (FF3-1, decimal)": (
            lambda b: ff3.encrypt(str(int.from_bytes(b, "big")).zfill(39)),
            lambda t: int(ff3.decrypt(t)).to_bytes(16, "big"),
        ),
    }
    cases = []
    for name, (enc, dec) in peers.items():
        text = enc(data)
        if dec(text) != data:
            raise RuntimeError(f"{name} does not round-trip")
        cases.append(Case(name, "encode", enc, data))
        cases.append(Case(name, "decode", dec, text))
    return cases


def run(cases: list[Case], rounds: int, target_s: float) -> None:
    timers = []
    for case in cases:
        timer = timeit.Timer("f(x)", globals={"f": case.fn, "x": case.arg},
                             timer=time.process_time)
        number = 1
        while timer.timeit(number) < target_s and number < 1 << 24:
            number *= 2
        case.number = number
        timers.append(timer)
    # Round-robin, so that a disturbance of the machine hits every case alike.
    for _ in range(rounds):
        for case, timer in zip(cases, timers):
            case.samples.append(timer.timeit(case.number) / case.number * 1e9)


def core_medians(path: Path) -> dict[str, dict[str, float]]:
    """Median CPU ns (and counters) per core benchmark from Google Benchmark's JSON."""
    data = json.loads(path.read_text())
    out: dict[str, dict[str, float]] = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        entry = {"ns": b["cpu_time"]}
        for counter in ("compressions", "ratio"):
            if counter in b:
                entry[counter] = b[counter]
        out[b["run_name"]] = entry
    return out


def fmt(ns: float) -> str:
    return f"{ns:,.0f}" if ns >= 100 else f"{ns:.1f}"


def report(cases: list[Case], core: dict[str, dict[str, float]] | None, rounds: int) -> tuple[str, list[tuple[str, str, bool]]]:
    by = {(c.group, c.name): c.ns for c in cases}
    lines = [f"# tavik benchmark results", "",
             f"Median CPU time per call over {rounds} rounds; every ratio is from this one run. "
             f"Python {sys.version.split()[0]}, tavik from {Path(tavik.__file__).parent}.", ""]
    verdicts: list[tuple[str, str, bool]] = []

    if core:
        compress = core["BM_Compress"]["ns"]
        lines += ["## Core (C++, Google Benchmark)", "",
                  "The floor is the CPU time of the chained SHA-256 compressions an operation "
                  "needs (18 for encode and decode: 8 cipher rounds and the check digest, two "
                  "each). *ratio* divides the medians of separate benchmarks; *paired* is the "
                  "median of ratios each measured on a block of operations and, right after, "
                  "its compressions, which a busy machine disturbs far less.", "",
                  "| benchmark | ns | compressions | floor ns | ratio | paired |",
                  "|---|---:|---:|---:|---:|---:|"]
        paired = {"BM_Encode": "BM_PairedEncode", "BM_Decode": "BM_PairedDecode",
                  "BM_RecoverWorst": "BM_PairedRecoverWorst"}
        floors = {"BM_Hmac": 2, "BM_Encrypt": 16, "BM_Decrypt": 16, "BM_Encode": 18,
                  "BM_Decode": 18}
        if "BM_RecoverWorst" in core:
            floors["BM_RecoverWorst"] = int(core["BM_RecoverWorst"].get("compressions", 0))
        order = ["BM_Compress", "BM_CompressOpenssl", "BM_Hmac", "BM_Encrypt", "BM_Decrypt",
                 "BM_Encode", "BM_Decode", "BM_RecoverWorst", "BM_DeriveCipherKey",
                 "BM_ConstructConfig"]
        names = [n for n in order if n in core]
        for name in names:
            entry = core[name]
            n = floors.get(name)
            if n:
                ratio = entry["ns"] / (n * compress)
                pair = core.get(paired.get(name, ""), {}).get("ratio")
                pair_text = f"{pair:.3f}" if pair else ""
                lines.append(f"| {name[3:]} | {fmt(entry['ns'])} | {n} | {fmt(n * compress)} | "
                             f"{ratio:.3f} | {pair_text} |")
            else:
                lines.append(f"| {name[3:]} | {fmt(entry['ns'])} | | | | |")
        lines.append("")
        for name, limit in (("BM_Encode", 1.08), ("BM_Decode", 1.08), ("BM_RecoverWorst", 1.10)):
            if name in core:
                ratio = core[name]["ns"] / (floors[name] * compress)
                pair = core.get(paired[name], {}).get("ratio")
                shown = f"{pair:.3f} (medians: {ratio:.3f})" if pair else f"{ratio:.3f}"
                judged = pair if pair else ratio
                label = f"core {name[3:]} <= {limit} x its compressions"
                verdicts.append((label + (" (paired)" if pair else ""), shown, judged <= limit))

    lines += ["## tavik from Python", "", "| configuration | call | ns |", "|---|---|---:|"]
    for c in cases:
        if c.group.startswith("tavik") or c.group == "floor":
            lines.append(f"| {c.group} | {c.name} | {fmt(c.ns)} |")
    lines.append("")
    ctor = by.get(("tavik", "Tavik(key=...)"))
    builder = by.get(("tavik", "with_case (shares the cipher)"))
    if ctor is not None:
        verdicts.append(("Tavik(key=...) < 2 us", f"{ctor / 1000:.2f} us", ctor < 2000))
    if builder is not None:
        verdicts.append(("sharing builder < 0.4 us", f"{builder / 1000:.2f} us", builder < 400))

    case_of = {(c.group, c.name): c for c in cases}
    empty = by.get(("floor", "empty METH_FASTCALL call"))
    floor_case = case_of.get(("floor", "call + 18 chained compressions"))
    if floor_case is not None and empty is not None:
        lines += ["## From Python against the floor", "",
                  "The floor of encode and decode is a METH_FASTCALL call that runs their 18 "
                  f"chained compressions: {fmt(floor_case.ns)} ns here (the empty call alone: "
                  f"{fmt(empty)} ns). It is timed in the same rounds as tavik's calls; *paired* "
                  "is the median over the rounds of each round's ratio"
                  + (", *via core* uses the core benchmark's compression instead"
                     if core else "") + ".", "",
                  "| call (sealed, 128 bits) | ns | paired ratio | via core |",
                  "|---|---:|---:|---:|"]
        for name in ("encode", "decode"):
            c = case_of[("tavik sealed 128", name)]
            ratio = paired_ratio(c, floor_case)
            via_core = (f"{c.ns / (18 * core['BM_Compress']['ns'] + empty):.3f}" if core else "")
            lines.append(f"| {name} | {fmt(c.ns)} | {ratio:.3f} | {via_core} |")
            limit = {"encode": 1.12, "decode": 1.10}[name]
            verdicts.append((f"Python {name} <= {limit:.2f} x its floor, paired",
                             f"{ratio:.3f}", ratio <= limit))
        lines.append("")

    peers = sorted({c.group for c in cases if not c.group.startswith("tavik")} - {"floor"})
    if peers:
        t_enc = by[("tavik sealed 128", "encode")]
        t_dec = by[("tavik sealed 128", "decode")]
        lines += ["## The same job with other libraries", "",
                  "A 16-byte UUID to text and back. tavik: sealed mode, 128 bits (enciphers and "
                  "adds a keyed check syllable). A ratio is the peer's time over tavik's.", "",
                  "| library | encode ns | decode ns | encode ratio | decode ratio |",
                  "|---|---:|---:|---:|---:|",
                  f"| **tavik** | {fmt(t_enc)} | {fmt(t_dec)} | 1.00 | 1.00 |"]
        for p in peers:
            e, d = by[(p, "encode")], by[(p, "decode")]
            lines.append(f"| {p} | {fmt(e)} | {fmt(d)} | {e / t_enc:.2f} | {d / t_dec:.2f} |")
            verdicts.append((f"faster than {p} (encode, decode)", f"{e / t_enc:.2f}, {d / t_dec:.2f}",
                             e > t_enc and d > t_dec))
        lines.append("")
    lines += ["## Targets", "", "| target | figure | met |", "|---|---:|---|"]
    lines += [f"| {t} | {v} | {'yes' if ok else '**no**'} |" for t, v, ok in verdicts]
    lines.append("")
    return "\n".join(lines), verdicts


def chart(cases: list[Case], path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    by = {(c.group, c.name): c.ns for c in cases}
    names = ["tavik"] + sorted({c.group for c in cases
                                if not c.group.startswith("tavik") and c.group != "floor"})
    key = lambda n, op: by[("tavik sealed 128", op)] if n == "tavik" else by[(n, op)]
    names.sort(key=lambda n: key(n, "encode") + key(n, "decode"))
    fig, ax = plt.subplots(figsize=(8, 0.55 * len(names) + 1.5))
    y = range(len(names))
    enc = [key(n, "encode") / 1000 for n in names]
    dec = [key(n, "decode") / 1000 for n in names]
    ax.barh([i - 0.2 for i in y], enc, height=0.4, label="encode", color="#3b6ea5")
    ax.barh([i + 0.2 for i in y], dec, height=0.4, label="decode", color="#e08a3c")
    ax.set_yticks(list(y), names)
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.set_xlabel("microseconds per call (log scale, lower is better)")
    ax.set_title("16-byte UUID to text and back (tavik: enciphered and checked)")
    for i, (e, d) in enumerate(zip(enc, dec)):
        ax.text(e, i - 0.2, f" {e:.2f}", va="center", fontsize=8)
        ax.text(d, i + 0.2, f" {d:.2f}", va="center", fontsize=8)
    ax.set_xlim(min(enc + dec) / 4, max(enc + dec) * 4)
    ax.legend(loc="upper right")
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--core-json", type=Path, help="Google Benchmark JSON of the core run")
    parser.add_argument("--out-md", type=Path, help="write the Markdown report here")
    parser.add_argument("--out-png", type=Path, help="write the bar chart here")
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--target-seconds", type=float, default=0.02,
                        help="CPU time of one measurement")
    parser.add_argument("--no-peers", action="store_true")
    args = parser.parse_args()

    ids = uuids(64)
    cases = tavik_cases(ids)
    cases += floor_cases()
    if not args.no_peers:
        cases += peer_cases(ids[0])
    run(cases, args.rounds, args.target_seconds)

    core = core_medians(args.core_json) if args.core_json else None
    text, verdicts = report(cases, core, args.rounds)
    print(text)
    if args.out_md:
        args.out_md.write_text(text)
    if args.out_png and not args.no_peers:
        chart(cases, args.out_png)
    return 0


if __name__ == "__main__":
    sys.exit(main())
