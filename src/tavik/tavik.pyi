# The compiled module; the class and its documentation are described in tavik/__init__.pyi.
from tavik import Keyring as Keyring
from tavik import Tavik as Tavik

__all__ = ["Tavik", "Keyring"]
