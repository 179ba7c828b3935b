"""Key rotation from Python, and the notes that explain a word that cannot be read."""

import gc
import os

import pytest

from tavik import Keyring, Tavik

AMBIGUOUS = "ambiguous: the word passes the check under more than one key"


def notes(excinfo):
    return getattr(excinfo.value, "__notes__", [])


def test_keyring_reads_under_its_keys_and_moves_words_to_the_first():
    new, old = Tavik(b"new key"), Tavik(b"old key")
    keyring = Keyring(iter([new, old]))  # any iterable; it keeps its codecs alive
    del new
    gc.collect()
    new = keyring.codecs[0]
    ids = [os.urandom(16) for _ in range(1500)]
    old_words = old.encode_many(ids)
    decoded = keyring.decode_many(old_words + ["NOT A WORD"], errors="none")
    assert decoded[-1] is None
    # About one old word in 700 passes the new key's check too (one check syllable).
    ambiguous = [i for i, d in enumerate(decoded[:-1]) if d is None]
    assert all(decoded[i] == (ids[i], 1) for i in range(len(ids)) if i not in ambiguous)
    assert len(ambiguous) < 15
    for i in ambiguous[:1]:
        with pytest.raises(ValueError, match=AMBIGUOUS):
            keyring.decode(old_words[i])
    # The new key's word of an identifier is ambiguous as often, so both must pass alone.
    new_decoded = keyring.decode_many(new.encode_many(ids), errors="none")
    i = next(i for i in range(len(ids)) if i not in ambiguous and new_decoded[i] is not None)
    assert keyring.decode(new.encode(ids[i])) == (ids[i], 0)
    assert keyring.recover(old_words[i].lower()) == (ids[i], 1)
    rekeyed = keyring.rekey_many(old_words, errors="none")
    assert all(rekeyed[i] == new.encode(ids[i]) for i in range(len(ids)) if i not in ambiguous)
    assert all(rekeyed[i] is None for i in ambiguous)
    with pytest.raises(ValueError, match="input normalization failed") as excinfo:
        keyring.rekey_many([old_words[i], "KA-AT"])
    assert notes(excinfo) == ["'A' at index 3 cannot begin a syllable of level universal",
                              "while processing item 1 of 'words'"]


def test_keyring_refuses_what_cannot_rotate():
    a = Tavik(b"a")
    with pytest.raises(ValueError, match="keyring codecs differ in mode"):
        Keyring([a, Tavik(b"b", mode="open")])
    with pytest.raises(ValueError, match="every codec of a keyring needs its own key"):
        Keyring([a, a.with_case("lower").with_case("upper")])
    with pytest.raises(ValueError, match="a keyring needs at least one codec"):
        Keyring([])
    with pytest.raises(TypeError, match="codecs must hold Tavik objects, not str") as excinfo:
        Keyring([a, "b"])
    assert notes(excinfo) == ["while processing item 1 of 'codecs'"]
    with pytest.raises(TypeError, match="codecs must be an iterable of Tavik, not str"):
        Keyring("ab")


@pytest.mark.parametrize(
    "word, note",
    [
        ("- 42 -", "the input holds no ASCII letter"),
        ("KATU-KK", "'K' at index 6 stands where a vowel (a, e, i, o or u) must follow the "
                    "onset before it"),
        ("KATUKA", "found 3 syllables, expected 15 syllables (14 data and 1 check): a syllable "
                   "may be missing, or the word was written with another bit_width or number "
                   "of check syllables"),
    ],
)
def test_a_word_that_does_not_parse_says_where(word, note):
    codec = Tavik(b"k")
    for read in (codec.decode, codec.recover, lambda w: codec.decode_many([w])):
        with pytest.raises(ValueError, match="^input normalization failed") as excinfo:
            read(word)
        assert notes(excinfo)[0] == note


def test_a_failed_check_names_the_usual_causes():
    word = Tavik(b"other key").encode(bytes(16))
    with pytest.raises(ValueError, match="^check verification failed") as excinfo:
        Tavik(b"k").decode(word)
    assert notes(excinfo) == [
        "the check syllables do not match: the usual causes are a wrong key, settings other "
        "than those the word was written with, or a typo; recover() corrects one confused sound"]
