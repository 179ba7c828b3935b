"""Allocation failures inside the C++ code become MemoryError, never a crash: every entry point
is driven through a failure of each of its allocations in turn. Needs a module built with
TAVIK_FAULT_INJECTION (the sanitizer run builds one); skipped elsewhere."""

import importlib.util
import subprocess
import sys

import pytest

import tavik.tavik

pytestmark = pytest.mark.skipif(
    not hasattr(tavik.tavik, "_fail_allocation"), reason="needs a fault-injection build"
)

SETUP = """
from tavik import Tavik
import tavik.tavik as module
codec = Tavik(b"fault key", mode="open").with_check_syllables(2)
word = codec.encode(bytes(range(16)))
"""

# Each call, and whether it allocates on its way (a cipher, a key given to it, a pattern, a
# message). A builder that changes neither cipher nor pattern allocates nothing: the record it
# copies shares its keys.
CALLS = {
    "constructor": ("Tavik(b'k' * 100, 'eu', 'sealed', 64)", True),
    "constructor error": ("Tavik(b'k', level='no such level')", False),  # fixed texts
    "with_bit_width": ("codec.with_bit_width(40)", True),
    "with_modulus": ("codec.with_modulus(10**6)", True),
    "with_cipher": ("codec.with_cipher('feistel', b'other key')", True),
    "with_case": ("codec.with_case('lower')", False),
    "with_check_syllables": ("codec.with_check_syllables(3)", False),
    "with_separator": ("codec.with_separator(' ')", False),
    "with_chunk_none": ("codec.with_chunk_none()", False),
    "with_chunk_fixed": ("codec.with_chunk_fixed(4)", False),
    "with_chunk_pattern": ("codec.with_chunk_pattern(range(40))", True),
    "with_timestamp_config": ("codec.with_timestamp_config(0, 'day')", False),
    "repr": ("repr(codec.with_chunk_pattern([1, 2, 3]))", True),
    "encode": ("codec.encode(bytes(16))", False),
    "decode": ("codec.decode(word)", False),
    "recover": ("codec.recover(word)", False),
    # The first bulk call of a thread sets up the thread's batch buffers.
    "encode_many": ("codec.encode_many([bytes(16)] * 3)", True),
    "decode_many": ("codec.decode_many([word] * 3)", True),
    "recover_many": ("codec.recover_many([word] * 3)", True),
}
# Over Arrow columns: the thread's batch, the result's record, and an export of it.
if importlib.util.find_spec("pyarrow") is not None:
    SETUP += "import pyarrow as pa\n"
    CALLS |= {
        "encode_many of a column": (
            "pa.array(codec.encode_many(pa.array([bytes(16), None], pa.binary(16))))", True),
        "decode_many of a column": (
            "pa.array(codec.decode_many(pa.chunked_array([[word], [None, word]])).uuid_text())",
            True),
        "recover_many of a column": ("codec.recover_many(pa.array([word]), errors='none')", True),
    }

DRIVER = """
import sys
call = compile(sys.argv[1], "<call>", "eval")
failures = 0
for n in range(200):
    module._fail_allocation(n)
    try:
        eval(call)
        break
    except MemoryError:
        failures += 1
    except ValueError:
        break  # the call's own error, reached past every allocation
    finally:
        module._fail_allocation(-1)
else:
    raise SystemExit("still failing after 200 allocations")
print(failures)
"""


@pytest.mark.parametrize("name", CALLS)
def test_every_allocation_failure_becomes_memory_error(name):
    # A subprocess per entry point: a C++ exception unwinding through the interpreter would
    # end the process, and the test must report it rather than die with it.
    call, allocates = CALLS[name]
    result = subprocess.run(
        [sys.executable, "-P", "-c", SETUP + DRIVER, call, name], capture_output=True, text=True
    )
    assert result.returncode == 0, result.stderr
    failures = int(result.stdout)
    assert failures > 0 if allocates else failures == 0


def test_bulk_calls_allocate_nothing_per_item_once_set_up():
    # After a first call has set up the thread's buffers, a bulk call of many batches makes no
    # C++ allocation at all: the next one would fail.
    from tavik import Tavik

    codec = Tavik(b"fault key", mode="open").with_check_syllables(2)
    items = [i.to_bytes(16, "big") for i in range(3000)]
    words = codec.encode_many(items)
    buffer = b"".join(items)
    calls = [
        lambda: codec.encode_many(items),
        lambda: codec.encode_many(buffer),
        lambda: codec.decode_many(words, as_buffer=True),
        lambda: codec.recover_many(words, errors="none"),
    ]
    for call in calls:
        call()
        tavik.tavik._fail_allocation(0)
        try:
            call()
        finally:
            tavik.tavik._fail_allocation(-1)
