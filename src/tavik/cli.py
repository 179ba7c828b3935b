"""The command line: ``tavik encode``, ``decode``, ``recover``, ``rekey`` and ``settings``.

Identifiers or code words come as arguments, or one per line on standard input when there are
none. Standard input is read in chunks and answered chunk by chunk, so memory stays constant
however long the stream is, and a program that writes one line and waits gets its answer at once.

Exit status: 0 when every item succeeded, 1 when any item failed (each failure is reported on
standard error with its line or argument number; the other items are still processed) or the
output could not be written, 2 for a usage error (bad options, no usable key, a closed standard
stream that is needed), before any item is read, and 130 when interrupted (Ctrl-C). Messages go
to standard error only, and never repeat a value from the command line.
"""

from __future__ import annotations

import argparse
import binascii
import datetime
import fcntl
import os
import re
import select
import sys
import unicodedata
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import TYPE_CHECKING, Any, NoReturn

from . import Keyring, Tavik, __version__

if TYPE_CHECKING:
    from _typeshed import SupportsWrite

# The constructor's default epoch of the time prefix (2023-11-14 22:13:20 UTC).
DEFAULT_EPOCH_MS = 1700000000000

# Longest line read from standard input; longer lines are refused without being held in memory.
MAX_LINE_LEN = 64 * 1024
READ_LEN = 64 * 1024
# What a pipe on standard input is grown to hold. The usual 64 KiB is less than one batch's
# output, which keeps the two ends of `tavik encode | tavik decode` waiting on each other.
PIPE_LEN = 256 * 1024
# Largest key file read; a key is a few dozen bytes, and this stops `--key-file /dev/urandom`.
MAX_KEY_LEN = 1024 * 1024
# Largest settings file read: a settings text is one short line.
MAX_SETTINGS_LEN = 64 * 1024
# The UTF-8 byte-order mark, which some editors put at the start of a text file.
BOM = b"\xef\xbb\xbf"

LEVELS = ["universal", "eu", "en", "numeric", "ko"]
MODES = ["sealed", "open", "plain"]
CIPHERS = ["feistel", "feistel8", "shuffle", "shuffle4"]
GRANULARITIES = ["second", "minute", "hour", "day", "week", "month"]

_HEX = re.compile(r"[0-9a-fA-F]*")
_HYPHENATED_UUID = re.compile(
    r"([0-9a-fA-F]{8})-([0-9a-fA-F]{4})-([0-9a-fA-F]{4})-([0-9a-fA-F]{4})-([0-9a-fA-F]{12})"
)


class ItemError(Exception):
    """One identifier or code word that could not be handled; the others go on."""


class UsageError(Exception):
    """A problem with the options; reported with the usage line, status 2."""


# ---- Standard streams -------------------------------------------------------------------------

# Each standard descriptor, its stream in sys and the access modes that let it serve.
_STANDARD_FDS = ((0, "stdin", (os.O_RDONLY, os.O_RDWR)),
                 (1, "stdout", (os.O_WRONLY, os.O_RDWR)),
                 (2, "stderr", (os.O_WRONLY, os.O_RDWR)))


def point_at_devnull(fd: int) -> None:
    """Points ``fd`` at /dev/null: writes to it vanish, reads from it end at once."""
    null = os.open(os.devnull, os.O_RDWR)
    if null != fd:
        os.dup2(null, fd)
        os.close(null)


def guard_standard_fds() -> set[int]:
    """The standard descriptors that cannot serve; the closed ones now hold /dev/null.

    A closed descriptor is the next one that open() returns: the key file, or a pipe reopened
    through /proc, would become standard error and receive the messages. /dev/null in its place
    keeps every later file off it. A descriptor open the wrong way counts as closed (a shell
    script that starts Python with `2>&-` can leave its own file, read-only, as descriptor 2).
    A stream that Python found closed at start (sys.stderr is None) stays unusable, and its
    descriptor is left to whoever has it now.
    """
    unusable = set()
    for fd, name, modes in _STANDARD_FDS:
        try:
            usable = (fcntl.fcntl(fd, fcntl.F_GETFL) & os.O_ACCMODE) in modes
        except OSError:  # closed
            usable = False
        if not usable:
            point_at_devnull(fd)
        if not usable or getattr(sys, name) is None:
            unusable.add(fd)
    return unusable


def say(message: str) -> None:
    """Writes one line to standard error, and nowhere else.

    print(file=sys.stderr) writes to standard output when standard error was closed at start
    (sys.stderr is None), where a consumer takes the message for a result. A message that cannot
    be written is dropped, and standard error then points at /dev/null, so that the interpreter's
    last flush does not fail again (which would turn the exit status into 120).
    """
    stream = sys.stderr
    if stream is None:
        return
    try:
        stream.write(message + "\n")
        stream.flush()
    except (OSError, ValueError):  # ValueError: the stream was closed
        try:
            point_at_devnull(stream.fileno())
        except (OSError, ValueError):
            pass


# ---- Options --------------------------------------------------------------------------------


class _ParseError(Exception):
    """A complaint of argparse, held back until the values it may quote are blanked out."""

    def __init__(self, parser: Parser, message: str) -> None:
        super().__init__(message)
        self.parser = parser


class Parser(argparse.ArgumentParser):
    """An argument parser whose messages never repeat a value given on the command line.

    Any value may be a key: `--keyhex=...` mistyped, or `--key-hex ...` put before the command,
    where the key is taken for the command's name. Standard error ends up in logs that outlive
    the process list, so a rejected choice names the valid ones only, an unknown option is named
    only when no value can hide in its name, and any other message of argparse has the quoted
    texts and the command line's values in it blanked out.
    """

    def _check_value(self, action: argparse.Action, value: object) -> None:
        # argparse's own check quotes the value it rejects.
        if action.choices is not None and value not in action.choices:
            choices = ", ".join(map(str, action.choices))
            raise argparse.ArgumentError(action, f"invalid choice; choose from {choices}")

    def error(self, message: str) -> NoReturn:
        raise _ParseError(self, message)

    def _print_message(self, message: str, file: SupportsWrite[str] | None = None) -> None:
        # Help and version text. argparse's own version drops what cannot be written, or writes
        # it to standard error when standard output is None; here a failure stops the run.
        if message and file is not None:
            file.write(message)

    def fail(self, message: str) -> NoReturn:
        """Writes the usage line and ``message`` to standard error and exits with status 2."""
        say(self.format_usage().rstrip("\n"))
        say(f"{self.prog}: error: {message}")
        raise SystemExit(2)

    def parse_args(  # type: ignore[override]
        self, args: Sequence[str] | None = None, namespace: argparse.Namespace | None = None
    ) -> argparse.Namespace:
        argv = sys.argv[1:] if args is None else list(args)
        words = _known_words(self)
        # A value glued to -h: argparse up to Python 3.12 rejects it, 3.13 shows the help and
        # exits 0. It is a usage error on every version.
        options = argv[:argv.index("--")] if "--" in argv else argv
        if any(arg.startswith("-h") and len(arg) > 2 for arg in options):
            command = self._commands().get(argv[0]) if argv else None
            (command or self).fail("argument -h/--help: ignored explicit argument ...")
        try:
            parsed, extras = self.parse_known_args(argv, namespace)
        except _ParseError as exc:
            exc.parser.fail(_blank_values(str(exc), argv, words))
        if extras:
            # The command's own usage line, when the command was read.
            getattr(parsed, "parser", self).fail(_unrecognized(extras, words))
        return parsed

    def _commands(self) -> dict[str, Parser]:
        for action in self._actions:
            if isinstance(action.choices, dict):
                return action.choices
        return {}


