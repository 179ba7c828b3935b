from collections.abc import Iterable, Iterator
from typing import Literal, Protocol, Sequence, SupportsIndex, final, overload

from typing_extensions import Buffer

__all__ = ["Tavik", "Keyring"]
__version__: str

# The names the constructor and the builders accept; a misspelt one fails type checking.
_Level = Literal["universal", "eu", "en", "numeric", "ko"]
_Mode = Literal["sealed", "open", "plain"]
_Case = Literal["upper", "lower"]
_Granularity = Literal["second", "minute", "hour", "day", "week", "month"]
_CipherKind = Literal["feistel", "feistel8", "shuffle", "shuffle4"]

class _ArrowArrayExporter(Protocol):
    def __arrow_c_array__(
        self, requested_schema: object | None = None
    ) -> tuple[object, object]: ...

class _ArrowStreamExporter(Protocol):
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...

# An Arrow column: pyarrow arrays and chunked arrays, Polars and pandas Series, DuckDB results,
# nanoarrow, a Column; a table of one column stands for that column.
_ArrowColumn = _ArrowArrayExporter | _ArrowStreamExporter

@final
class _Column:
    """The result of a bulk method given an Arrow column (the class is not in the module).

    It owns its buffers, so it outlives its input, and exports them through the Arrow
    PyCapsule interface without a copy: code words as an Arrow ``string`` column, identifiers
    as ``fixed_size_binary(16)``; a failed item (errors="none") or a null input is a null.
    ``pyarrow.array(column)``, ``polars.Series(column)``, ``pandas.Series.from_arrow(column)``
    and DuckDB take it.
    """

    def __len__(self) -> int:
        """The number of rows."""
    def __getitem__(self, index: int) -> str | bytes | None:
        """Row ``index`` as the iterable form gives it: str, 16 bytes, or None for a null."""
    def __iter__(self) -> Iterator[str | bytes | None]:
        """The rows, as __getitem__ gives them (a Python object each)."""
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]:
        """Export the column as one Arrow array (schema and array capsules).

        A requested ``string``, ``large_string`` or ``string_view`` type gives a column of
        identifiers as UUID text, and a column of words in that form; other requests are left
        to the consumer to cast. Raises OverflowError for a column of words of more than 2 GiB,
        which only __arrow_c_stream__ gives (in several arrays).
        """
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object:
        """Export the column as an Arrow stream (an array stream capsule), as __arrow_c_array__."""
    def uuid_text(self) -> _Column:
        """The column of identifiers as lowercase UUID text with hyphens (a ``string`` column).

        Raises TypeError for a column of words.
        """

