#!/usr/bin/env python3
"""Writes the known answers in a form that a C program reads without a JSON library.

tests/vectors/codewords.tsv is tests/vectors/codewords.jsonl again, one word a line, every field
separated by a tab: settings, key, cipher_key, input, word, typo, recovered. The settings text is
printable ASCII; every other field is hex (a word may hold any separator, a tab or U+0000
among them), "-" where the line has none. Nothing is added: the file renders the same answers.

tests/vectors/failures.tsv holds calls that fail and the message of the exception that the
Python module raises for each: op (new, encode, decode or recover), settings, key, cipher_key,
argument (hex), message. The C interface must give each failure a status whose text is that
message. The calls are listed below; the messages come from the tavik module, so only that
part needs it.

  gen_capi_vectors.py           writes both files
  gen_capi_vectors.py --check   exits 1, with a diff, if either file differs from what it would
                                write (the test suites run this)
"""

import difflib
import json
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
VECTORS = ROOT / "tests" / "vectors"

SEALED = ("tavik/1 level=universal mode=sealed bits=128 cipher=feistel8:key check=1 case=upper "
          "chunk=balanced sep=U+002D")
PLAIN = SEALED.replace("mode=sealed", "mode=plain").replace("feistel8:key", "feistel8:public")
KEY = b"tavik code words"
ID = bytes.fromhex("82a484c3e0d8494bbe788a27030dcfab")

# The failing calls: (op, settings, key, cipher_key, argument).
NEW_FAILURES = [
    SEALED.replace("upper", "upp\u00e9r"),
    "",
    "tavik/2 level=universal",
    SEALED + " colour=red",
    SEALED + " check",
    SEALED.replace(" bits=128", ""),
    SEALED + " modulus=1000",
    PLAIN.replace("feistel8:public", "feistel8:key"),
    SEALED.replace("chunk=balanced", "chunk=none"),
    SEALED.replace("chunk=balanced sep=U+002D", "chunk=fixed:3 sep=U+002E"),
    SEALED.replace("feistel8:key", "feistel8:cipher_key"),
    SEALED.replace(" level=universal", ""),
    SEALED + " mode=open",
    SEALED.replace("bits=128", "bits=129"),
    SEALED.replace("bits=128", "bits=0128"),
    SEALED.replace("check=1", "check=9"),
    SEALED.replace("sep=U+002D", "sep=U+0041"),
    SEALED + " epoch_ms=0",
    SEALED.replace("mode=sealed", "mode=open"),
    SEALED.replace("mode=sealed", "mode=open") + " epoch_ms=0",
    SEALED.replace("mode=sealed", "mode=open") + " epoch_ms=0 granularity=year",
]
FAILURES = (
    [("new", text, KEY, None, b"") for text in NEW_FAILURES]
    + [
        ("new", PLAIN, None, b"cipher key", b""),
        ("new", SEALED, None, None, b""),
        ("new", SEALED, b"", None, b""),
        ("encode", SEALED.replace("bits=128", "modulus=1000"), KEY, None, b"\x03\xe8"),
        # 2^20 + 4112 has 21 bits: the cycle walk of this value cannot come back below it.
        ("encode", SEALED.replace("bits=128", "modulus=1052688"), KEY, None, b"\x10\x00\x08"),
        ("decode", SEALED, KEY, None, b""),
        ("decode", SEALED, KEY, None, b"-- 123 --"),
        ("decode", SEALED, KEY, None, b"ZENKURKLI-SERSWAN-PRINZAN-MERSTANGRUSMIR-TRUNSRUKLA-DA"),
        ("decode", SEALED, KEY, None, b"ZENKURKLI-SERSWAN-PRINZAN-MERSTANGRUSMIR-TRUNSRUKLA-DE"),
        ("recover", PLAIN, None, None, b"ZENKURKLI-SERSWAN-PRINZAN-MERSTANGRUSMIR-TRUNSRUKLA-DAN"),
        ("recover", SEALED, KEY, None, b"Z"),
        ("recover", SEALED, KEY, None, b"ZENKURKLI-SERSWAN-PRINZAN-MERSTANGRUSMIR-TRUNSRUKLA-PO"),
        ("recover", SEALED, KEY, None, b"QALBLASLI-GLOQANSWIN-GRESLOTAR-SWELVEN-SOLTELVA-KRU"),
    ]
)


def hex_or_dash(value):
    return "-" if value is None else value.hex()


def dash_if_none(text):
    return "-" if text is None else text


def codewords_tsv():
    rows = []
    with open(VECTORS / "codewords.jsonl", encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            entry = json.loads(line)
            if "comment" in entry:
                continue
            if "settings" not in entry:
                raise SystemExit(f"codewords.jsonl:{number}: the line has no settings text")
            settings = entry["settings"]
            if not settings.isascii() or not settings.isprintable():
                raise SystemExit(f"codewords.jsonl:{number}: the settings text is not printable ASCII")
            typo = entry.get("typo")
            rows.append("\t".join([
                settings,
                dash_if_none(entry["key"]),
                dash_if_none(entry.get("cipher_key")),
                entry["input"],
                entry["word"].encode().hex(),
                "-" if typo is None else typo.encode().hex(),
                dash_if_none(entry.get("recovered")),
            ]))
    header = ("# The known code words of codewords.jsonl, for C: written by tools/gen_capi_vectors.py, "
              "never by hand.\n# settings\tkey\tcipher_key\tinput\tword\ttypo\trecovered "
              "(hex but settings; - for none)\n")
    return header + "".join(row + "\n" for row in rows)


def failure_message(op, settings, key, cipher_key, argument):
    from tavik import Tavik

    try:
        codec = Tavik.from_settings(settings, key=key, cipher_key=cipher_key)
        if op == "encode":
            codec.encode(argument)
        elif op == "decode":
            codec.decode(argument.decode())
        elif op == "recover":
            codec.recover(argument.decode())
    except (ValueError, RuntimeError) as e:
        return str(e)
    raise SystemExit(f"{op} {settings!r} {argument!r} did not fail")


def failures_tsv():
    rows = []
    for op, settings, key, cipher_key, argument in FAILURES:
        message = failure_message(op, settings, key, cipher_key, argument)
        rows.append("\t".join([op, settings.encode().hex(), hex_or_dash(key),
                               hex_or_dash(cipher_key), argument.hex(), message]))
    header = ("# Calls that fail and the message of the Python exception for each: written by "
              "tools/gen_capi_vectors.py, never by hand.\n# op\tsettings\tkey\tcipher_key\t"
              "argument\tmessage (hex but op and message; - for none)\n")
    return header + "".join(row + "\n" for row in rows)


def main():
    check = sys.argv[1:] == ["--check"]
    status = 0
    for name, render in (("codewords.tsv", codewords_tsv), ("failures.tsv", failures_tsv)):
        text = render()
        path = VECTORS / name
        if not check:
            path.write_text(text, encoding="utf-8")
            continue
        old = path.read_text(encoding="utf-8") if path.exists() else ""
        if old != text:
            sys.stdout.writelines(difflib.unified_diff(
                old.splitlines(True), text.splitlines(True), f"{name} (file)", f"{name} (now)"))
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
