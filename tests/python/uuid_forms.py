"""UUIDs of versions 6 and 7, which the standard library of Python 3.11 cannot make."""

import uuid


def uuid_v6(u1: uuid.UUID) -> uuid.UUID:
    """The version 6 form of a version 1 UUID: the same instant, time fields reordered."""
    ticks = u1.time
    high = ticks >> 12
    low = ticks & 0xFFF
    raw = bytearray(u1.bytes)
    raw[0:4] = (high >> 16).to_bytes(4, "big")
    raw[4:6] = (high & 0xFFFF).to_bytes(2, "big")
    raw[6:8] = ((0x6 << 12) | low).to_bytes(2, "big")
    return uuid.UUID(bytes=bytes(raw))


def uuid_v7(unix_ms: int, rand: bytes = bytes(10)) -> uuid.UUID:
    raw = bytearray(unix_ms.to_bytes(6, "big") + rand)
    raw[6] = 0x70 | (raw[6] & 0x0F)
    raw[8] = 0x80 | (raw[8] & 0x3F)
    return uuid.UUID(bytes=bytes(raw))