@final
class Tavik:
    """Turns short binary identifiers (UUIDs above all) into pronounceable code words and back.

    An object never changes: every ``with_*`` builder returns a new object. ``mode`` is
    "sealed" (keyed cipher and check syllables), "open" (as sealed, plus a time prefix for
    version 1, 6 and 7 UUIDs) or "plain" (public fixed key, CRC-32 check, no recovery).
    ``level`` is one of "universal", "eu", "en", "numeric", "ko".

    Raises ValueError for an unknown level or mode, or a missing or empty key in sealed and
    open mode; TypeError for arguments of the wrong type; OverflowError for a ``bit_width``
    outside 0..4294967295 (other widths are clamped to 16..128).

    Decode with the settings that encoded: a word decoded under another mode, cipher or width
    mostly passes its check and gives another identifier, without an error.
    ``repr`` and ``settings`` show every setting a word depends on, and never the key: store
    ``settings`` beside the words and build the codec back with ``from_settings``.
    """

    @property
    def settings(self) -> str:
        """The settings text: one line of printable ASCII that names every setting a code word
        depends on, and never any key material, for example
        ``tavik/1 level=universal mode=sealed bits=128 cipher=feistel8:key check=1 case=upper
        chunk=balanced sep=U+002D``. ``Tavik.from_settings(c.settings, key, cipher_key)`` builds a
        codec that writes the same words. Like the code words it is a format: every text that
        tavik has written keeps building the same codec. The README describes its fields.
        """
    @classmethod
    def from_settings(
        cls, settings: str, key: bytes | None = None, cipher_key: bytes | None = None
    ) -> Tavik:
        """Build the codec of a settings text (see ``settings``) under the keys given.

        ``key`` is the constructor's key (required and non-empty in modes "sealed" and
        "open"); ``cipher_key`` is the key given to ``with_cipher("feistel", key)``, required
        when the text says ``cipher=feistel8:cipher_key`` and refused otherwise. Fields may come
        in any order. Raises ValueError, naming the field, for a text that is not version 1,
        has an unknown, repeated, missing or inapplicable field (``epoch_ms`` and
        ``granularity`` belong to mode "open" only) or a value out of range: nothing is
        clamped. Raises ValueError for a missing key as the constructor does, and TypeError for
        arguments of the wrong type.
        """

    def __new__(
        cls,
        key: bytes | None = None,
        level: _Level = "universal",
        mode: _Mode = "sealed",
        bit_width: SupportsIndex = 128,
    ) -> Tavik:
        """Build a codec; ``key`` (bytes) is required and non-empty unless ``mode`` is "plain".

        Raises ValueError for an unknown level or mode or a missing key, TypeError for
        arguments of the wrong type, OverflowError for ``bit_width`` outside 0..4294967295.
        """
    def with_bit_width(self, bits: SupportsIndex) -> Tavik:
        """Return a copy for identifiers of ``bits`` bits (clamped to 16..128).

        Raises OverflowError outside 0..4294967295.
        """
    def with_modulus(self, modulus: SupportsIndex) -> Tavik:
        """Return a copy whose values are the integers below ``modulus`` (the input's tail bytes).

        Only the bit length of the modulus enters the cipher: moduli of the same bit length
        give the same words for nearly all values below both. Raises ValueError below 2 and
        OverflowError for negative values or 2**128 and above.
        """
    def with_cipher(self, kind: _CipherKind, key: bytes | None = None) -> Tavik:
        """Return a copy that enciphers with "feistel" or "shuffle" ("feistel8", "shuffle4").

        "feistel" is keyed with ``key``, or with the public key when it is None; "shuffle"
        always uses the public key, whatever ``key`` is. Under the public key anyone with tavik
        deciphers the words: this makes even a sealed or open codec one whose words hide
        nothing (only its check syllables stay keyed), and ``repr`` says so, as in
        ``cipher='shuffle4, public key'``. The choice, and its key, carry over to later width
        and modulus changes; the check syllables keep the constructor's key. Words decoded
        under another cipher or cipher key give another identifier, without an error. Raises
        ValueError for another kind.
        """
    def with_case(self, case: _Case) -> Tavik:
        """Return a copy that writes code words in "upper" or "lower" case.

        Raises ValueError for anything else.
        """
    def with_check_syllables(self, n: SupportsIndex) -> Tavik:
        """Return a copy that appends ``n`` check syllables (clamped to 1..8).

        Raises OverflowError for negative or too large values.
        """
    def with_separator(self, sep: str) -> Tavik:
        """Return a copy that separates its five groups and the check syllables with ``sep[0]``.

        Only the first character counts; "\\0" means no separator. This restores the default
        five-group layout. Raises ValueError for an empty or alphabetic separator.

        Some accepted separators break the code words they separate: a line break or another
        control character puts each word on several lines, and a combining mark (such as
        U+0301 or U+0308) fuses with the letter before it once the text is NFC-normalized, as
        web forms and macOS do, after which the word no longer decodes. The command line
        refuses them; prefer a visible character that stands alone, such as "-", " " or "/".
        """
    def with_chunk_none(self) -> Tavik:
        """Return a copy that writes code words in one piece, without any separator."""
    def with_chunk_fixed(self, char_size: SupportsIndex) -> Tavik:
        """Return a copy that writes groups of about ``char_size`` letters, separated by "-".

        Raises OverflowError for negative or too large values.
        """
    def with_chunk_pattern(self, pattern: Sequence[SupportsIndex] | bytes) -> Tavik:
        """Return a copy whose groups hold the counts in ``pattern`` (used once), joined by "-".

        Raises TypeError for a str or a non-sequence, OverflowError for a bad size.
        """
    def with_timestamp_config(self, epoch_ms: SupportsIndex, granularity: _Granularity = "month") -> Tavik:
        """Return a copy whose time prefix counts ``granularity`` units since ``epoch_ms``.

        Granularity is one of second, minute, hour, day, week, month; anything else raises
        ValueError. The default epoch is 1700000000000 (2023-11-14T22:13:20Z). The prefix
        appears only in mode "open", and decoding skips it.
        """
    def encode(self, data: bytes) -> str:
        """Return the code word of ``data`` (the first bit-width bits, or the tail with a modulus).

        Raises ValueError for a value not below a configured modulus, or for a value the
        cipher cannot keep inside a modulus of odd bit length just above a power of two (for
        2**20 + 4112, about 36 % of the values from 2**20 up); TypeError for non-bytes.
        """
    def decode(self, input: str) -> bytes:
        """Return the 16 bytes that a code word stands for; case and non-letters are ignored.

        Raises ValueError when the input does not parse or its check syllables do not match;
        a note on the exception says where the input stopped parsing (the letter and its
        index, or the syllables found against those expected) or what usually makes a check
        fail. The check covers the data syllables only: a word written under another mode, cipher or
        width mostly passes it and decodes to another identifier.
        """
    def recover(self, input: str) -> bytes:
        """Like decode, but first corrects one confused onset or nucleus where exactly one fits.

        Raises ValueError ("reject: unrecoverable", "ambiguous: N candidates", plain mode, or
        the decode errors) and RuntimeError if a verified word then fails to decode.
        """

    # The bulk methods: each item's result is what the single call gives it, but the hashing
    # of many items runs in lanes, with the interpreter lock released, at a fraction of the
    # cost per item. With errors="raise" (the default) the first failing item in order raises
    # what the single call would, with a note naming its index, whatever fails after it (the
    # iterable's own error included); with errors="none" a failed item gives None instead.
    # Items are read in batches of 512: after a failure an iterator has been read to the end of
    # the failing item's batch (items 0 to 511, 512 to 1023, ...), or to where it ended or
    # raised, and no further, whatever the kind of the failure.
    @overload
    def encode_many(
        self, items: _ArrowColumn, errors: Literal["raise", "none"] = "raise"
    ) -> _Column:
        """Return the code word of every item.

        ``items`` is any iterable of bytes (each read as encode reads its argument) or str
        (UUID text: 36 characters with hyphens or 32 hex digits, either case; other text
        raises ValueError), or one buffer (bytes, bytearray, memoryview, a NumPy array) of
        identifiers of the codec's byte count each: ceil(bit_width / 8) bytes, 16 by default.
        The buffer holds bytes (format 'B', 'b' or 'c') or records of exactly that many bytes
        ('16s', '16B', NumPy's 'V16'); any other format (objects, text, numbers) raises
        TypeError naming it. Raises ValueError for a buffer that does not hold whole
        identifiers, or for errors other than "raise" or "none".

        ``items`` may also be an Arrow column (anything exporting ``__arrow_c_array__`` or
        ``__arrow_c_stream__``): binary columns (``fixed_size_binary``, ``arrow.uuid``,
        ``binary``, ``large_binary``, ``binary_view``) hold identifiers as bytes, string
        columns (``string``, ``large_string``, ``string_view``) UUID text. The result is then a
        column of words (see _Column); a null stays a null, and with errors="none" a failed
        item gives a null. Raises TypeError for a column of another type.
        """
    @overload
    def encode_many(
        self, items: Iterable[bytes | str] | Buffer, errors: Literal["raise"] = "raise"
    ) -> list[str]: ...
    @overload
    def encode_many(
        self, items: Iterable[bytes | str] | Buffer, errors: Literal["none"]
    ) -> list[str | None]: ...
    @overload
    def decode_many(
        self,
        words: _ArrowColumn,
        errors: Literal["raise", "none"] = "raise",
        as_buffer: Literal[False] = False,
    ) -> _Column:
        """Return the 16 bytes of every code word in ``words`` (any iterable of str).

        With ``as_buffer=True`` the result is one bytearray of 16 bytes a word, which NumPy
        views without copying (``numpy.frombuffer(result, numpy.uint8).reshape(-1, 16)``);
        with errors="none" as well, a tuple of that bytearray (16 zero bytes for a failed
        word) and the list of the failed words' indices.

        ``words`` may also be an Arrow string column (``string``, ``large_string``,
        ``string_view``): the result is then a ``fixed_size_binary(16)`` column (see _Column;
        ``uuid_text()`` gives UUID text), a null stays a null, and with errors="none" a
        failed word, invalid UTF-8 included, gives a null. Raises TypeError for a column of
        another type, ValueError for as_buffer=True with a column.
        """
    @overload
    def decode_many(
        self,
        words: Iterable[str],
        errors: Literal["raise"] = "raise",
        as_buffer: Literal[False] = False,
    ) -> list[bytes]: ...
    @overload
    def decode_many(
        self, words: Iterable[str], errors: Literal["none"], as_buffer: Literal[False] = False
    ) -> list[bytes | None]: ...
    @overload
    def decode_many(
        self, words: Iterable[str], errors: Literal["raise"] = "raise", *, as_buffer: Literal[True]
    ) -> bytearray: ...
    @overload
    def decode_many(
        self, words: Iterable[str], errors: Literal["none"], as_buffer: Literal[True]
    ) -> tuple[bytearray, list[int]]: ...
    @overload
    def recover_many(
        self,
        words: _ArrowColumn,
        errors: Literal["raise", "none"] = "raise",
        as_buffer: Literal[False] = False,
    ) -> _Column:
        """Like decode_many, with recover for every word (modes sealed and open only)."""
    @overload
    def recover_many(
        self,
        words: Iterable[str],
        errors: Literal["raise"] = "raise",
        as_buffer: Literal[False] = False,
    ) -> list[bytes]: ...
    @overload
    def recover_many(
        self, words: Iterable[str], errors: Literal["none"], as_buffer: Literal[False] = False
    ) -> list[bytes | None]: ...
    @overload
    def recover_many(
        self, words: Iterable[str], errors: Literal["raise"] = "raise", *, as_buffer: Literal[True]
    ) -> bytearray: ...
    @overload
    def recover_many(
        self, words: Iterable[str], errors: Literal["none"], as_buffer: Literal[True]
    ) -> tuple[bytearray, list[int]]: ...

