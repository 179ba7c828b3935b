"""Several threads sharing one object and the objects derived from it."""

import random
import threading

from tavik import Tavik

KEY = b"thread key"


def test_threads_share_objects_and_agree_with_one_thread():
    base = Tavik(KEY, mode="open")
    rng = random.Random(3)
    inputs = [rng.randbytes(16) for _ in range(200)]

    def work(codec):
        derived = [codec, codec.with_bit_width(64), codec.with_modulus(10**12),
                   codec.with_case("lower").with_separator(" "), codec.with_check_syllables(3)]
        out = []
        for i, data in enumerate(inputs):
            c = derived[i % len(derived)]
            data = data if i % len(derived) != 2 else (int.from_bytes(data, "big") % 10**12).to_bytes(16, "big")
            word = c.encode(data)
            out.append((word, c.decode(word), c.recover(word)))
        return out

    expected = work(base)
    results = [None] * 8
    barrier = threading.Barrier(len(results))

    def run(slot):
        barrier.wait()
        results[slot] = work(base)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(results))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(r == expected for r in results)