def _known_words(parser: argparse.ArgumentParser) -> dict[str, bool]:
    """Every option string, choice and command name of ``parser`` and its commands.

    The value says whether the word is an option that takes a value.
    """
    words = {"-": False, "--": False}
    for action in parser._actions:
        words.update((option, action.nargs != 0) for option in action.option_strings)
        for choice, sub in (action.choices.items() if isinstance(action.choices, dict)
                            else ((choice, None) for choice in action.choices or ())):
            words.setdefault(str(choice), False)
            if isinstance(sub, argparse.ArgumentParser):
                words.update(_known_words(sub))
    return words


_QUOTED = re.compile(r"'(?:[^'\\]|\\.)*'" + r'|"(?:[^"\\]|\\.)*"')


def _blank_values(message: str, argv: Sequence[str], known: dict[str, bool]) -> str:
    """``message`` with '...' for every quoted text and every value of ``argv`` in it."""
    values = {part for arg in argv for part in (arg, *arg.split("=", 1))
              if part and part not in known}
    # One pass, longest values first, so that no replacement is itself searched again.
    alternatives = [_QUOTED.pattern] + [
        r"(?<![\w-])" + re.escape(value) + r"(?![\w-])"
        for value in sorted(values, key=len, reverse=True)]
    return re.sub("|".join(alternatives), "...", message)


_OPTION_NAME = re.compile(r"--?[A-Za-z]+(?:-[A-Za-z]+)*")


def _unrecognized(extras: Sequence[str], known: dict[str, bool]) -> str:
    """Names the first of ``extras`` without repeating a value that could be a key."""
    first = extras[0]
    if len(first) < 2 or not first.startswith("-"):
        return ("an argument after the options: give all the items together, before or after "
                "the options")
    name = first.partition("=")[0]
    for option in sorted((o for o, takes_value in known.items() if takes_value),
                         key=len, reverse=True):
        if name.startswith(option) and name != option:  # a value glued on: --key-hexVALUE
            return f"unrecognized option starting with {option}: write {option} VALUE"
    message = "unrecognized option"
    if _OPTION_NAME.fullmatch(name) and len(name) <= 32:
        message += " " + name
    if name.lower().startswith("--key"):
        message += " (the key options are --key-file, --key-env and --key-hex)"
    return message


def _int_arg(text: str) -> int:
    # Decimal, or 0x/0o/0b with an optional underscore between digits; leading zeros are fine.
    for base in (0, 10):
        try:
            return int(text, base)
        except ValueError:
            pass
    raise argparse.ArgumentTypeError("expected a whole number (decimal, or hex with 0x)")


def _epoch_arg(text: str) -> int:
    """Milliseconds since 1970-01-01 UTC, or an ISO 8601 date or time (UTC unless it says)."""
    try:
        ms = int(text, 10)
    except ValueError:
        try:
            when = datetime.datetime.fromisoformat(text)
        except ValueError:
            raise argparse.ArgumentTypeError(
                "expected milliseconds since 1970 or an ISO 8601 date such as 2024-01-01"
            ) from None
        if when.tzinfo is None:
            when = when.replace(tzinfo=datetime.timezone.utc)
        unix = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)
        ms = (when - unix) // datetime.timedelta(milliseconds=1)
    if not -(2**63) <= ms < 2**63:
        raise argparse.ArgumentTypeError("out of range")
    return ms


def _chunk_arg(text: str) -> tuple[str, object]:
    """balanced | none | fixed:N | pattern:A,B,..."""
    kind, colon, rest = text.partition(":")
    try:
        if kind in ("balanced", "none") and not colon:
            return kind, None
        # A group of no letters or no syllables is no group: sizes start at 1.
        if kind == "fixed" and colon:
            size = int(rest, 10)
            if 1 <= size < 2**64:
                return kind, size
        if kind == "pattern" and colon and rest:
            sizes = [int(part, 10) for part in rest.split(",")]
            if all(1 <= size < 2**64 for size in sizes):
                return kind, sizes
    except ValueError:
        pass
    raise argparse.ArgumentTypeError(
        "expected balanced, none, fixed:N or pattern:A,B,... with whole numbers of 1 or more"
    )


def _add_codec_options(parser: argparse.ArgumentParser) -> None:
    group = parser.add_argument_group("code word settings (use the same ones to encode and decode)")
    group.add_argument("--settings", metavar="TEXT",
                       help="every setting below in one settings text (as `tavik settings` "
                            "prints it), or @FILE to read it from a file; it replaces the other "
                            "settings options")
    group.add_argument("--level", choices=LEVELS,
                       help="which letters spell the syllables (default: universal)")
    group.add_argument("--mode", choices=MODES,
                       help="sealed: keyed cipher and check; open: as sealed, plus a time prefix "
                            "for UUID versions 1, 6 and 7; plain: public cipher, CRC check, no key "
                            "(default: sealed)")
    domain = group.add_mutually_exclusive_group()
    domain.add_argument("--bits", type=_int_arg, metavar="N",
                        help="identifiers of N bits, 16 to 128: exactly ceil(N/8) bytes, "
                             "high bits first (default: 128)")
    domain.add_argument("--modulus", type=_int_arg, metavar="M",
                        help="identifiers are numbers below M (2 to 2**128-1), given as hex of at "
                             "most as many bytes as M needs")
    group.add_argument("--cipher", choices=CIPHERS,
                       help="feistel (feistel8): keyed with the key given, or the public key "
                            "without one; shuffle (shuffle4): always the public key (default: "
                            "feistel under the key, or the public key in mode plain)")
    group.add_argument("--case", choices=["upper", "lower"],
                       help="letter case of the code words written (default: upper)")
    group.add_argument("--check", type=_int_arg, metavar="N",
                       help="number of check syllables, 1 to 8 (default: 1; use 2 or more with "
                            "recover)")
    group.add_argument("--separator", metavar="S",
                       help="one non-letter character between the five groups (default: -)")
    group.add_argument("--chunk", type=_chunk_arg, metavar="LAYOUT",
                       help="balanced (five groups, the default), none, fixed:N (groups of about "
                            "N letters) or pattern:A,B,... (groups of A, B, ... syllables)")
    group.add_argument("--epoch", type=_epoch_arg, metavar="WHEN",
                       help="origin of the time prefix of mode open: milliseconds since 1970 or "
                            "an ISO 8601 date (default: 2023-11-14T22:13:20Z)")
    group.add_argument("--granularity", choices=GRANULARITIES,
                       help="unit of the time prefix of mode open (default: month)")

    keys = parser.add_argument_group(
        "key (modes sealed and open need one; it is never printed)"
    ).add_mutually_exclusive_group()
    keys.add_argument("--key-file", metavar="PATH",
                      help="read the key from a file: its raw bytes, a trailing newline included; "
                           "'-' reads standard input, which then cannot carry the items")
    keys.add_argument("--key-env", metavar="NAME",
                      help="use the text of the environment variable NAME, as UTF-8")
    keys.add_argument("--key-hex", metavar="HEX",
                      help="the key in hex on the command line, for tests and scripts. WARNING: "
                           "other users can see it in the process list (ps); prefer --key-file "
                           "or --key-env")