@final
class Keyring:
    """Reads code words under several keys, for a key rotation, and moves them to the newest.

    ``codecs`` (any iterable of Tavik, at least one) lists the codecs of the rotation, the
    newest key first; they must share every setting but their keys, in mode "sealed" or
    "open". A word is taken under the one key whose check passes and under which it decodes;
    when more than one key takes it, it is refused as "ambiguous: the word passes the check
    under more than one key", never read under whichever key happens to come first. With one
    check syllable a word passes a wrong key's check once in about 700: rotate with two or
    more check syllables (``with_check_syllables(2)``), under which it almost never does.

    Raises ValueError for no codec, mode plain, two codecs with the same key, or codecs that
    differ in another setting ("keyring codecs differ in SETTING"); TypeError for an item
    that is not a Tavik.
    """

    def __new__(cls, codecs: Iterable[Tavik]) -> Keyring: ...
    @property
    def codecs(self) -> tuple[Tavik, ...]:
        """The codecs of the keyring, newest key first."""
    def decode(self, input: str) -> tuple[bytes, int]:
        """Return the 16 bytes of a code word and the index in ``codecs`` of its key.

        The check syllables are tested under every key before anything is deciphered, so two
        keys cost little more than one decode. Raises ValueError as Tavik.decode does, or for
        a word that more than one key takes.
        """
    def recover(self, input: str) -> tuple[bytes, int]:
        """Like decode, correcting one confused sound where exactly one correction fits.

        A word that decodes under exactly one key is read as typed; otherwise every key's
        search runs, and a correction is taken only when exactly one is found over all keys.
        Raises ValueError as Tavik.recover does, or for candidates under more than one key.
        """
    @overload
    def decode_many(
        self, words: Iterable[str], errors: Literal["raise"] = "raise"
    ) -> list[tuple[bytes, int]]:
        """Return decode of every word, its checks hashed in lanes key by key.

        errors as in Tavik.decode_many.
        """
    @overload
    def decode_many(
        self, words: Iterable[str], errors: Literal["none"]
    ) -> list[tuple[bytes, int] | None]: ...
    @overload
    def rekey_many(self, words: Iterable[str], errors: Literal["raise"] = "raise") -> list[str]:
        """Return every word written under the first codec's key, in one pass.

        Each word is read as decode reads it, under any of the keys, and written as
        ``codecs[0].encode`` writes its identifier's last ceil(bit_width / 8) bytes: a word
        already under the first key comes back as that codec writes it. errors as in
        Tavik.decode_many.
        """
    @overload
    def rekey_many(
        self, words: Iterable[str], errors: Literal["none"]
    ) -> list[str | None]: ...
