"""Code words for a column of UUIDs too big for one machine, with Dask.

Run it on a local cluster of worker processes (it needs ``pip install "dask[distributed]"
numpy`` beside tavik):

    python examples/distributed_codewords.py --rows 1000000 --workers 2

or on a running cluster: ``--scheduler tcp://host:8786 --key-file /etc/tavik/key``.

The key comes from a key file, read by each worker itself: its raw bytes, a trailing newline
included, as ``tavik --key-file`` reads it. Only the file's path travels, inside a
WorkerPlugin that builds the codec once per worker; tasks then take that worker's codec. The
key never appears in a task graph (a Tavik refuses to be pickled, and nothing here pickles the
key's bytes), so the client needs no access to it. On a real cluster the file sits at the same
path on every worker machine; without ``--key-file`` the example writes a random key to a
temporary file for the run (mode 0600), removed as soon as every worker has read it, and on
every way out, SIGTERM included.

Before any work starts, every worker proves that it holds the same key without revealing it:
each gives its code word for one fixed probe identifier and the client compares them. A stale
copy of the key file on one machine, or a newline that an editor added, stops the run with an
error naming the workers that differ, instead of code words that only their own worker reads.

The UUIDs are made on the workers (random version 4 UUIDs, one (n, 16) uint8 block per
partition), encoded with encode_many, decoded with decode_many(as_buffer=True), and checked
against the originals there: only timings and the check's answer come back to the client.
"""

import argparse
import contextlib
import os
import signal
import tempfile
import time

import dask.array as da
import numpy as np
from distributed import Client, LocalCluster, WorkerPlugin, get_worker, wait

# Code shipped to the workers names the module, not the class: the class's __module__ is
# "builtins", so a reference to it alone would not unpickle.
import tavik


class CodecPlugin(WorkerPlugin):
    """Gives every worker a codec under the key in ``key_path``, read by the worker."""

    name = "tavik-codec"

    def __init__(self, key_path, check_syllables=2):
        self.key_path = os.fspath(key_path)
        self.check_syllables = check_syllables
        self.codec = None

    def setup(self, worker):
        with open(self.key_path, "rb") as key_file:
            self.codec = tavik.Tavik(key_file.read()).with_check_syllables(self.check_syllables)

    def teardown(self, worker):
        self.codec = None


def worker_codec():
    """The codec that CodecPlugin built in the worker running this task."""
    return get_worker().plugins[CodecPlugin.name].codec


# The identifier whose code word each worker gives to show which key it holds. Under a key
# the word tells nothing about the key; under different keys the words differ.
KEY_PROBE = b"tavik: key probe"


def _probe_word(dask_worker):
    # Run by Client.run, outside any task: the worker comes as an argument.
    return dask_worker.plugins[CodecPlugin.name].codec.encode(KEY_PROBE)


def check_same_key(client):
    """Raises RuntimeError, naming them, when the workers' codecs are not under one key."""
    groups = {}
    for address, word in sorted(client.run(_probe_word).items()):
        groups.setdefault(word, []).append(address)
    if len(groups) > 1:
        agreeing = max(groups.values(), key=len)  # the largest group, the first on a tie
        differing = sorted(a for group in groups.values() if group is not agreeing for a in group)
        raise RuntimeError(
            f"the workers do not hold the same key: {', '.join(differing)} differ from "
            f"{', '.join(agreeing)}; nothing was started"
        )


def random_uuids(rows, partition_rows, seed=0):
    """A (rows, 16) uint8 array of version 4 UUIDs, made on the workers."""
    raw = da.random.default_rng(seed).integers(
        0, 256, size=(rows, 16), dtype=np.uint8, chunks=(partition_rows, 16)
    )
    return raw.map_blocks(_as_version_4, dtype=np.uint8)


def _as_version_4(block):
    block = block.copy()
    block[:, 6] = block[:, 6] & 0x0F | 0x40
    block[:, 8] = block[:, 8] & 0x3F | 0x80
    return block


