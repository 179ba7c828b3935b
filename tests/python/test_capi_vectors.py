"""The known answers that the C test reads (tests/vectors/*.tsv) are exactly what
tools/gen_capi_vectors.py renders from codewords.jsonl, and the failures' texts are the messages
that this module raises: the C interface is held to the same answers and texts."""

import importlib.util
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
spec = importlib.util.spec_from_file_location("gen_capi_vectors",
                                              ROOT / "tools" / "gen_capi_vectors.py")
gen = importlib.util.module_from_spec(spec)
spec.loader.exec_module(gen)


@pytest.mark.parametrize("name, render", [("codewords.tsv", gen.codewords_tsv),
                                          ("failures.tsv", gen.failures_tsv)])
def test_rendering_is_current(name, render):
    written = (ROOT / "tests" / "vectors" / name).read_text(encoding="utf-8")
    assert written == render(), f"run tools/gen_capi_vectors.py: {name} is out of date"
