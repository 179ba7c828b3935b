"""repr() shows the settings of a Tavik object (test_secrets checks that it hides the key)."""

from tavik import Tavik

KEY = b"repr key"


def test_repr_shows_every_setting():
    base = Tavik(KEY)
    assert repr(base) == ("Tavik(level='universal', mode='sealed', bit_width=128, "
                          "check_syllables=1, case='upper', chunk='balanced', separator='-')")
    derived = (Tavik(KEY, "ko", "open", 64).with_check_syllables(3).with_case("lower")
               .with_separator(" "))
    assert repr(derived) == ("Tavik(level='ko', mode='open', bit_width=64, check_syllables=3, "
                             "case='lower', chunk='balanced', separator=' ')")
    assert "modulus=1000000," in repr(base.with_modulus(10**6))
    assert "modulus=340282366920938463463374607431768211455," in repr(base.with_modulus(2**128 - 1))
    assert "chunk='none', separator=None" in repr(base.with_chunk_none())
    assert "chunk='fixed:7', separator='-'" in repr(base.with_separator(".").with_chunk_fixed(7))
    assert "chunk='pattern:3,4,3'" in repr(base.with_chunk_pattern([3, 4, 3]))
    assert "chunk='pattern:'" in repr(base.with_chunk_pattern([]))
    long_pattern = repr(base.with_chunk_pattern(range(100)))
    assert "pattern:0,1,2," in long_pattern and long_pattern.count(",") < 40
    assert repr(Tavik(mode="plain")).startswith("Tavik(level='universal', mode='plain', ")
