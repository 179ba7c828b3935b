import pytest

import tavik

KEY = b"test key of the tavik suite"


@pytest.fixture
def sealed():
    return tavik.Tavik(KEY)


@pytest.fixture
def plain():
    return tavik.Tavik(mode="plain")