def encode_column(ids):
    """The code words of a (n, 16) uint8 dask array, as a dask array of str objects."""
    return ids.map_blocks(_encode_block, drop_axis=1, dtype=object, meta=np.empty(0, object))


def _encode_block(block):
    words = np.empty(len(block), dtype=object)
    words[:] = worker_codec().encode_many(np.ascontiguousarray(block))
    return words


def decode_column(words):
    """The (n, 16) uint8 dask array of the identifiers behind a dask array of code words."""
    return words.map_blocks(
        _decode_block, new_axis=1, chunks=(words.chunks[0], (16,)), dtype=np.uint8
    )


def _decode_block(block):
    buffer = worker_codec().decode_many(block.tolist(), as_buffer=True)
    return np.frombuffer(buffer, dtype=np.uint8).reshape(-1, 16)


def mismatched_rows(ids, decoded):
    """A dask scalar: the number of rows where ``decoded`` differs from ``ids``."""
    return (decoded != ids).any(axis=1).sum()


def run(client, key_path, rows, partition_rows, remove_key=False):
    """Encodes and decodes ``rows`` UUIDs on the cluster; returns the timings in seconds.

    With ``remove_key`` the key file is removed once every worker has read it."""
    try:
        client.register_plugin(CodecPlugin(key_path))
    finally:
        if remove_key:
            os.remove(key_path)
    check_same_key(client)
    timings = {}
    start = time.perf_counter()
    ids = client.persist(random_uuids(rows, partition_rows))
    wait(ids)
    timings["make UUIDs"] = time.perf_counter() - start

    start = time.perf_counter()
    words = client.persist(encode_column(ids))
    wait(words)
    timings["encode"] = time.perf_counter() - start

    start = time.perf_counter()
    wrong = client.compute(mismatched_rows(ids, decode_column(words))).result()
    timings["decode and compare"] = time.perf_counter() - start
    if wrong:
        raise RuntimeError(f"{wrong} of {rows} UUIDs did not come back")
    return timings


@contextlib.contextmanager
def key_file_for_the_run(path):
    """``path`` as it is, or a temporary file holding a random key when ``path`` is None."""
    if path is not None:
        yield path
        return
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "key")
        with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "wb") as key_file:
            key_file.write(os.urandom(32))
        yield path


def _exit_on_sigterm(signum, frame):
    # SystemExit unwinds the with blocks: the temporary key goes and the cluster is closed.
    raise SystemExit(128 + signum)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--partition-rows", type=int, default=100_000)
    parser.add_argument("--workers", type=int, default=2, help="local worker processes")
    parser.add_argument("--scheduler", help="address of a running cluster (default: local)")
    parser.add_argument("--key-file", help="the key's path, the same on every worker")
    args = parser.parse_args(argv)
    if args.scheduler is not None and args.key_file is None:
        parser.error("--scheduler needs --key-file: a path that every worker can read")

    signal.signal(signal.SIGTERM, _exit_on_sigterm)
    with contextlib.ExitStack() as stack:
        if args.scheduler is None:
            cluster = stack.enter_context(
                LocalCluster(
                    n_workers=args.workers,
                    threads_per_worker=1,
                    host="127.0.0.1",
                    dashboard_address=None,
                )
            )
            client = stack.enter_context(Client(cluster))
        else:
            client = stack.enter_context(Client(args.scheduler))
        # Written once the workers are up, and removed as soon as they have read it.
        key_path = stack.enter_context(key_file_for_the_run(args.key_file))
        timings = run(
            client, key_path, args.rows, args.partition_rows, remove_key=args.key_file is None
        )

    workers = args.workers if args.scheduler is None else "the cluster's"
    print(f"{args.rows} UUIDs on {workers} workers, all decoded back to the originals")
    for step, seconds in timings.items():
        print(f"  {step:<20} {seconds:7.2f} s  {args.rows / seconds:>12,.0f} rows/s")


if __name__ == "__main__":
    main()
