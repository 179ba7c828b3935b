from typing import Sequence, SupportsIndex, final

__all__ = ["Tavik"]
__version__: str

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
    """

    def __new__(
        cls,
        key: bytes | None = None,
        level: str = "universal",
        mode: str = "sealed",
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

        Raises ValueError below 2 and OverflowError for negative values or 2**128 and above.
        """
    def with_cipher(self, kind: str, key: bytes | None = None) -> Tavik:
        """Return a copy that enciphers with "feistel" or "shuffle" ("feistel8", "shuffle4").

        "feistel" is keyed with ``key``, or with the public key when it is None; "shuffle"
        always uses the public key. The choice, and its key, carry over to later width and
        modulus changes; the check syllables keep the constructor's key. Raises ValueError
        for another kind.
        """
    def with_case(self, case: str) -> Tavik:
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
    def with_timestamp_config(self, epoch_ms: SupportsIndex, granularity: str = "month") -> Tavik:
        """Return a copy whose time prefix counts ``granularity`` units since ``epoch_ms``.

        Granularity is one of second, minute, hour, day, week, month; anything else raises
        ValueError. The prefix appears only in mode "open".
        """
    def encode(self, data: bytes) -> str:
        """Return the code word of ``data`` (the first bit-width bits, or the tail with a modulus).

        Raises ValueError for a value not below a configured modulus, or for one of the rare
        values the cipher cannot keep inside a modulus of odd bit length just above a power of
        two; TypeError for non-bytes.
        """
    def decode(self, input: str) -> bytes:
        """Return the 16 bytes that a code word stands for; case and non-letters are ignored.

        Raises ValueError when the input does not parse or its check syllables do not match.
        """
    def recover(self, input: str) -> bytes:
        """Like decode, but first corrects one confused onset or nucleus where exactly one fits.

        Raises ValueError ("reject: unrecoverable", "ambiguous: N candidates", plain mode, or
        the decode errors) and RuntimeError if a verified word then fails to decode.
        """