def _add_old_key_options(parser: argparse.ArgumentParser, required: bool) -> None:
    keys = parser.add_argument_group(
        "old keys (read words written under them too; the key options give the newest)")
    keys.add_argument("--old-key-file", metavar="PATH", action="append", default=[],
                      help="an older key, read from a file as --key-file reads it; repeat for "
                           "several" + ("; at least one old key is needed" if required else ""))
    keys.add_argument("--old-key-env", metavar="NAME", action="append", default=[],
                      help="an older key, from an environment variable; repeat for several")


def _add_decimal_option(parser: argparse.ArgumentParser, reading: bool) -> None:
    parser.add_argument("--decimal", action="store_true",
                        help="with --modulus: " + ("write identifiers as decimal numbers"
                                                   if reading else
                                                   "read identifiers as decimal numbers"))


def _add_aligned_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--aligned", action="store_true",
                        help="write one line for every item, an empty one for a failed item or "
                             "a blank line, so that output line N answers input line N (for "
                             "paste); without it only results are written")


def build_parser() -> Parser:
    parser = Parser(
        prog="tavik",
        description="Turn UUIDs and other short identifiers into pronounceable code words and "
                    "back.",
        epilog="Items come as arguments, or one per line on standard input when there are none. "
               "Exit status: 0 all items done, 1 some item failed (reported on standard error "
               "with its number), 2 usage error.",
        allow_abbrev=False,
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    encode = commands.add_parser(
        "encode", help="identifiers in, code words out", allow_abbrev=False,
        description="Write the code word of each identifier: a UUID (hyphenated, 32 hex digits, "
                    "in braces or as urn:uuid:) or, with --bits or --modulus, the hex of a "
                    "shorter identifier.")
    encode.add_argument("items", nargs="*", metavar="IDENTIFIER",
                        help="identifiers to encode; none: read them from standard input")
    encode.set_defaults(parser=encode)
    _add_aligned_option(encode)
    _add_decimal_option(encode, reading=False)
    _add_codec_options(encode)

    for name, what in (("decode", "Write the identifier of each code word."),
                       ("recover", "Like decode, but first correct one confused sound (an onset "
                                   "or a vowel ending) where exactly one correction passes the "
                                   "keyed check. Modes sealed and open only.")):
        sub = commands.add_parser(
            name, help="code words in, identifiers out" if name == "decode"
            else "like decode, correcting one confused sound", allow_abbrev=False,
            description=what + " Case, separators and spaces in a code word do not matter.")
        sub.add_argument("items", nargs="*", metavar="CODEWORD",
                         help="code words to read; none: read them from standard input")
        sub.set_defaults(parser=sub)
        sub.add_argument("--hex", action="store_true",
                         help="write plain hex of the identifier's bytes instead of UUID text")
        _add_decimal_option(sub, reading=True)
        _add_aligned_option(sub)
        _add_codec_options(sub)
        _add_old_key_options(sub, required=False)

    rekey = commands.add_parser(
        "rekey", help="code words under old keys in, the same under the new key out",
        allow_abbrev=False,
        description="Move code words to a new key in one pass: read each word under the new key "
                    "(--key-file, --key-env or --key-hex) or any old key (--old-key-file, "
                    "--old-key-env), and write it under the new key. A word that passes the "
                    "check under more than one key is refused as ambiguous; rotate with --check "
                    "2 or more, under which that almost never happens.")
    rekey.add_argument("items", nargs="*", metavar="CODEWORD",
                       help="code words to move; none: read them from standard input")
    rekey.set_defaults(parser=rekey, hex=False, decimal=False)
    _add_aligned_option(rekey)
    _add_codec_options(rekey)
    _add_old_key_options(rekey, required=True)

    settings = commands.add_parser(
        "settings", help="print the settings text of the options", allow_abbrev=False,
        description="Print the settings text of the code word settings given (or of --settings, "
                    "checked and in its usual form): one line that names every setting a code "
                    "word depends on and no key, to store beside the words and give back with "
                    "--settings. A key option only says that a key will be given: the key is not "
                    "read.")
    settings.set_defaults(parser=settings, items=[])
    _add_codec_options(settings)
    return parser


# ---- The codec from the options ---------------------------------------------------------------


def read_key(args: argparse.Namespace, stdin_closed: bool = False) -> bytes | None:
    """The key bytes from --key-file, --key-env or --key-hex; None when none was given."""
    if args.key_hex is not None:
        try:
            return bytes.fromhex(args.key_hex)
        except ValueError:
            # The value is never repeated: it is a secret.
            raise UsageError("--key-hex: not a string of hex digit pairs") from None
    if args.key_env is not None:
        value = os.environb.get(os.fsencode(args.key_env))
        if value is None:
            # The name is not repeated: it may be the key itself, given by mistake.
            raise UsageError("--key-env: that environment variable is not set (give its name, "
                             "not the key)")
        return value
    if args.key_file is not None:
        return read_key_file(args.key_file, "--key-file", bool(args.items), stdin_closed)
    return None


def read_key_file(path: str, option: str, items_given: bool, stdin_closed: bool) -> bytes:
    """The raw bytes of a key file ("-": standard input); raises UsageError."""
    if path == "-":
        if not items_given:
            raise UsageError(f"{option} -: standard input cannot carry both the key and the "
                             "items; give the items as arguments")
        if stdin_closed or sys.stdin is None:
            raise UsageError(f"{option} -: standard input is closed")
        key = sys.stdin.buffer.read(MAX_KEY_LEN + 1)
    else:
        try:
            with open(path, "rb") as f:
                # /dev/stdin, /proc/self/fd/0 or the file that standard input reads.
                if not items_given and _same_file(f.fileno(), 0):
                    raise UsageError(f"{option}: that file is standard input, which cannot "
                                     "carry both the key and the items; give the items as "
                                     "arguments")
                key = f.read(MAX_KEY_LEN + 1)
        except OSError as exc:
            # The path is not repeated: it may be the key itself, given by mistake.
            raise UsageError(f"{option}: cannot read the file: {exc.strerror or exc}") from None
        except ValueError:  # a NUL in the path
            raise UsageError(f"{option}: cannot read the file: not a valid path") from None
    if len(key) > MAX_KEY_LEN:
        raise UsageError(f"{option}: the key is larger than 1 MiB")
    return key


def read_old_keys(args: argparse.Namespace, stdin_closed: bool = False) -> list[bytes]:
    """The keys of --old-key-file and --old-key-env, in the order given."""
    keys = [read_key_file(path, "--old-key-file", bool(args.items), stdin_closed)
            for path in getattr(args, "old_key_file", [])]
    for name in getattr(args, "old_key_env", []):
        value = os.environb.get(os.fsencode(name))
        if value is None:
            raise UsageError("--old-key-env: that environment variable is not set (give its "
                             "name, not the key)")
        keys.append(value)
    return keys


def build_reader(args: argparse.Namespace, codec: Tavik,
                 stdin_closed: bool = False) -> Tavik | Keyring:
    """The codec, or with old keys the keyring of the codec and the same settings under each
    old key, newest first; raises UsageError."""
    if getattr(args, "decimal", False) and args.modulus is None:
        raise UsageError("--decimal goes with --modulus")
    if getattr(args, "decimal", False) and getattr(args, "hex", False):
        raise UsageError("--hex and --decimal: choose one")
    old_keys = read_old_keys(args, stdin_closed)
    args.key_ends_with_newline = getattr(args, "key_ends_with_newline", False) or any(
        key.endswith(b"\n") for key in old_keys)
    if args.command == "rekey" and not old_keys:
        raise UsageError("rekey needs the old key: give --old-key-file or --old-key-env")
    if not old_keys:
        return codec
    fields = settings_fields(codec)
    if fields["mode"] == "plain":
        raise UsageError("old keys need mode sealed or open: mode plain has no key to tell")
    # Each old key's codec has the settings of the codec, under that key (and, for a feistel
    # cipher under the key given, as its cipher key too).
    uses_cipher_key = fields["cipher"] == "feistel8:cipher_key"
    codecs = [codec]
    for key in old_keys:
        if not key:
            raise UsageError("an old key must not be empty")
        codecs.append(Tavik.from_settings(codec.settings, key, key if uses_cipher_key else None))
    try:
        return Keyring(codecs)
    except ValueError as exc:
        raise UsageError(str(exc)) from None


# Bidirectional formatting characters: they reorder the letters that follow them on screen.
_BIDI_CONTROLS = frozenset("\u061c\u200e\u200f\u202a\u202b\u202c\u202d\u202e"
                           "\u2066\u2067\u2068\u2069")


def check_separator(sep: str) -> None:
    """Refuses a separator that would break the code words it separates; raises UsageError.

    The module takes any non-letter, but a line break (or another control character) spreads a
    code word over several lines, and a combining mark fuses with the letter before it once the
    text is NFC-normalized (as web forms and macOS do), after which the word no longer decodes.
    """
    if len(sep) != 1:
        raise UsageError("--separator must be one character (--chunk none writes none)")
    category = unicodedata.category(sep)
    if category in ("Cc", "Zl", "Zp"):
        raise UsageError("--separator must not be a line break or another control character: "
                         "each code word must stay on one line")
    if category in ("Mn", "Mc", "Me"):
        raise UsageError("--separator must not be a combining mark: it fuses with the letter "
                         "before it")
    if category == "Cs":  # a byte that is not UTF-8, kept by the surrogateescape of argv
        raise UsageError("--separator must be a character, not a byte that is not UTF-8")
    if sep in _BIDI_CONTROLS:
        raise UsageError("--separator must not be a bidirectional control: it reorders the "
                         "letters on screen")


def _same_file(fd: int, other: int) -> bool:
    try:
        a, b = os.fstat(fd), os.fstat(other)
    except OSError:
        return False
    return (a.st_dev, a.st_ino) == (b.st_dev, b.st_ino)


# The options that --settings replaces, by their attribute.
SETTINGS_OPTIONS = {"level": "--level", "mode": "--mode", "bits": "--bits",
                    "modulus": "--modulus", "cipher": "--cipher", "case": "--case",
                    "check": "--check", "separator": "--separator", "chunk": "--chunk",
                    "epoch": "--epoch", "granularity": "--granularity"}
# A key for the settings command, which never reads the key: the text holds no key material.
PLACEHOLDER_KEY = b"\0"


def read_settings(value: str) -> str:
    """The settings text of --settings: the text itself, or the one line of the file @FILE
    (a line break at its end is dropped); raises UsageError."""
    if not value.startswith("@"):
        return value
    try:
        with open(value[1:], "rb") as f:
            data = f.read(MAX_SETTINGS_LEN + 1)
    except OSError as exc:
        raise UsageError(f"--settings @FILE: cannot read the file: {exc.strerror or exc}"
                         ) from None
    except ValueError:  # a NUL in the path
        raise UsageError("--settings @FILE: cannot read the file: not a valid path") from None
    if len(data) > MAX_SETTINGS_LEN:
        raise UsageError("--settings @FILE: the file is larger than 64 KiB")
    data = data.removesuffix(b"\n").removesuffix(b"\r")
    try:
        return data.decode("ascii")
    except UnicodeDecodeError:
        raise UsageError("--settings @FILE: settings text must be one line of printable ASCII"
                         ) from None


def settings_fields(codec: Tavik) -> dict[str, str]:
    """The fields of a codec's settings text, by name."""
    return dict(field.split("=", 1) for field in codec.settings.split()[1:])


def build_codec_from_settings(args: argparse.Namespace, stdin_closed: bool) -> Tavik:
    """The Tavik object of --settings and the key options; raises UsageError."""
    given = [option for name, option in SETTINGS_OPTIONS.items()
             if getattr(args, name) is not None]
    if given:
        raise UsageError(f"--settings names every code word setting: drop {given[0]} (or drop "
                         "--settings)")
    text = read_settings(args.settings)
    # The text is checked, and what keys it needs is told, before any key is read.
    try:
        shape = settings_fields(Tavik.from_settings(text, PLACEHOLDER_KEY))
    except ValueError as exc:
        try:  # a cipher under the with_cipher key
            shape = settings_fields(Tavik.from_settings(text, PLACEHOLDER_KEY, PLACEHOLDER_KEY))
        except ValueError:
            raise UsageError(f"--settings: {exc}") from None
    mode, cipher = shape["mode"], shape["cipher"]
    uses_cipher_key = cipher == "feistel8:cipher_key"
    if args.command == "recover" and mode == "plain":
        raise UsageError("recover needs mode sealed or open: mode plain has no keyed check")
    key_given = [name for name, value in (("--key-file", args.key_file),
                                          ("--key-env", args.key_env),
                                          ("--key-hex", args.key_hex)) if value is not None]
    if mode == "plain" and key_given and not uses_cipher_key:
        raise UsageError(f"the settings' mode plain uses the public key and would ignore "
                         f"{key_given[0]}: drop it")
    args.bits = int(shape["bits"]) if "bits" in shape else None
    args.modulus = int(shape["modulus"]) if "modulus" in shape else None
    if args.command == "settings":
        return Tavik.from_settings(text, PLACEHOLDER_KEY,
                                   PLACEHOLDER_KEY if uses_cipher_key else None)
    key = read_key(args, stdin_closed)
    args.key_ends_with_newline = key is not None and key.endswith(b"\n")
    if (mode != "plain" or uses_cipher_key) and not key:
        needs = f"mode {mode}" if mode != "plain" else "the settings' cipher feistel8:cipher_key"
        raise UsageError(f"{needs} needs a non-empty key: give --key-file, --key-env or "
                         "--key-hex")
    return Tavik.from_settings(text, key, key if uses_cipher_key else None)


def build_codec(args: argparse.Namespace, stdin_closed: bool = False) -> Tavik:
    """The Tavik object that the options describe; raises UsageError."""
    if args.settings is not None:
        return build_codec_from_settings(args, stdin_closed)
    args.level = args.level or "universal"
    args.mode = args.mode or "sealed"
    args.case = args.case or "upper"
    if args.bits is not None and not 16 <= args.bits <= 128:
        raise UsageError("--bits must be from 16 to 128")
    if args.modulus is not None and not 2 <= args.modulus < 2**128:
        raise UsageError("--modulus must be from 2 to 2**128 - 1")
    if args.check is not None and not 1 <= args.check <= 8:
        raise UsageError("--check must be from 1 to 8")
    if args.separator is not None and args.chunk is not None and args.chunk[0] != "balanced":
        raise UsageError("--separator goes with the balanced layout only; the other layouts "
                         "use '-' (or none, with --chunk none)")
    if args.separator is not None:
        check_separator(args.separator)
    if args.command == "recover" and args.mode == "plain":
        raise UsageError("recover needs mode sealed or open: mode plain has no keyed check")
    given = [name for name, value in (("--key-file", args.key_file), ("--key-env", args.key_env),
                                      ("--key-hex", args.key_hex)) if value is not None]
    if args.mode == "plain" and given and args.cipher not in ("feistel", "feistel8"):
        # Only the feistel cipher of mode plain can use a key; anything else would ignore it.
        raise UsageError(f"mode plain uses the public key and would ignore {given[0]}: drop it, "
                         "or add --cipher feistel to encipher under it")
    if args.command == "settings":
        # The key is never read: the settings text depends only on whether one is given.
        key = PLACEHOLDER_KEY if given or args.mode != "plain" else None
    else:
        key = read_key(args, stdin_closed)
    # A key written with echo ends with a newline, which is part of the key: said once when a
    # word then fails its check.
    args.key_ends_with_newline = key is not None and key.endswith(b"\n")
    if args.mode != "plain" and not key:
        raise UsageError(f"mode {args.mode} needs a non-empty key: give --key-file, --key-env "
                         "or --key-hex, or use --mode plain")
    try:
        codec = Tavik(key, args.level, args.mode, 128 if args.bits is None else args.bits)
        if args.modulus is not None:
            codec = codec.with_modulus(args.modulus)
        if args.cipher is not None:
            codec = codec.with_cipher(args.cipher, key)
        codec = codec.with_case(args.case)
        if args.check is not None:
            codec = codec.with_check_syllables(args.check)
        if args.separator is not None:
            codec = codec.with_separator(args.separator)
        if args.chunk is not None:
            kind, value = args.chunk
            if kind == "none":
                codec = codec.with_chunk_none()
            elif kind == "fixed":
                codec = codec.with_chunk_fixed(value)
            elif kind == "pattern":
                codec = codec.with_chunk_pattern(value)
        if args.epoch is not None or args.granularity is not None:
            codec = codec.with_timestamp_config(
                DEFAULT_EPOCH_MS if args.epoch is None else args.epoch,
                args.granularity or "month")
    except (ValueError, OverflowError, TypeError) as exc:
        # The module's messages are fixed texts; none of them carries the key.
        raise UsageError(str(exc)) from None
    return codec


# ---- One item ---------------------------------------------------------------------------------


def parse_identifier(text: str) -> bytes:
    """The bytes of a UUID in its usual text forms, or of a string of hex digit pairs."""
    s = text.strip()
    uuid_only = False
    if s[:9].lower() == "urn:uuid:":
        s, uuid_only = s[9:], True
    elif s.startswith("{") and s.endswith("}"):
        s, uuid_only = s[1:-1], True
    match = _HYPHENATED_UUID.fullmatch(s)
    if match:
        return bytes.fromhex("".join(match.groups()))
    if _HEX.fullmatch(s):
        if uuid_only and len(s) != 32:
            raise ItemError("not a UUID: expected 32 hex digits, with or without hyphens")
        if len(s) % 2:
            raise ItemError("odd number of hex digits")
        return bytes.fromhex(s)
    raise ItemError("not a UUID or a string of hex digits")


class Domain:
    """What the options let an identifier be: its byte count and its largest value."""

    def __init__(self, bits: int | None, modulus: int | None, decimal: bool = False) -> None:
        self.modulus = modulus
        self.bits = modulus.bit_length() if modulus is not None else (bits or 128)
        self.num_bytes = (self.bits + 7) // 8
        self.decimal = decimal  # identifiers as decimal numbers (with a modulus)

    def parse(self, text: str) -> bytes:
        """The bytes of one identifier as the options let it be written; raises ItemError."""
        if not self.decimal:
            return parse_identifier(text)
        digits = text.strip()
        if not digits.isascii() or not digits.isdigit() or len(digits) > 40:
            raise ItemError("not a decimal number")
        value = int(digits, 10)
        assert self.modulus is not None  # --decimal goes with --modulus
        if value >= self.modulus:
            raise ItemError("identifier is not below the modulus")
        return value.to_bytes(self.num_bytes, "big")

    def check(self, data: bytes) -> None:
        """Refuses what the codec would silently cut: an identifier that does not fit."""
        if self.modulus is not None:
            if len(data) > self.num_bytes:
                raise ItemError(f"identifier of {len(data)} bytes; with --modulus "
                                f"{self.modulus} at most {self.num_bytes}")
            if int.from_bytes(data, "big") >= self.modulus:
                raise ItemError("identifier is not below the modulus")
            return
        if len(data) != self.num_bytes:
            if self.bits == 128:
                raise ItemError(f"identifier of {len(data)} bytes, not 16: give --bits or "
                                "--modulus for other sizes")
            raise ItemError(f"identifier of {len(data)} bytes; --bits {self.bits} takes "
                            f"exactly {self.num_bytes}")
        if self.bits % 8 and data[0] >> (self.bits % 8):
            raise ItemError(f"identifier does not fit in {self.bits} bits")

    def format(self, decoded: bytes, as_hex: bool) -> str:
        if self.decimal:
            return str(int.from_bytes(decoded, "big"))
        if as_hex:
            return decoded[16 - self.num_bytes:].hex()
        h = decoded.hex()
        return f"{h[:8]}-{h[8:12]}-{h[12:16]}-{h[16:20]}-{h[20:]}"

    def format_many(self, decoded: bytes | bytearray, as_hex: bool) -> bytes | bytearray:
        """What format gives each of the identifiers laid end to end in ``decoded`` (16 bytes
        each), a newline after each.

        The digits come from one call, with a separator after every 2 bytes (every 16 for
        ``as_hex``). The lines all have one width, so what a line has no place for (three of
        the separators of a UUID, the leading digits of a shorter identifier) goes a column at
        a time: marked with a space, then deleted in one pass.
        """
        num = len(decoded) // 16
        if not num:
            return b""
        if self.decimal:
            return "".join(f"{int.from_bytes(decoded[i:i + 16], 'big')}\n"
                           for i in range(0, 16 * num, 16)).encode("ascii")
        dropped: Sequence[int]
        if as_hex:
            text = bytearray(binascii.b2a_hex(decoded, b"\n", 16))
            text += b"\n"
            width, dropped = 33, range(32 - 2 * self.num_bytes)
        else:
            # 0011-2233-4455-6677-8899-aabb-ccdd-eeff- for 00112233-4455-6677-8899-aabbccddeeff
            text = bytearray(binascii.b2a_hex(decoded, b"-", 2))
            text += b"-"
            text[39::40] = b"\n" * num
            width, dropped = 40, (4, 29, 34)
        if not dropped:
            return text
        marks = b" " * num
        for column in dropped:
            text[column::width] = marks
        return text.translate(None, b" ")


def make_handler(args: argparse.Namespace, codec: Tavik,
                 reader: Tavik | Keyring | None = None) -> Callable[[str], str]:
    """A function from one item's text to its output line; raises ItemError. ``reader`` reads
    the words (the codec, or a keyring of it and the old keys)."""
    domain = Domain(args.bits, args.modulus, args.decimal)
    if args.command == "encode":

        def encode(text: str) -> str:
            data = domain.parse(text)
            domain.check(data)
            try:
                return codec.encode(data)
            except ValueError as exc:
                raise ItemError(str(exc)) from None

        return encode

    reader = codec if reader is None else reader
    if isinstance(reader, Keyring):
        keyring = reader
        if args.command == "rekey":

            def rekey(text: str) -> str:
                try:
                    return keyring.rekey_many([text])[0]
                except ValueError as exc:
                    raise ItemError(str(exc)) from None

            return rekey
        read = keyring.decode if args.command == "decode" else keyring.recover

        def read_bytes(text: str) -> bytes:
            return read(text)[0]

        method: Callable[[str], bytes] = read_bytes
    else:
        method = reader.decode if args.command == "decode" else reader.recover
    as_hex = args.hex

    def decode(text: str) -> str:
        try:
            return domain.format(method(text), as_hex)
        except (ValueError, RuntimeError) as exc:
            raise ItemError(str(exc)) from None

    return decode


# ---- A batch of lines at once ------------------------------------------------------------------

# What a batch handler gives for a batch of lines: the bytes to write when every line gave a
# result, else each line's output line, or None for a line that the single handler must answer
# (a failure, to report with its own message, or a blank line, to skip).
BatchAnswer = bytes | bytearray | list[str | None]


def make_batch_handler(args: argparse.Namespace, codec: Tavik,
                       reader: Tavik | Keyring | None = None) -> Callable[[Batch], BatchAnswer]:
    """A function from a batch of standard input's lines to their answer (see BatchAnswer).

    It gives every line the output line that make_handler's function gives it: a line reaches
    the bulk methods as the same bytes or text that the single call would get, and they give
    each item what the single call gives it. Only the failures go one by one.
    """
    domain = Domain(args.bits, args.modulus, args.decimal)
    if args.command == "encode":

        def encode_batch(batch: Batch) -> BatchAnswer:
            data = identifier_buffer(batch, domain)
            words: list[str | None]
            if data is not None:
                words = codec.encode_many(data, "none")
            else:
                parsed = [_identifier_or_none(line, domain) for line in batch]
                encoded = iter(codec.encode_many([d for d in parsed if d is not None], "none"))
                words = [None if d is None else next(encoded) for d in parsed]
            try:
                text = "\n".join(words)  # type: ignore[arg-type]
            except TypeError:  # None: some item failed
                return words
            return (text + "\n").encode("utf-8")

        return encode_batch

    if isinstance(reader, Keyring):
        return keyring_batch_handler(args, reader, domain)
    method = codec.decode_many if args.command == "decode" else codec.recover_many
    as_hex = args.hex

    def decode_batch(batch: Batch) -> BatchAnswer:
        texts = batch.texts()
        if texts is None:
            return [None] * len(batch)
        decoded, failed = method(texts, "none", True)
        text = domain.format_many(decoded, as_hex)
        if not failed:
            return text
        lines: list[str | None] = list(text.decode("ascii").split("\n"))
        lines.pop()  # after the last newline
        for index in failed:
            lines[index] = None
        return lines

    return decode_batch


def keyring_batch_handler(args: argparse.Namespace, keyring: Keyring,
                          domain: Domain) -> Callable[[Batch], BatchAnswer]:
    """make_batch_handler for words read under a keyring: decode, or rekey (recover goes word
    by word)."""
    command, as_hex = args.command, args.hex

    def keyring_batch(batch: Batch) -> BatchAnswer:
        texts = batch.texts()
        if texts is None or command == "recover":
            return [None] * len(batch)
        lines: list[str | None]
        if command == "rekey":
            lines = keyring.rekey_many(texts, "none")
        else:
            lines = [None if d is None else domain.format(d[0], as_hex)
                     for d in keyring.decode_many(texts, "none")]
        try:
            text = "\n".join(lines)  # type: ignore[arg-type]
        except TypeError:  # None: some item failed
            return lines
        return (text + "\n").encode("utf-8")

    return keyring_batch


def identifier_buffer(batch: Batch, domain: Domain) -> bytes | None:
    """The identifiers of a batch end to end, when every line is one in a canonical form: a
    hyphenated UUID, or exactly the hex digits of the domain's bytes, with nothing around it.
    None otherwise (another form, white space, a blank line, an identifier too wide), and then
    the lines go one by one. A value not below a modulus is left to encode_many to refuse.

    The hyphenated form is recognised without a regular expression: the lines have no newline,
    so the newlines found every 37 bytes make every line 36 bytes long; the hyphens are then
    checked a column at a time, and a2b_hex refuses any other character.
    """
    joined = batch.joined
    if joined is None or domain.decimal:  # a line longer than MAX_LINE_LEN, or decimal
        return None
    num = len(batch)
    if domain.num_bytes == 16 and _lines_of_width(joined, num, 36):
        hyphens = b"-" * num
        if any(joined[column::37] != hyphens for column in (8, 13, 18, 23)):
            return None
        digits = joined.translate(None, b"-\n")
    elif _lines_of_width(joined, num, 2 * domain.num_bytes):
        digits = joined.translate(None, b"\n")
    else:
        return None
    try:
        data = binascii.a2b_hex(digits)
    except binascii.Error:  # not hex, or a hyphen elsewhere that left an odd count
        return None
    if len(data) != num * domain.num_bytes:  # a hyphen elsewhere, in place of two digits
        return None
    spare_bits = domain.bits % 8
    if spare_bits and max(data[::domain.num_bytes]) >> spare_bits:
        return None  # some identifier does not fit; the lines go one by one, to say which
    return data


def _lines_of_width(joined: bytes, num: int, width: int) -> bool:
    """Whether ``joined``, ``num`` lines without newlines joined by newlines, has them all
    ``width`` bytes long."""
    return (len(joined) == (width + 1) * num - 1
            and joined[width::width + 1] == b"\n" * (num - 1))


def _identifier_or_none(line: bytes | None, domain: Domain) -> bytes | None:
    """The identifier on ``line`` as make_handler's encode reads it; None for a blank line or
    one it refuses."""
    if line is None or len(line) > MAX_LINE_LEN:
        return None
    text = line.decode("utf-8", "replace")
    if not text.strip():
        return None
    try:
        data = domain.parse(text)
        domain.check(data)
    except ItemError:
        return None
    return data


# ---- Input and output -------------------------------------------------------------------------


class Batch(Sequence[bytes | None]):
    """Lines without their newlines, as a list holds them (None for a line longer than
    MAX_LINE_LEN). The lines that a read completes, when none is None, stay as they were read:
    ``joined``, their bytes with a newline between each two, which the bulk paths take whole;
    they are split apart only when a line is asked for.
    """

    __slots__ = ("joined", "_lines", "_len")

    def __init__(self, joined: bytes | None = None,
                 lines: list[bytes | None] | None = None) -> None:
        self.joined = joined  # None when the batch was made from ``lines``
        self._lines = lines
        self._len = -1

    @property
    def lines(self) -> list[bytes | None]:
        if self._lines is None:
            assert self.joined is not None
            self._lines = list(self.joined.split(b"\n"))
        return self._lines

    def __len__(self) -> int:
        if self._len < 0:
            if self._lines is not None:
                self._len = len(self._lines)
            else:
                assert self.joined is not None
                self._len = self.joined.count(b"\n") + 1
        return self._len

    def texts(self) -> list[str] | None:
        """The lines' texts, as process decodes each line; None when a line is too long."""
        joined = self.joined
        if joined is None:  # a line longer than MAX_LINE_LEN
            return None
        # The lines after the first come from one read, so they add up to READ_LEN at most;
        # only when they do not does each line's length need a look.
        first_len = joined.find(b"\n")
        if first_len < 0:  # the only line
            first_len = len(joined)
        if (first_len > MAX_LINE_LEN or len(joined) - first_len > MAX_LINE_LEN + 1) and max(
                map(len, joined.split(b"\n"))) > MAX_LINE_LEN:
            return None
        try:
            # Valid UTF-8 splits at the newlines into the lines' own texts.
            texts = joined.decode("utf-8").split("\n")
        except UnicodeDecodeError:
            texts = [line.decode("utf-8", "replace") for line in joined.split(b"\n")]
        self._len = len(texts)
        return texts

    def __getitem__(self, index: Any) -> Any:
        return self.lines[index]

    def __iter__(self) -> Iterator[bytes | None]:
        return iter(self.lines)


def stdin_batches(fd: int) -> Iterator[Batch]:
    """Lines of a file descriptor, without their newlines, in the batches that each read completes.

    A line longer than MAX_LINE_LEN comes as None; it is never held whole, so memory stays
    bounded by MAX_LINE_LEN + READ_LEN whatever the input.
    """
    pending = b""
    overlong = False  # the line being read has already passed MAX_LINE_LEN
    while True:
        try:
            chunk = os.read(fd, READ_LEN)
        except BlockingIOError:  # left non-blocking by another process that shares it
            select.select([fd], [], [])
            continue
        if not chunk:
            break
        end = chunk.rfind(b"\n")  # of the last whole line
        batch = None
        if end < 0:
            if not overlong:
                pending += chunk
        else:
            if overlong:  # the first line ends here, as None; the others are whole
                first_end = chunk.find(b"\n")
                others = chunk[first_end + 1:end].split(b"\n") if first_end < end else []
                batch = Batch(lines=[None, *others])
            else:
                batch = Batch(pending + chunk[:end])
            overlong, pending = False, chunk[end + 1:]
        if len(pending) > MAX_LINE_LEN:
            overlong, pending = True, b""
        if batch is not None:  # not `if batch`, which would count its lines
            yield batch
    if overlong:
        yield Batch(lines=[None])
    elif pending:
        yield Batch(pending)


def write_all(fd: int, data: bytes | bytearray) -> None:
    """Writes all of ``data`` to ``fd``, waiting whenever another process that shares the
    descriptor has left it non-blocking."""
    view = memoryview(data)
    while view:
        try:
            view = view[os.write(fd, view):]
        except BlockingIOError:
            select.select([], [fd], [])


def grow_pipe(fd: int) -> None:
    """Lets the pipe on ``fd``, if it is one, hold PIPE_LEN bytes, so that the program writing
    to it can work ahead; a larger pipe, or anything else, is left as it is. Only the pipe read
    from is grown: a program reading ours may count on the usual size to hold us back."""
    try:
        if fcntl.fcntl(fd, fcntl.F_GETPIPE_SZ) < PIPE_LEN:
            fcntl.fcntl(fd, fcntl.F_SETPIPE_SZ, PIPE_LEN)
    except (OSError, AttributeError):  # no pipe, over the user's pipe memory, or not Linux
        pass


def without_bom(batches: Iterable[Batch]) -> Iterator[Batch]:
    """The batches with a UTF-8 byte-order mark removed from the start of the first line."""
    first = True
    for batch in batches:
        if first and batch.joined is not None and batch.joined.startswith(BOM):
            batch = Batch(batch.joined[len(BOM):])
        first = False
        yield batch


class FailureReport:
    """What standard error says about the failed items beyond their own lines: once, when a
    word fails its check under a key that ends with a newline, that the newline is part of the
    key; at the end, how many items failed of how many, and when every one failed, what
    usually causes that."""

    _CHECK_FAILURES = ("check verification failed", "reject: unrecoverable")

    def __init__(self, command: str, label: str, key_ends_with_newline: bool) -> None:
        self.command = command
        self.label = label
        self.key_ends_with_newline = key_ends_with_newline
        self.num_failed = 0
        self.num_items = 0

    def failed(self, message: str) -> None:
        self.num_failed += 1
        if self.key_ends_with_newline and message.startswith(self._CHECK_FAILURES):
            self.key_ends_with_newline = False
            say("tavik: the key ends with a newline, which is part of the key (a key file "
                "written with echo has one): if the words were written without it, remove it "
                "or write the file with printf")

    def finish(self) -> None:
        if not self.num_failed:
            return
        if self.num_failed == self.num_items:
            if self.command == "encode":
                say("tavik: every identifier failed: give UUIDs, or with --bits or --modulus "
                    "the hex (or with --decimal the number) of an identifier of that size")
            else:
                say("tavik: every word failed: the usual causes are another key or other "
                    "settings than those the words were written with (--mode, --level, --bits "
                    "or --modulus, --check, --cipher)")
        say(f"tavik: {self.num_failed} of {self.num_items} {self.label}s failed")


def process(handle: Callable[[str], str], batches: Iterable[Sequence[bytes | str | None]],
            label: str, *, handle_batch: Callable[[Batch], BatchAnswer] | None = None,
            skip_blank: bool = False, aligned: bool = False,
            report: FailureReport | None = None) -> int:
    """Runs every item, writing one line per success as soon as its batch is done.

    A blank item (empty or white space only) is skipped with ``skip_blank``, and fails without.
    With ``aligned``, a failed or skipped item writes an empty line, so that output line N
    answers item N. ``handle_batch`` answers a batch of lines at once, and ``handle`` then
    only the lines it left. ``report`` hears of every failure, and ends the run's messages.
    """
    sys.stdout.flush()
    out = sys.stdout.fileno()
    failed = False
    number = 0
    skipped = 0

    def answer(item: bytes | str | None) -> str | None:
        """The output line of one item; None for a blank one that is skipped."""
        if item is None or len(item) > MAX_LINE_LEN:
            raise ItemError(f"longer than {MAX_LINE_LEN} bytes")
        if isinstance(item, bytes):
            # Invalid UTF-8 becomes U+FFFD, which no identifier or code word contains.
            text = item.decode("utf-8", "replace")
        else:
            text = item.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
        if not text.strip():
            if skip_blank:
                return None
            raise ItemError("empty")
        return handle(text)

    for batch in batches:
        results = (handle_batch(batch) if handle_batch and isinstance(batch, Batch)
                   else [None] * len(batch))
        if not isinstance(results, list):  # every item answered
            write_all(out, results)
            number += len(batch)
            continue
        lines: list[str] = []
        for item, result in zip(batch, results):
            number += 1
            if result is None:
                try:
                    result = answer(item)
                except ItemError as exc:
                    failed = True
                    if lines:  # keep the order of output and messages on a shared terminal
                        write_all(out, ("\n".join(lines) + "\n").encode("utf-8"))
                        lines = []
                    say(f"tavik: {label} {number}: {exc}")
                    if report is not None:
                        report.failed(str(exc))
                    if aligned:
                        lines.append("")
                    continue
                if result is None:  # skipped
                    skipped += 1
                    if aligned:
                        lines.append("")
                    continue
            lines.append(result)
        if lines:
            write_all(out, ("\n".join(lines) + "\n").encode("utf-8"))
    if report is not None:
        report.num_items = number - skipped
        report.finish()
    return 1 if failed else 0


def _flush_stdout() -> None:
    """Flushes standard output; if that fails, what is left goes to /dev/null, so that the
    interpreter's last flush does not fail again."""
    if sys.stdout is None:
        return
    try:
        sys.stdout.flush()
    except OSError:
        point_at_devnull(sys.stdout.fileno())
        raise


def main(argv: list[str] | None = None) -> int:
    """Runs the command line on ``argv`` (default: sys.argv[1:]); returns the exit status."""
    try:
        return _run_reporting_stream_errors(sys.argv[1:] if argv is None else argv)
    except KeyboardInterrupt:
        # Ctrl-C ends the run quietly, whatever it waited on: a key FIFO without a writer, a
        # terminal, a full pipe. Output not written yet goes to /dev/null rather than keep the
        # interpreter's last flush waiting on that pipe.
        point_at_devnull(1)
        return 130


def _run_reporting_stream_errors(argv: list[str]) -> int:
    try:
        try:
            status = _run(argv)
        except SystemExit:  # --help, --version and usage errors
            _flush_stdout()
            raise
        _flush_stdout()
        return status
    except BrokenPipeError:
        # The reader went away (`tavik encode ... | head`): stop quietly. Standard output now
        # points at /dev/null, so the interpreter's last flush does not complain again.
        point_at_devnull(1)
        return 1
    except OSError as exc:  # standard input or output unusable (a directory, a full disk)
        say(f"tavik: {exc.strerror or exc}")
        try:
            _flush_stdout()  # output that cannot be written goes to /dev/null
        except OSError:
            pass
        return 1


def _run(argv: list[str]) -> int:
    unusable = guard_standard_fds()
    if 1 in unusable:
        say("tavik: standard output is closed")
        return 2
    parser = build_parser()
    if argv and argv[0].startswith("-") and argv[0].partition("=")[0] not in (
            "-", "--", "-h", "--help", "--version"):
        # The value of an option given here would be taken for the command's name.
        parser.fail("the options go after the command: tavik "
                    "encode|decode|recover|rekey|settings "
                    "[OPTIONS] [ITEMS]")
    args = parser.parse_args(argv)
    try:
        if args.command != "settings" and not args.items and 0 in unusable:
            raise UsageError("standard input is closed: give the items as arguments")
        codec = build_codec(args, stdin_closed=0 in unusable)
        reader = build_reader(args, codec, stdin_closed=0 in unusable)
    except UsageError as exc:
        args.parser.fail(str(exc))
    if args.command == "settings":
        sys.stdout.write(codec.settings + "\n")
        return 0
    handle = make_handler(args, codec, reader)
    label = "argument" if args.items else "line"
    report = FailureReport(args.command, label, args.key_ends_with_newline)
    if args.items:
        return process(handle, [[item] for item in args.items], label, aligned=args.aligned,
                       report=report)
    grow_pipe(0)
    # Blank lines (a trailing one, a separator between blocks) are no items.
    return process(handle, without_bom(stdin_batches(sys.stdin.fileno())), label,
                   handle_batch=make_batch_handler(args, codec, reader), skip_blank=True,
                   aligned=args.aligned, report=report)
