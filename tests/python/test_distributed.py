"""examples/distributed_codewords.py on a local cluster of two worker processes: every UUID comes
back, the workers encode as a local codec does, workers under different keys stop the run, the
key's bytes are in nothing the client sends, while the path of the key file is, and the
temporary key is gone however the example ends."""

import importlib.util
import os
import pathlib
import signal
import socket
import stat
import subprocess
import sys
import threading
import time

import pytest

REASON = 'the distributed example needs Dask: pip install "dask[distributed]" numpy'
np = pytest.importorskip("numpy", reason=REASON)
da = pytest.importorskip("dask.array", reason=REASON)
distributed = pytest.importorskip("distributed", reason=REASON)

import dask  # noqa: E402

from tavik import Tavik  # noqa: E402

EXAMPLE = pathlib.Path(__file__).parents[2] / "examples" / "distributed_codewords.py"
KEY = b"\x8f key of the distributed test \x00\xff\x10"


def load_example():
    spec = importlib.util.spec_from_file_location("distributed_codewords", EXAMPLE)
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module
    spec.loader.exec_module(module)
    return module


example = load_example()


@pytest.fixture(scope="module")
def cluster():
    # Frames go uncompressed, so the bytes the recorder sees are the bytes that were pickled.
    with dask.config.set({"distributed.comm.compression": None}):
        with distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address=None
        ) as cluster:
            # Tasks name the example's functions by module, as for any module the workers
            # import, so the workers get the file.
            with distributed.Client(cluster, timeout="30s") as client:
                client.upload_file(str(EXAMPLE))
            yield cluster


@pytest.fixture(scope="module")
def client(cluster):
    with distributed.Client(cluster, timeout="30s") as client:
        yield client


@pytest.fixture
def key_path(tmp_path):
    path = tmp_path / "key"
    path.write_bytes(KEY)
    return str(path)


class WireRecorder:
    """A TCP relay on the loopback in front of ``target`` that keeps every byte sent to it."""

    def __init__(self, target):
        host, port = target.removeprefix("tcp://").rsplit(":", 1)
        self.target = (host, int(port))
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.address = "tcp://127.0.0.1:%d" % self.listener.getsockname()[1]
        self.sent = []  # one bytearray a connection
        self.sockets = [self.listener]
        self.threads = [threading.Thread(target=self._accept, daemon=True)]
        self.threads[0].start()

    def _accept(self):
        while True:
            try:
                near, _ = self.listener.accept()
            except OSError:  # closed
                return
            far = socket.create_connection(self.target)
            record = bytearray()
            self.sent.append(record)
            self.sockets += [near, far]
            for args in ((near, far, record), (far, near, None)):
                thread = threading.Thread(target=self._pump, args=args, daemon=True)
                self.threads.append(thread)
                thread.start()

    @staticmethod
    def _pump(source, sink, record):
        try:
            while chunk := source.recv(1 << 16):
                if record is not None:
                    record += chunk
                sink.sendall(chunk)
        except OSError:
            pass
        finally:
            for sock in (source, sink):
                try:
                    sock.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def contains(self, needle):
        return any(needle in bytes(record) for record in self.sent)

    def close(self):
        for sock in self.sockets:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()
        for thread in self.threads:
            thread.join(10)


def test_every_uuid_comes_back(client, key_path):
    # 20 000 rows in partitions of 3 000: the last one is shorter.
    timings = example.run(client, key_path, rows=20_000, partition_rows=3_000)
    assert list(timings) == ["make UUIDs", "encode", "decode and compare"]


def test_the_workers_encode_as_a_local_codec_does(client, key_path):
    client.register_plugin(example.CodecPlugin(key_path))
    ids_column = example.random_uuids(rows=50, partition_rows=20, seed=7)
    words_column = example.encode_column(ids_column)
    ids, words = dask.compute(ids_column, words_column)
    assert ids.shape == (50, 16) and ids.dtype == np.uint8
    assert set(ids[:, 6] >> 4) == {4} and set(ids[:, 8] >> 6) == {2}  # version 4 UUIDs
    assert len(set(map(bytes, ids))) == 50
    local = Tavik(KEY).with_check_syllables(2)
    assert list(words) == local.encode_many(ids)
    assert example.decode_column(words_column).compute().tobytes() == ids.tobytes()


