"""Wall time of the command line on a million UUIDs: `encode`, `decode`, and `encode | decode`.

The UUIDs are the same every run (a seeded generator). Each round times, for every command
compared, `encode` (UUIDs from a file into a file), `decode` (those code words back), and the
shell pipe `encode | decode`, where the two processes run side by side, in mode sealed (a key
given with --key-hex) and mode plain. The commands take turns within a round, so that they
share the machine's noise. Every decoded output must equal the input, and every command must
write the same code words as the first.

    python bench/cli_bench.py                       # the `tavik` installed beside this Python
    python bench/cli_bench.py --command before='env PYTHONPATH=/old python -m tavik' \\
                              --command after=tavik

Reports the minimum and median of the rounds' wall times and CPU times (user + system, all
processes), and each command's median wall time as a ratio of the first command's. On a busy
machine the wall time of the pipe depends on a second core being free; the CPU time less so.
"""

from __future__ import annotations

import argparse
import random
import resource
import shlex
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

KEY_HEX = b"benchmark key of 32 bytes, fixed".hex()
MODES = {"sealed": f"--key-hex {KEY_HEX}", "plain": "--mode plain"}
STAGES = ("encode", "decode", "pipe")


def write_uuids(path: Path, count: int, seed: int) -> None:
    """``count`` random UUIDs (version 4 bits set), one per line, the same for a given seed."""
    data = random.Random(seed).randbytes(16 * count)
    with path.open("w") as f:
        for start in range(0, len(data), 16 * 10_000):
            h = data[start:start + 16 * 10_000].hex()
            f.writelines(f"{h[i:i + 8]}-{h[i + 8:i + 12]}-4{h[i + 13:i + 16]}-"
                         f"{'89ab'[int(h[i + 16], 16) & 3]}{h[i + 17:i + 20]}-{h[i + 20:i + 32]}\n"
                         for i in range(0, len(h), 32))


def timed(script: str, cwd: Path) -> tuple[float, float]:
    """Runs a shell script; returns its wall time and the CPU time of all its processes."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    result = subprocess.run(["sh", "-c", script], cwd=cwd, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != 0:
        sys.exit(f"failed ({result.returncode}): {script}\n{result.stderr.decode()}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def default_command() -> str:
    script = Path(sys.executable).parent / "tavik"
    return shlex.quote(str(script)) if script.exists() else "tavik"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--command", action="append", metavar="LABEL=COMMAND",
                        help="a command line to time, under a label (repeat to compare; "
                             "default: the tavik installed beside this Python)")
    parser.add_argument("--count", type=int, default=1_000_000, help="UUIDs (default 1000000)")
    parser.add_argument("--rounds", type=int, default=5, help="rounds (default 5)")
    parser.add_argument("--seed", type=int, default=2024)
    parser.add_argument("--modes", default="sealed,plain", help="of: " + ", ".join(MODES))
    args = parser.parse_args()
    commands = dict(c.split("=", 1) for c in args.command or [f"installed={default_command()}"])
    modes = args.modes.split(",")

    with tempfile.TemporaryDirectory(prefix="tavik-cli-bench-") as tmp:
        work = Path(tmp)
        write_uuids(work / "ids", args.count, args.seed)
        ids = (work / "ids").read_bytes()
        times: dict[tuple[str, str, str], list[tuple[float, float]]] = {}
        for _ in range(args.rounds):
            for mode in modes:
                opts = MODES[mode]
                words = None
                for label, command in commands.items():
                    runs = {
                        "encode": f"{command} encode {opts} <ids >words",
                        "decode": f"{command} decode {opts} <words >back",
                        "pipe": f"{command} encode {opts} <ids | {command} decode {opts} >piped",
                    }
                    for stage in STAGES:
                        times.setdefault((mode, label, stage), []).append(
                            timed(runs[stage], work))
                    if words is None:
                        words = (work / "words").read_bytes()
                    if (work / "words").read_bytes() != words:
                        sys.exit(f"{label} wrote other code words than {next(iter(commands))}")
                    for out in ("back", "piped"):
                        if (work / out).read_bytes() != ids:
                            sys.exit(f"{label}, mode {mode}: the decoded output differs from "
                                     "the input")

    print(f"{args.count} UUIDs, {args.rounds} rounds; min / median in seconds of the wall time "
          "and of the CPU time of all processes; ratio of median wall times to the first command")
    first = next(iter(commands))
    for mode in modes:
        for stage in STAGES:
            base = statistics.median(w for w, _ in times[(mode, first, stage)])
            for label in commands:
                wall = [w for w, _ in times[(mode, label, stage)]]
                cpu = [c for _, c in times[(mode, label, stage)]]
                median = statistics.median(wall)
                print(f"{mode:7} {stage:7} {label:12} {min(wall):6.2f} / {median:6.2f} s   "
                      f"cpu {min(cpu):5.2f} / {statistics.median(cpu):5.2f} s   "
                      f"x{median / base:.2f}")
    # The target: a million UUIDs through `encode | decode` in at most 1.5 s.
    if args.count == 1_000_000:
        for mode in modes:
            for label in commands:
                pipe = statistics.median(w for w, _ in times[(mode, label, "pipe")])
                print(f"target: {mode} pipe of {label} <= 1.5 s: {pipe:.2f} s, "
                      f"{'met' if pipe <= 1.5 else 'NOT met'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
