"""The command line, run as a subprocess: options, key sources, streaming, exit statuses; and
its batches of lines, in this process, against the lines one by one."""

import importlib.metadata
import os
import random
import re
import select
import shlex
import signal
import subprocess
import sys
import sysconfig
import threading
import unicodedata
import uuid
from pathlib import Path

import pytest

import tavik
from tavik import Tavik, cli
from uuid_forms import uuid_v7

KEY = b"cli key \xff of the suite"
# Without PYTHONUNBUFFERED, so the streaming test sees the command's own flushing.
ENV = {**{k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"},
       "TAVIK_TEST_KEY": "\u00e9t\u00e9 key"}
UUID = uuid.UUID("123e4567-e89b-12d3-a456-426614174000")
TAVIK = [sys.executable, "-m", "tavik"]


def run(*args, stdin=b"", env=ENV, cwd=None):
    # Run outside the source tree, so `-m tavik` imports the installed package.
    result = subprocess.run(TAVIK + [str(a) for a in args], input=stdin, capture_output=True,
                            env=env, cwd=cwd or "/")
    stderr = result.stderr.decode()
    assert "Traceback" not in stderr
    return result.returncode, result.stdout.decode(), stderr


def key_secrets(key: bytes) -> list[str]:
    """Every way a key could be leaked in a text."""
    return [key.hex(), key.hex().upper(), repr(key)[2:-1], key.decode("utf-8", "replace")]


@pytest.fixture
def key_file(tmp_path: Path) -> Path:
    path = tmp_path / "key"
    path.write_bytes(KEY)
    return path


def installed_distribution() -> bool:
    """Whether the tavik imported is that of an installed distribution, with its console
    script; the sanitizer and fuzz runs import a package folder of their own build."""
    try:
        files = importlib.metadata.distribution("tavik").files or []
    except importlib.metadata.PackageNotFoundError:
        return False
    return any(Path(str(f.locate())).resolve() == Path(tavik.__file__).resolve() for f in files)


def test_first_run_in_plain_mode():
    assert run("encode", "--mode", "plain", UUID) == (
        0, Tavik(mode="plain").encode(UUID.bytes) + "\n", "")


@pytest.mark.skipif(not installed_distribution(), reason="tavik is not run from its installation")
def test_console_script_and_version():
    script = Path(sysconfig.get_path("scripts")) / "tavik"
    result = subprocess.run([script, "--version"], capture_output=True, text=True, cwd="/")
    # One version everywhere: the package's, the command's and the installed distribution's.
    assert (result.returncode, result.stdout) == (0, f"tavik {tavik.__version__}\n")
    assert importlib.metadata.version("tavik") == tavik.__version__


def test_key_sources_agree_with_the_module(key_file):
    word = Tavik(KEY).encode(UUID.bytes)
    for source in (["--key-file", key_file], ["--key-hex", KEY.hex()]):
        assert run("encode", *source, UUID)[:2] == (0, word + "\n")
    env_word = Tavik("\u00e9t\u00e9 key".encode()).encode(UUID.bytes)
    assert run("encode", "--key-env", "TAVIK_TEST_KEY", UUID)[:2] == (0, env_word + "\n")
    # '-' reads the key from standard input when the items are arguments.
    assert run("encode", "--key-file", "-", UUID, stdin=KEY)[:2] == (0, word + "\n")
    # Raw bytes: a trailing newline is part of the key.
    key_file.write_bytes(KEY + b"\n")
    with_newline = Tavik(KEY + b"\n").encode(UUID.bytes)
    assert run("encode", "--key-file", key_file, UUID)[1] == with_newline + "\n"


@pytest.mark.parametrize("args, message", [
    (["encode", UUID], "needs a non-empty key"),
    (["encode", "--key-hex", "", UUID], "needs a non-empty key"),
    (["encode", "--key-hex", "abc", UUID], "--key-hex: not a string of hex digit pairs"),
    (["encode", "--key-env", "TAVIK_NO_SUCH_VARIABLE", UUID], "is not set"),
    (["encode", "--key-file", "/nonexistent/key", UUID], "cannot read the file: No such file"),
    (["encode", "--key-file", "-"], "standard input cannot carry both"),
    (["encode", "--key-hex", "00", "--key-env", "TAVIK_TEST_KEY", UUID], "not allowed with"),
    (["recover", "--mode", "plain", "MA"], "recover needs mode sealed or open"),
    (["encode", "--mode", "plain", "--key-hex", "00", UUID], "would ignore --key-hex: drop it"),
    (["encode", "--mode", "plain", "--key-env", "TAVIK_TEST_KEY", UUID], "would ignore --key-env"),
    (["decode", "--mode", "plain", "--key-file", "/nonexistent/key", "MA"],
     "would ignore --key-file"),
    (["encode", "--mode", "plain", "--cipher", "shuffle", "--key-hex", "00", UUID],
     "or add --cipher feistel"),
    (["encode", "--mode", "plain", "--bits", "15", UUID], "--bits must be from 16 to 128"),
    (["encode", "--mode", "plain", "--bits", "64", "--modulus", "7", UUID], "not allowed with"),
    (["encode", "--mode", "plain", "--modulus", "1", UUID], "--modulus must be from 2"),
    (["encode", "--mode", "plain", "--modulus", str(2**128), UUID], "--modulus must be from 2"),
    (["encode", "--mode", "plain", "--check", "9", UUID], "--check must be from 1 to 8"),
    (["encode", "--mode", "plain", "--separator", "x", UUID], "must be non-alphabetic"),
    (["encode", "--mode", "plain", "--separator", "::", UUID], "must be one character"),
    (["encode", "--mode", "plain", "--separator", ".", "--chunk", "none", UUID],
     "balanced layout only"),
    (["encode", "--mode", "plain", "--chunk", "fixed:-1", UUID], "expected balanced, none"),
    (["encode", "--mode", "plain", "--chunk", "pattern:1,x", UUID], "expected balanced, none"),
    (["encode", "--mode", "plain", "--epoch", "yesterday", UUID], "ISO 8601"),
    (["encode", "--mode", "plain", "--level", "EU", UUID], "invalid choice"),
    (["encode", "--mode", "plain", "--bogus", UUID], "unrecognized option --bogus"),
    (["frobnicate"], "invalid choice"),
    ([], "required"),
])
def test_usage_errors_exit_2(args, message):
    status, out, err = run(*args)
    assert (status, out) == (2, "")
    assert message in err and err.startswith("usage: tavik")


def test_key_is_never_echoed(key_file):
    word = Tavik(KEY).encode(UUID.bytes)
    typo = word[:-2] + ("MA" if not word.endswith("MA") else "KA")
    runs = [
        run("encode", "--key-hex", KEY.hex(), "--level", "xx", UUID),
        run("encode", "--key-hex", KEY.hex(), "--separator", "a", UUID),
        run("encode", "--key-hex", KEY.hex() + "0", UUID),
        run("encode", "--key-hex", KEY.hex(), "--key-file", key_file, UUID),
        run("decode", "--key-file", key_file, "--bits", "64", word, "", "1" * 100),
        run("recover", "--key-hex", KEY.hex(), typo, "garbage"),
        run("decode", "--key-file", "-", word, stdin=KEY + b"x"),
        run("encode", "--key-file", key_file, "--help"),
        run("encode", "--mode", "plain", "--key-hex", KEY.hex(), UUID),
    ]
    assert [status for status, _, _ in runs] == [2, 2, 2, 2, 1, 1, 1, 0, 2]
    for _, out, err in runs:
        for secret in key_secrets(KEY):
            assert secret not in out and secret not in err
    help_text = run("decode", "--help")[1]
    assert re.search(r"--key-hex HEX.*process\s+list", help_text, re.S)


SECRET = "5ec12e75ec12e7"


@pytest.mark.parametrize("args, message", [
    # Options before the command: the key was taken for the command's name.
    ([f"--key-hex={SECRET}", "encode"], "the options go after the command"),
    (["--key-hex", SECRET, "encode", UUID], "the options go after the command"),
    ([SECRET, "encode"], "invalid choice; choose from encode, decode, recover"),
    # Unknown options, with the value joined by '=', glued on or following.
    (["encode", f"--keyhex={SECRET}", UUID], "unrecognized option --keyhex (the key options"),
    (["encode", f"--key-hex{SECRET}", UUID], "starting with --key-hex: write --key-hex VALUE"),
    (["encode", f"--key_hex={SECRET}", UUID], "unrecognized option (the key options"),
    (["encode", f"-{SECRET}", UUID], "unrecognized option"),
    (["encode", "--keyhex", SECRET], "unrecognized option --keyhex"),
    # Rejected choices and values of argparse's own checks.
    (["encode", "--level", SECRET, UUID], "--level: invalid choice; choose from universal, eu,"),
    (["encode", f"--mode={SECRET}", UUID], "--mode: invalid choice; choose from sealed, open"),
    (["decode", f"--hex={SECRET}", "MA"], "argument --hex: ignored explicit argument"),
    ([f"--version={SECRET}"], "argument --version: ignored explicit argument"),
    (["encode", f"-h{SECRET}"], "ignored explicit argument"),
    (["encode", "--check", SECRET, UUID], "--check: expected a whole number"),
    # The name or path given for the key may be the key itself.
    (["encode", "--key-env", SECRET, UUID], "that environment variable is not set"),
    (["encode", "--key-file", SECRET, UUID], "cannot read the file: No such file"),
    (["encode", "--key-file", f"/tmp/{SECRET}/../k", UUID], "cannot read the file"),
    # An item after the options, when others came before them.
    (["encode", UUID, "--mode", "plain", SECRET], "give all the items together"),
])
def test_usage_errors_never_repeat_a_value(args, message):
    status, out, err = run(*args)
    assert (status, out) == (2, "")
    assert message in err and SECRET not in err and SECRET.upper() not in err


@pytest.mark.parametrize("path", ["/dev/stdin", "/proc/self/fd/0", "/dev/fd/0", "ids"])
def test_key_file_that_is_standard_input(tmp_path, path):
    ids = tmp_path / "ids"
    ids.write_text(f"{UUID}\n")
    with ids.open("rb") as stdin:  # a file, where a pipe would be consumed by the first reader
        result = subprocess.run(TAVIK + ["encode", "--key-file", path], stdin=stdin,
                                capture_output=True, env=ENV, cwd=tmp_path)
    assert (result.returncode, result.stdout) == (2, b"")
    assert b"that file is standard input, which cannot carry both" in result.stderr
    if path != "ids":  # a pipe, as in `ids | tavik encode --key-file /dev/stdin`
        status, out, err = run("encode", "--key-file", path, stdin=f"{UUID}\n".encode())
        assert (status, out) == (2, "") and "that file is standard input" in err
    # With the items as arguments, standard input is free to carry the key.
    word = Tavik(KEY).encode(UUID.bytes)
    assert run("encode", "--key-file", "/dev/stdin", UUID, stdin=KEY)[:2] == (0, word + "\n")


@pytest.mark.parametrize("separator, message", [
    ("\n", "line break or another control character"),
    ("\r", "line break or another control character"),
    ("\t", "line break or another control character"),
    ("\x85", "line break or another control character"),
    ("\u2028", "line break or another control character"),
    ("\u2029", "line break or another control character"),
    ("\u0301", "combining mark"),
    ("\u0308", "combining mark"),
    ("\u030a", "combining mark"),
    ("\u0327", "combining mark"),
    ("\u20dd", "combining mark"),
    ("\u202e", "bidirectional control"),
    ("\udcff", "not a byte that is not UTF-8"),
])
def test_separators_that_break_the_words_are_refused(separator, message):
    status, out, err = run("encode", "--mode", "plain", "--separator", separator, UUID)
    assert (status, out) == (2, "") and message in err
    # The module itself keeps taking them (only the first character counts).
    if separator != "\udcff":
        Tavik(mode="plain").with_separator(separator)


def test_accepted_separators_survive_normalization():
    for separator in [" ", "\u00b7", "/", "_", "\u2014", "\u3000", "\u00a0"]:
        opts = ["--mode", "plain", "--separator", separator]
        status, out, _ = run("encode", *opts, UUID)
        assert status == 0 and out.count(separator) == 5
        for form in ("NFC", "NFKC"):
            normalized = unicodedata.normalize(form, out)
            assert run("decode", *opts, stdin=normalized.encode())[:2] == (0, f"{UUID}\n")


def test_input_forms_and_per_line_errors():
    forms = [str(UUID), str(UUID).upper(), UUID.hex, "{%s}" % UUID, UUID.urn, UUID.urn.upper(),
             f"  {UUID}\r"]
    lines = forms[:2] + ["not-a-uuid", "", "{0102}", "abc", "0102"] + forms[2:]
    stdin = "\n".join(lines).encode() + b"\n\xff\xfe\n" + b"f" * 70000 + b"\n" + forms[0].encode()
    status, out, err = run("encode", "--mode", "plain", stdin=stdin)
    word = Tavik(mode="plain").encode(UUID.bytes)
    assert status == 1
    assert out == (word + "\n") * (len(forms) + 1)
    numbers = [int(n) for n in re.findall(r"^tavik: line (\d+): ", err, re.M)]
    assert numbers == [3, 5, 6, 7, 13, 14]  # line 4, blank, is skipped
    assert "line 7: identifier of 2 bytes, not 16" in err
    assert "line 14: longer than 65536 bytes" in err
    status, out, err = run("encode", "--mode", "plain", UUID, "xyz", UUID.hex)
    assert (status, out) == (1, (word + "\n") * 2) and err.startswith("tavik: argument 2: ")


def run_redirected(redirections: str, *args, stdin=b""):
    """Runs the command with a shell's redirections, such as '2>&-' (standard error closed)."""
    script = f'exec "$@" {redirections}'
    result = subprocess.run(["sh", "-c", script, "sh", *TAVIK, *map(str, args)], input=stdin,
                            capture_output=True, env=ENV, cwd="/")
    return result.returncode, result.stdout.decode(), result.stderr.decode()


def test_messages_never_go_to_standard_output(tmp_path, key_file):
    word = Tavik(KEY).encode(UUID.bytes)
    opts = ["encode", "--key-file", key_file]
    # Standard error closed: the key file is the first file opened, and must not receive them.
    assert run_redirected("2>&-", *opts, UUID, "bad", UUID) == (1, (word + "\n") * 2, "")
    assert key_file.read_bytes() == KEY
    assert run_redirected("2>&-", *opts, "--level", "xx", UUID) == (2, "", "")
    # Standard error open for reading only, as a shell script can leave it.
    readonly = tmp_path / "readonly"
    readonly.write_bytes(b"")
    assert run_redirected(f"2<{readonly}", *opts, UUID, "bad", UUID)[:2] == (
        1, (word + "\n") * 2)
    assert readonly.read_bytes() == b""


def run_into_closed_pipe(which: str, *args):
    """Runs the command with standard output or error ('stdout', 'stderr') a pipe nobody reads."""
    read_end, write_end = os.pipe()
    os.close(read_end)
    pipes = {"stdout": subprocess.PIPE, "stderr": subprocess.PIPE, which: write_end}
    try:
        result = subprocess.run(TAVIK + [str(a) for a in args], stdin=subprocess.DEVNULL,
                                env=ENV, cwd="/", **pipes)
    finally:
        os.close(write_end)
    return result.returncode, (result.stdout or b"").decode(), (result.stderr or b"").decode()


def test_a_reader_that_went_away():
    word = Tavik(mode="plain").encode(UUID.bytes)
    # Standard error gone: the messages are lost, the items still processed.
    assert run_into_closed_pipe("stderr", "encode", "--mode", "plain", UUID, "bad", UUID) == (
        1, (word + "\n") * 2, "")
    # Standard output gone: stop quietly, whether writing results or help.
    assert run_into_closed_pipe("stdout", "encode", "--mode", "plain", UUID) == (1, "", "")
    assert run_into_closed_pipe("stdout", "encode", "--help") == (1, "", "")


def test_a_full_disk():
    with open("/dev/full", "wb") as full:
        for args in (["encode", "--mode", "plain", str(UUID)], ["encode", "--help"], ["--version"]):
            result = subprocess.run(TAVIK + args, stdout=full, stderr=subprocess.PIPE,
                                    env=ENV, cwd="/")
            assert (result.returncode, result.stderr) == (1, b"tavik: No space left on device\n")


@pytest.mark.parametrize("redirections, args, message", [
    (">&-", ["encode", "--mode", "plain", UUID], "tavik: standard output is closed\n"),
    (">&-", ["--help"], "tavik: standard output is closed\n"),
    (f"<{os.devnull} >{os.devnull} 1<&0", ["encode", "--mode", "plain", UUID],
     "tavik: standard output is closed\n"),
    ("<&-", ["encode", "--mode", "plain"], "error: standard input is closed: give the items"),
    ("<&-", ["encode", "--key-file", "-", UUID], "error: --key-file -: standard input is closed"),
])
def test_closed_standard_streams_are_usage_errors(redirections, args, message):
    status, out, err = run_redirected(redirections, *args)
    assert (status, out) == (2, "") and message in err and "Traceback" not in err


def test_blank_lines_and_a_byte_order_mark():
    word = Tavik(mode="plain").encode(UUID.bytes)
    stdin = f"\ufeff{UUID}\n\n   \n\r\n\t{UUID}\n\ufeff{UUID}\n\n".encode()
    status, out, err = run("encode", "--mode", "plain", stdin=stdin)
    # Only a mark that starts the input is ignored; the numbers still count blank lines.
    assert (status, out) == (1, (word + "\n") * 2)
    assert err == ("tavik: line 6: not a UUID or a string of hex digits\n"
                   "tavik: 1 of 3 lines failed\n")
    assert run("decode", "--mode", "plain", stdin=f"\ufeff{word}\n\n".encode())[:2] == (
        0, f"{UUID}\n")
    assert run("encode", "--mode", "plain", stdin=b"\xef\xbb\xbf\n\n")[:2] == (0, "")
    # An empty argument is no blank line: it was meant to be an item.
    assert run("encode", "--mode", "plain", "", UUID)[0] == 1


def test_aligned_output_answers_line_for_line():
    word = Tavik(mode="plain").encode(UUID.bytes)
    lines = [str(UUID), "bad", "", "  ", "f" * 70000, UUID.hex, "{0102}"]
    opts = ["--mode", "plain", "--aligned"]
    status, out, err = run("encode", *opts, stdin="\n".join(lines).encode())
    assert status == 1 and re.findall(r"line (\d+)", err) == ["2", "5", "7"]
    assert out.splitlines() == [word, "", "", "", "", word, ""]
    # Through decode and back, blank lines and all.
    assert run("decode", *opts, stdin=out.encode())[:2] == (
        0, "\n".join([str(UUID), "", "", "", "", str(UUID), ""]) + "\n")
    assert run("encode", *opts, "bad", UUID, "")[:2] == (1, f"\n{word}\n\n")


def read_line(stream, timeout=30.0) -> str:
    assert select.select([stream], [], [], timeout)[0], "no answer while the input is open"
    return stream.readline().decode()


def test_streaming_answers_each_line_before_the_input_ends():
    with subprocess.Popen(TAVIK + ["encode", "--mode", "plain"], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd="/",
                          env=ENV) as proc:
        for _ in range(3):
            u = uuid.uuid4()
            proc.stdin.write(f"{u}\n".encode())
            proc.stdin.flush()
            assert read_line(proc.stdout) == Tavik(mode="plain").encode(u.bytes) + "\n"
        proc.stdin.write(b"oops\n")
        proc.stdin.flush()
        assert read_line(proc.stderr).startswith("tavik: line 4: ")
        proc.stdin.close()
        assert proc.wait(timeout=30) == 1


def wait_on_fifo(proc: subprocess.Popen, fifo: Path) -> int | None:
    """Returns once ``proc`` waits on ``fifo``: in open() where /proc shows it, else in read()
    (a writer, returned, then holds the FIFO open without writing)."""
    wchan = Path(f"/proc/{proc.pid}/wchan")
    for _ in range(300):
        if wchan.exists() and wchan.read_text() == "wait_for_partner":
            return None
        try:  # succeeds once a reader has the FIFO open, and lets its open() return
            return os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
        except OSError:
            pass
        assert proc.poll() is None
        select.select([], [], [], 0.1)
    raise AssertionError("the command never opened the FIFO")


def interruptible() -> None:
    """Gives the command the interrupt key's default action: a test run started in the
    background of a shell without job control inherits SIGINT ignored, and the command would
    never see it (and the test would wait for it forever)."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def test_ctrl_c_exits_130_quietly(tmp_path):
    fifo = tmp_path / "key"
    os.mkfifo(fifo)
    with subprocess.Popen(TAVIK + ["encode", "--key-file", fifo], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd="/",
                          env=ENV, preexec_fn=interruptible) as proc:
        writer = wait_on_fifo(proc, fifo)
        proc.send_signal(signal.SIGINT)
        assert proc.wait(timeout=30) == 130
        assert proc.stdout.read() == proc.stderr.read() == b""
    if writer is not None:
        os.close(writer)
    # While items are read, with an answer already given.
    with subprocess.Popen(TAVIK + ["encode", "--mode", "plain"], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd="/",
                          env=ENV, preexec_fn=interruptible) as proc:
        proc.stdin.write(f"{UUID}\n".encode())
        proc.stdin.flush()
        assert read_line(proc.stdout) == Tavik(mode="plain").encode(UUID.bytes) + "\n"
        proc.send_signal(signal.SIGINT)
        assert proc.wait(timeout=30) == 130
        assert proc.stdout.read() == proc.stderr.read() == b""


def test_streams_left_non_blocking(tmp_path):
    # Another process sharing a pipe or terminal may set O_NONBLOCK on it.
    word = Tavik(mode="plain").encode(UUID.bytes)
    read_end, write_end = os.pipe()
    os.set_blocking(read_end, False)
    with subprocess.Popen(TAVIK + ["encode", "--mode", "plain"], stdin=read_end,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd="/",
                          env=ENV) as proc:
        os.close(read_end)
        with os.fdopen(write_end, "wb", buffering=0) as items:
            items.write(f"{UUID}\n".encode())
            assert read_line(proc.stdout) == word + "\n"
            # The next read finds nothing: the command waits, silent, for more.
            assert not select.select([proc.stderr], [], [], 0.5)[0]
            items.write(f"{UUID}\n".encode())
        assert proc.stdout.read() == f"{word}\n".encode() and proc.wait(timeout=30) == 0
    # Output larger than a pipe holds, to a reader that is not reading yet.
    ids = tmp_path / "ids"
    ids.write_text(f"{UUID}\n" * 5000)
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    with ids.open("rb") as stdin, os.fdopen(read_end, "rb") as out:
        with subprocess.Popen(TAVIK + ["encode", "--mode", "plain"], stdin=stdin,
                              stdout=write_end, stderr=subprocess.PIPE, cwd="/", env=ENV) as proc:
            os.close(write_end)
            assert not select.select([proc.stderr], [], [], 1.0)[0]  # still running, silent
            assert out.read() == f"{word}\n".encode() * 5000
            assert proc.wait(timeout=30) == 0 and proc.stderr.read() == b""


# ---- Batches of lines: each line answered as if it came alone ---------------------------------

# Each changes a line in a way that the parser of a line takes or refuses: white space around
# it or instead of it, another case or form, a hyphen moved or in place of a digit, a character
# that is no digit, a digit more or less, bytes that are not UTF-8.
IDENTIFIER_SPOILERS = [
    lambda line: b"  " + line, lambda line: line + b"\r", lambda line: line.upper(),
    lambda line: b"{" + line + b"}", lambda line: b"urn:uuid:" + line,
    lambda line: line[:7] + line[8:9] + line[7:8] + line[9:],
    lambda line: line[:5] + b"--" + line[7:], lambda line: b" " + line[1:],
    lambda line: line[:-1] + b"g", lambda line: line + b"0", lambda line: line[:-1],
    lambda line: b"f" + line[1:],  # too large for the width or the modulus
    lambda line: line.replace(b"-", b""), lambda line: b"\xff" + line[1:],
]
# Two lines that together keep the length of a batch.
IDENTIFIER_PAIR = [lambda line: line + b"0", lambda line: line[:-1]]
CODE_WORD_SPOILERS = [
    lambda line: line.lower().replace(b"-", b" "), lambda line: line[:-3],
    lambda line: line + b"\xff", lambda line: b"\xe2\x82" + line,
    lambda line: line[:4] + line[5:6] + line[4:5] + line[6:], lambda line: b"KA-KA-KA",
    # One ending confused, which recover corrects.
    lambda line: re.sub(rb"(?<=[AEIOU])N(?=[^AEIOU]|$)", b"L", line, count=1),
]
# Blank lines, which standard input skips; an argument cannot be one.
BLANKS = [lambda line: b" \t" * (len(line) // 2), lambda line: b""]

# Options, and identifiers that they take: every one fits, so a batch of them in one form takes
# the shortest way, which one odd line must turn away from.
SEALED = ["--key-hex", KEY.hex()]
PLAIN = ["--mode", "plain"]
BATCH_CASES = [
    (SEALED, lambda rng: rng.randbytes(16)),
    ([*PLAIN, "--bits", "125"], lambda rng: bytes([rng.randrange(32)]) + rng.randbytes(15)),
    ([*PLAIN, "--bits", "64"], lambda rng: rng.randbytes(8)),
    ([*PLAIN, "--bits", "20"], lambda rng: bytes([rng.randrange(16)]) + rng.randbytes(2)),
    ([*PLAIN, "--modulus", "1000"], lambda rng: rng.randrange(1000).to_bytes(2, "big")),
    ([*SEALED, "--level", "ko", "--check", "2"], lambda rng: rng.randbytes(16)),
]


def identifier_lines(ids: list[bytes], as_uuid: bool) -> list[bytes]:
    return [str(uuid.UUID(bytes=d)).encode() if as_uuid else d.hex().encode() for d in ids]


def code_word_lines(options: list[str], ids: list[bytes]) -> list[bytes]:
    args = cli.build_parser().parse_args(["encode", *options])
    return [word.encode() for word in cli.build_codec(args).encode_many(ids)]


def spoiled(rng: random.Random, lines: list[bytes], spoilers: list) -> list[bytes]:
    """``lines`` with a line changed by each of ``spoilers`` inserted at random places."""
    lines = list(lines)
    for spoil in spoilers:
        lines.insert(rng.randrange(len(lines) + 1), spoil(rng.choice(lines)))
    return lines


def batch_and_line_answers(argv: list[str], batch: list[bytes]) -> tuple[list, list]:
    """The batch handler's answer to ``batch`` line by line (None for a line that it leaves to
    the line handler), and the line handler's answer to each line (None for a failure or a blank
    line), in this process."""
    args = cli.build_parser().parse_args(argv)
    codec = cli.build_codec(args)
    answer = cli.make_batch_handler(args, codec)(cli.Batch(b"\n".join(batch)))
    if not isinstance(answer, list):
        answer = bytes(answer).decode().split("\n")
        assert answer.pop() == ""
    handle = cli.make_handler(args, codec)
    expected = []
    for line in batch:
        text = line.decode("utf-8", "replace")
        try:
            expected.append(handle(text) if text.strip() else None)
        except cli.ItemError:
            expected.append(None)
    return answer, expected


@pytest.mark.parametrize("options, make_id", BATCH_CASES)
def test_a_batch_answers_each_line_as_the_line_handler(options, make_id):
    rng = random.Random(" ".join(options))
    ids = [make_id(rng) for _ in range(200)]
    word_lines = code_word_lines(options, ids)
    batches = [("encode", identifier_lines(ids, False), IDENTIFIER_SPOILERS),
               ("decode", word_lines, CODE_WORD_SPOILERS),
               ("decode --hex", word_lines, CODE_WORD_SPOILERS)]
    if len(ids[0]) == 16:
        batches.append(("encode", identifier_lines(ids, True), IDENTIFIER_SPOILERS))
    if "plain" not in options:
        batches.append(("recover", word_lines, CODE_WORD_SPOILERS))
    for command, lines, spoilers in batches:
        spoilers = spoilers + BLANKS
        argv = [*command.split(), *options]
        answer, expected = batch_and_line_answers(argv, lines)
        assert answer == expected and None not in answer
        # One odd line, or a pair; then all of them.
        pairs = [IDENTIFIER_PAIR] if command == "encode" else []
        for odd in [[spoil] for spoil in spoilers] + pairs:
            answer, expected = batch_and_line_answers(argv, spoiled(rng, lines, odd))
            assert answer == expected
        answer, expected = batch_and_line_answers(argv, spoiled(rng, lines, spoilers * 2))
        assert answer == expected and None in answer


def test_lines_come_whole_whatever_the_reads(tmp_path):
    rng = random.Random(5)
    limit = cli.MAX_LINE_LEN
    lengths = [0, 1, 36, 36, 36, 1000, limit - 1, limit, limit + 1, limit + 3, 3 * limit, 7]
    lines = [rng.randbytes(n).replace(b"\n", b"x") for n in lengths * 4]
    rng.shuffle(lines)
    data = b"\n".join(lines)  # the last line without its newline
    path = tmp_path / "lines"
    path.write_bytes(data)

    def read(fd: int) -> list:
        got = []
        for batch in cli.stdin_batches(fd):
            assert len(batch) == len(list(batch)) > 0
            # A line too long may come as None, or whole if one read completes it.
            got += [None if line is None or len(line) > limit else line for line in batch]
        return got

    expected = [None if len(line) > limit else line for line in lines]
    with path.open("rb") as f:  # reads of READ_LEN
        assert read(f.fileno()) == expected
    # Through a pipe written in pieces of every size, so that the reads end anywhere.
    read_end, write_end = os.pipe()

    def write() -> None:
        with os.fdopen(write_end, "wb", buffering=0) as pipe:
            start = 0
            while start < len(data):
                size = rng.choice([1, 2, 37, 4096, limit, 2 * limit])
                pipe.write(data[start:start + size])
                start += size

    writer = threading.Thread(target=write)
    writer.start()
    try:
        assert read(read_end) == expected
    finally:
        writer.join()
        os.close(read_end)


def lines_and_arguments(args: list[str], lines: list[bytes]) -> tuple[tuple, tuple]:
    """The exit status and the output, messages merged in, for ``lines`` on standard input and
    for the same items as arguments, which go one by one (their messages then say line too)."""
    def merged(argv: list, stdin: bytes) -> tuple[int, bytes]:
        result = subprocess.run(TAVIK + argv, input=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, env=ENV, cwd="/")
        assert b"Traceback" not in result.stdout
        return result.returncode, result.stdout
    status, out = merged([*args, "--", *lines], b"")
    by_argument = (status, out.replace(b"tavik: argument ", b"tavik: line ")
                   .replace(b" arguments failed\n", b" lines failed\n"))
    return merged(args, b"\n".join(lines) + b"\n"), by_argument


@pytest.mark.parametrize("options, make_id", [BATCH_CASES[0], BATCH_CASES[3], BATCH_CASES[4]])
def test_lines_with_failures_answer_as_arguments(options, make_id):
    # Output and messages in their order, with the line numbers, and --aligned.
    rng = random.Random(" ".join(options))
    ids = [make_id(rng) for _ in range(100)]
    lines = spoiled(rng, identifier_lines(ids, False), IDENTIFIER_SPOILERS)
    by_line, by_argument = lines_and_arguments(["encode", *options], lines)
    assert by_line == by_argument and by_line[0] == 1
    words = spoiled(rng, code_word_lines(options, ids), CODE_WORD_SPOILERS)
    by_line, by_argument = lines_and_arguments(["decode", "--aligned", *options], words)
    assert by_line == by_argument and by_line[0] == 1
    # Blank lines are no items, not even the empty identifier that a modulus would take.
    assert run("encode", *options, stdin=b"\n \n" + lines[0] + b"\n\n")[:2] == (
        run("encode", *options, stdin=lines[0])[:2])


def test_ten_thousand_uuids_through_a_shell_pipe(tmp_path):
    rng = random.Random(11)
    ids = [str(uuid.UUID(bytes=rng.randbytes(16))) for _ in range(10_000)]
    (tmp_path / "ids").write_text("\n".join(ids) + "\n")
    tavik = " ".join(shlex.quote(a) for a in TAVIK)
    opts = "--key-env TAVIK_TEST_KEY --level numeric --check 2 --separator ' '"
    result = subprocess.run(f"{tavik} encode {opts} < ids | {tavik} decode {opts}", shell=True,
                            cwd=tmp_path, env=ENV, capture_output=True, text=True, check=True)
    assert result.stdout.splitlines() == ids and result.stderr == ""


V7 = uuid_v7(1700807049216, bytes(range(10)))

# Options and the builder chain they stand for; every case round-trips through the CLI.
OPTION_CASES = [
    (["--level", "ko"], lambda k: Tavik(k, "ko"), UUID.bytes),
    (["--mode", "open"], lambda k: Tavik(k, mode="open"), V7.bytes),
    (["--mode", "open", "--epoch", "2023-11-14T22:13:20Z", "--granularity", "day"],
     lambda k: Tavik(k, mode="open").with_timestamp_config(1700000000000, "day"), V7.bytes),
    (["--mode", "open", "--epoch", "1700000000000"],
     lambda k: Tavik(k, mode="open").with_timestamp_config(1700000000000), V7.bytes),
    (["--mode", "plain", "--bits", "64"], lambda k: Tavik(k, mode="plain", bit_width=64),
     bytes(range(1, 9))),
    (["--bits", "20"], lambda k: Tavik(k, bit_width=20), b"\x0a\xbc\xde"),
    (["--modulus", "0xF4240"], lambda k: Tavik(k).with_modulus(10**6), b"\x01\xe2\x40"),
    (["--cipher", "shuffle"], lambda k: Tavik(k).with_cipher("shuffle"), UUID.bytes),
    (["--mode", "plain", "--cipher", "feistel"],
     lambda k: Tavik(k, mode="plain").with_cipher("feistel", k), UUID.bytes),
    (["--case", "lower", "--check", "3"],
     lambda k: Tavik(k).with_case("lower").with_check_syllables(3), UUID.bytes),
    (["--separator", "\u00b7"], lambda k: Tavik(k).with_separator("\u00b7"), UUID.bytes),
    (["--chunk", "none"], lambda k: Tavik(k).with_chunk_none(), UUID.bytes),
    (["--chunk", "fixed:4"], lambda k: Tavik(k).with_chunk_fixed(4), UUID.bytes),
    (["--chunk", "pattern:3,4,3"], lambda k: Tavik(k).with_chunk_pattern([3, 4, 3]), UUID.bytes),
]


@pytest.mark.parametrize("options, build, data", OPTION_CASES)
def test_options_match_the_builders(options, build, data):
    # Mode plain takes a key only for the feistel cipher.
    key_opts = ["--key-hex", KEY.hex()] if "plain" not in options or "feistel" in options else []
    word = build(KEY).encode(data)
    assert run("encode", *options, *key_opts, data.hex())[:2] == (0, word + "\n")
    status, out, _ = run("decode", *options, *key_opts, "--hex", word)
    assert (status, out) == (0, data.hex() + "\n")
    if "plain" not in options:
        assert run("recover", *options, *key_opts, "--hex", word)[:2] == (0, data.hex() + "\n")


def test_identifiers_must_fit_the_width():
    common = ["encode", "--mode", "plain"]
    assert "--bits 64 takes exactly 8" in run(*common, "--bits", "64", UUID)[2]
    assert "--bits 64 takes exactly 8" in run(*common, "--bits", "64", "0102")[2]
    assert "does not fit in 20 bits" in run(*common, "--bits", "20", "1abcde")[2]
    assert "not below the modulus" in run(*common, "--modulus", "1000", "03e8")[2]
    assert "at most 2" in run(*common, "--modulus", "1000", "000001")[2]
    assert run(*common, "--modulus", "1000", "07")[0] == 0


def test_decode_output_and_recover():
    codec = Tavik(KEY).with_check_syllables(2)
    word = codec.encode(UUID.bytes)
    opts = ["--key-hex", KEY.hex(), "--check", "2"]
    assert run("decode", *opts, word.lower().replace("-", " "))[:2] == (0, f"{UUID}\n")
    assert run("decode", *opts, "--hex", word)[:2] == (0, UUID.hex + "\n")
    # One ending confused (l for n or r, and back) is corrected by recover, not by decode.
    match = re.search(r"(?<=[AEIOU])[NLR](?=[^AEIOU]|$)", word)
    typo = word[: match.start()] + ("L" if match.group() != "L" else "N") + word[match.end():]
    assert run("decode", *opts, typo)[0] == 1
    assert run("recover", *opts, typo, "KA-KA-KA") == (
        1, f"{UUID}\n",
        "tavik: argument 2: input normalization failed\ntavik: 1 of 2 arguments failed\n")


# ---- Key rotation, the summary of failures, decimal identifiers ------------------------------


def test_rekey_moves_a_million_words_in_one_pass(tmp_path):
    # Three check syllables: with one, a word in 700 would also pass the other key's check.
    new, old = Tavik(b"new key").with_check_syllables(3), Tavik(b"old key").with_check_syllables(3)
    (tmp_path / "new").write_bytes(b"new key")
    (tmp_path / "old").write_bytes(b"old key")
    ids = random.Random(5).randbytes(16 * 1_000_000)
    old_words = old.encode_many(ids)
    old_words[123_456] = "NOT A WORD"
    stdin = ("\n".join(old_words) + "\n").encode()
    status, out, err = run("rekey", "--check", "3", "--key-file", tmp_path / "new",
                           "--old-key-file", tmp_path / "old", stdin=stdin)
    assert status == 1
    assert err == ("tavik: line 123457: input normalization failed\n"
                   "tavik: 1 of 1000000 lines failed\n")
    expected = new.encode_many(ids)
    del expected[123_456]
    assert out.splitlines() == expected
    # Decoding reads under the old key as well, and old words keep decoding under both.
    status, out, err = run("decode", "--check", "3", "--key-file", tmp_path / "new",
                           "--old-key-file", tmp_path / "old", "--hex", old_words[0],
                           expected[1])
    assert (status, out, err) == (0, f"{ids[:16].hex()}\n{ids[16:32].hex()}\n", "")
    assert run("rekey", "--check", "3", "--key-file", tmp_path / "new", old_words[0])[0] == 2
    # With the settings text in place of the options, old keys get the same settings.
    assert run("rekey", "--settings", new.settings, "--key-file", tmp_path / "new",
               "--old-key-file", tmp_path / "old", old_words[0])[:2] == (0, expected[0] + "\n")


def test_failures_end_with_a_count_and_the_likely_causes(tmp_path):
    word = Tavik(b"the key").encode(UUID.bytes)
    (tmp_path / "echoed").write_bytes(b"the key\n")
    status, out, err = run("decode", "--key-file", tmp_path / "echoed", stdin=f"{word}\n".encode() * 3)
    assert status == 1 and out == ""
    lines = err.splitlines()
    assert lines[0] == "tavik: line 1: check verification failed — input may be corrupted"
    assert lines[1].startswith("tavik: the key ends with a newline, which is part of the key")
    assert lines[4].startswith("tavik: every word failed: the usual causes are another key")
    assert lines[5:] == ["tavik: 3 of 3 lines failed"]
    assert sum("newline" in line for line in lines) == 1


def test_decimal_identifiers_and_chunk_sizes_of_zero():
    opts = ["--mode", "plain", "--modulus", "1000003"]
    status, word, _ = run("encode", *opts, "--decimal", "999999", "1000003")
    assert status == 1
    codec = Tavik(mode="plain").with_modulus(1000003)
    assert word == codec.encode((999999).to_bytes(3, "big")) + "\n"
    stdin = (word * 600).encode()  # the batch path
    assert run("decode", *opts, "--decimal", stdin=stdin) == (0, "999999\n" * 600, "")
    assert run("decode", "--mode", "plain", "--decimal", word)[0] == 2
    for chunk in ("fixed:0", "pattern:", "pattern:3,0"):
        status, _, err = run("encode", "--mode", "plain", "--chunk", chunk, UUID)
        assert status == 2 and "whole numbers of 1 or more" in err


def test_settings_command_and_option(key_file, tmp_path):
    options = ["--mode", "open", "--modulus", "1000003", "--cipher", "feistel", "--check", "2",
               "--separator", "\u00b7", "--epoch", "2024-01-01", "--granularity", "day"]
    # The settings command never reads the key: a key option only says one will be given.
    status, text, err = run("settings", *options, "--key-file", tmp_path / "absent")
    assert (status, err) == (0, "")
    codec = (Tavik(KEY, mode="open").with_modulus(1000003).with_cipher("feistel", KEY)
             .with_check_syllables(2).with_separator("\u00b7")
             .with_timestamp_config(1704067200000, "day"))
    assert text == codec.settings + "\n"
    # A key option decides whether --cipher feistel runs under a key in mode plain.
    assert run("settings", "--mode", "plain", "--cipher", "feistel")[1] == (
        Tavik(mode="plain").with_cipher("feistel").settings + "\n")
    settings_file = tmp_path / "settings"
    settings_file.write_text(text)  # with its line break
    word = codec.encode((12345).to_bytes(3, "big"))
    for given in (text.strip(), "@" + str(settings_file)):
        assert run("encode", "--settings", given, "--key-file", key_file, "003039") == (
            0, word + "\n", "")
        assert run("decode", "--settings", given, "--key-file", key_file, "--hex", word) == (
            0, "003039\n", "")
        # The settings command checks a text and writes it in its usual form.
        assert run("settings", "--settings", given) == (0, text, "")


@pytest.mark.parametrize("args, message", [
    (["encode", "--settings", "tavik/1 level=eu", "--mode", "plain"], "drop --mode"),
    (["decode", "--check", "2", "--settings", "tavik/1"], "drop --check"),
    (["encode", "--settings", "tavik/1 level=eu"], "--settings: settings text lacks the field"),
    (["encode", "--settings", "@/nonexistent/settings"], "--settings @FILE: cannot read"),
    (["encode", "--settings", "tavik/1 level=universal mode=sealed bits=128 cipher=feistel8:key "
      "check=1 case=upper chunk=balanced sep=U+002D"], "mode sealed needs a non-empty key"),
    (["encode", "--settings", "tavik/1 level=universal mode=plain bits=128 "
      "cipher=feistel8:cipher_key check=1 case=upper chunk=balanced sep=U+002D"],
     "cipher feistel8:cipher_key needs a non-empty key"),
    (["encode", "--settings", "tavik/1 level=universal mode=plain bits=128 "
      "cipher=feistel8:public check=1 case=upper chunk=balanced sep=U+002D", "--key-hex", "00"],
     "would ignore --key-hex"),
    (["recover", "--settings", "tavik/1 level=universal mode=plain bits=128 "
      "cipher=feistel8:public check=1 case=upper chunk=balanced sep=U+002D"], "mode plain"),
])
def test_settings_refusals(args, message):
    status, out, err = run(*args)
    assert (status, out) == (2, "")
    assert message in err
