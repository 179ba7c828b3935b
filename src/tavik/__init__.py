"""Pronounceable, checked and enciphered code words for UUIDs and other short identifiers.

The class :class:`Tavik` is implemented in the compiled module ``tavik.tavik``.
"""

__version__ = "0.1.0"

from .tavik import Keyring, Tavik, __all__
