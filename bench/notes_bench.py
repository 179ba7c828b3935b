"""CPU time a word of decode_many(words, "none") over words that all fail: half under another
key, half cut short so that they do not normalize. The notes that explain a failure are written
only when one is raised, so this must not grow with them: run it under a tavik without the
notes and one with them, taking turns.

    python bench/notes_bench.py [ROUNDS]      # prints ns a word, the median of ROUNDS calls
"""

import random
import statistics
import sys
import time

from tavik import Tavik


def main() -> None:
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    codec = Tavik(b"notes bench key")
    rng = random.Random(3)
    good = codec.encode_many(rng.randbytes(16 * 50_000))
    other = Tavik(b"another key").encode_many(rng.randbytes(16 * 50_000))
    words = other + [w[: -rng.randrange(1, 9)] for w in good]
    times = []
    for _ in range(rounds):
        start = time.process_time()
        codec.decode_many(words, "none")
        times.append(time.process_time() - start)
    print(f"{1e9 * statistics.median(times) / len(words):.0f}")


if __name__ == "__main__":
    main()
