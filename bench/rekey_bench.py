"""Key rotation from Python and the command line, in one run.

- Bulk decoding under a keyring of two keys (the word's key second, so both checks run)
  against `Tavik.decode_many` under the word's own codec, on the same words, rounds taking
  turns; the medians' ratio is the cost of the second key.
- `tavik rekey` of a million words (from a file into a file) against `tavik decode` of the same
  words: wall and CPU time (user + system) of each, medians over the rounds.

    python bench/rekey_bench.py [--rounds N] [--count N]
"""

from __future__ import annotations

import argparse
import random
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from tavik import Keyring, Tavik


def timed(script: str, cwd: Path) -> tuple[float, float]:
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    result = subprocess.run(["sh", "-c", script], cwd=cwd, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != 0:
        sys.exit(f"failed ({result.returncode}): {script}\n{result.stderr.decode()}")
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def cpu_seconds(call) -> float:
    start = time.process_time()
    call()
    return time.process_time() - start


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--count", type=int, default=1_000_000)
    args = parser.parse_args()
    new = Tavik(b"the new key of the rotation").with_check_syllables(2)
    old = Tavik(b"the old key of the rotation").with_check_syllables(2)
    keyring = Keyring([new, old])
    ids = random.Random(17).randbytes(16 * args.count)
    words = old.encode_many(ids)
    expected = new.encode_many(ids)

    batch = words[:200_000]
    one, two = [], []
    for _ in range(args.rounds):
        one.append(cpu_seconds(lambda: old.decode_many(batch, "none")))
        two.append(cpu_seconds(lambda: keyring.decode_many(batch, "none")))
    m1, m2 = statistics.median(one), statistics.median(two)
    n = len(batch)
    print(f"decode_many, ns a word (CPU): one key {1e9 * m1 / n:.0f}, keyring of two "
          f"{1e9 * m2 / n:.0f}, ratio {m2 / m1:.2f}")

    with tempfile.TemporaryDirectory() as tmp:
        d = Path(tmp)
        (d / "words.txt").write_text("\n".join(words) + "\n")
        (d / "new.key").write_bytes(b"the new key of the rotation")
        (d / "old.key").write_bytes(b"the old key of the rotation")
        tavik = f"{sys.executable} -m tavik"
        scripts = {
            "decode": f"{tavik} decode --check 2 --key-file old.key < words.txt > ids.txt",
            "rekey": f"{tavik} rekey --check 2 --key-file new.key --old-key-file old.key "
                     "< words.txt > rekeyed.txt",
        }
        times: dict[str, list[tuple[float, float]]] = {name: [] for name in scripts}
        for _ in range(args.rounds):
            for name, script in scripts.items():
                times[name].append(timed(script, d))
        if (d / "rekeyed.txt").read_text().splitlines() != expected:
            sys.exit("rekey wrote other words than encode under the new key")
    for name, runs in times.items():
        wall = statistics.median(t[0] for t in runs)
        cpu = statistics.median(t[1] for t in runs)
        print(f"tavik {name} of {args.count} words: wall {wall:.2f} s, CPU {cpu:.2f} s")


if __name__ == "__main__":
    main()