def test_the_comparison_counts_every_wrong_row(client, key_path):
    client.register_plugin(example.CodecPlugin(key_path))
    ids = example.random_uuids(rows=40, partition_rows=15, seed=3)
    words = example.encode_column(ids)
    assert example.mismatched_rows(ids, example.decode_column(words)).compute() == 0
    swapped = da.concatenate([words[1:2], words[:1], words[2:]])
    assert example.mismatched_rows(ids, example.decode_column(swapped)).compute() == 2


def test_a_damaged_word_fails_the_decoding_instead_of_giving_zeros(client, key_path):
    client.register_plugin(example.CodecPlugin(key_path))
    words = example.encode_column(example.random_uuids(rows=10, partition_rows=5)).compute()
    words[7] = words[7][:-1]
    with pytest.raises(ValueError, match="check verification failed(.|\n)*item 2 of"):
        example.decode_column(da.from_array(words, chunks=5)).compute()


def test_a_worker_that_cannot_read_the_key_stops_the_registration(client, tmp_path):
    with pytest.raises(FileNotFoundError):
        client.register_plugin(example.CodecPlugin(tmp_path / "missing"))


def test_the_key_travels_in_nothing_the_client_sends(cluster, key_path):
    recorder = WireRecorder(cluster.scheduler_address)
    try:
        # All of this client's traffic, results included, goes through the scheduler and so
        # through the recorder.
        with distributed.Client(
            recorder.address, timeout="30s", direct_to_workers=False
        ) as client:
            example.run(client, key_path, rows=5_000, partition_rows=2_000)
            assert recorder.contains(key_path.encode())  # the plugin went through the recorder
            assert not recorder.contains(KEY)
            assert not recorder.contains(KEY.hex().encode())
            # Nor can a codec carry it: Dask refuses to send one.
            with pytest.raises(TypeError) as excinfo:
                client.submit(len, [Tavik(KEY)]).result()
            assert "cannot pickle" in str(excinfo.value.__cause__)
            assert not recorder.contains(KEY)
            # The recorder would have seen the key had a task carried it.
            assert client.submit(len, KEY).result() == len(KEY)
            assert recorder.contains(KEY)
    finally:
        recorder.close()


def test_workers_under_different_keys_stop_the_run_before_any_work(client):
    # /proc/self/stat reads differently in every process, as a stale copy of a key file on one
    # machine would.
    with pytest.raises(RuntimeError, match="the workers do not hold the same key") as excinfo:
        example.run(client, "/proc/self/stat", rows=5_000, partition_rows=2_000)
    first, second = sorted(client.scheduler_info()["workers"])
    assert str(excinfo.value).endswith(f": {second} differ from {first}; nothing was started")


def test_the_temporary_key_is_gone_after_a_sigterm(tmp_path):
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    process = subprocess.Popen(
        [sys.executable, str(EXAMPLE), "--rows", "5000000", "--partition-rows", "50000"],
        env={**os.environ, "TMPDIR": str(tmp)}, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, start_new_session=True,
    )
    modes = []
    try:
        # Terminated as soon as the key file is seen, or while the work runs if it is gone
        # before it is seen.
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and process.poll() is None and not modes:
            for key in tmp.glob("*/key"):
                try:
                    modes.append(stat.S_IMODE(key.stat().st_mode))
                except FileNotFoundError:
                    pass
            time.sleep(0.002)
        assert process.poll() is None, "the example ended before it was terminated"
        process.send_signal(signal.SIGTERM)
        assert process.wait(120) == 128 + signal.SIGTERM
    finally:
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
    assert set(modes) <= {0o600}
    assert list(tmp.rglob("key")) == []
