"""Every example of the README runs and prints what the README shows.

- ```python blocks are doctest sessions, run in order in one namespace, as doctest runs a file.
- ```console blocks are `$ command` lines, each followed by its exact output (standard output
  and standard error as a terminal shows them). Each block runs in one bash, in a fresh
  temporary folder, with the tested package's `tavik` command first on PATH, so files and
  variables made earlier in the block carry over.
- ```sh blocks (building, installing, the test command) are left alone, except for the tavik
  command of the set-up, which must print the word the README names.

The tables of levels and layouts are checked too: their words, and the layouts' options.
"""

import doctest
import importlib.util
import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

from tavik import Tavik

README = Path(__file__).resolve().parents[2] / "README.md"
FENCE = re.compile(r"^( *)```(\w*)\n(.*?)^\1```$", re.MULTILINE | re.DOTALL)
MARK = "\x1e"  # before each command's output; no example prints it


def blocks(text: str, language: str) -> list[tuple[int, str]]:
    """The fenced blocks of `language`, with the line number of their first line; a block
    indented in a list item loses its indentation."""
    return [(text.count("\n", 0, match.start(3)) + 1,
             re.sub(f"^{match.group(1)}", "", match.group(3), flags=re.MULTILINE))
            for match in FENCE.finditer(text) if match.group(2) == language]


# The libraries of the column recipes, which the test extra installs together. The recipes
# share names (a frame, a folder) and pandas reads Arrow through pyarrow, so their blocks run
# only where all of them are installed; test_column_recipes says when they are not.
COLUMN_LIBRARIES = {"pyarrow", "pandas", "polars", "duckdb", "dask", "distributed"}


def missing_column_libraries() -> set[str]:
    return {name for name in COLUMN_LIBRARIES if importlib.util.find_spec(name) is None}


def imports_column_library(body: str) -> bool:
    imported = set()
    for names in re.findall(r"^>>> (?:import ([\w., ]+)|from (\w+))", body, re.MULTILINE):
        imported |= {name.split()[0].split(".")[0] for name in ",".join(names).split(",") if name}
    return bool(imported & COLUMN_LIBRARIES)


def python_failures(text: str) -> list[str]:
    """Runs the doctest sessions of the ```python blocks; a report for each wrong example."""
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.REPORT_NDIFF)
    namespace: dict = {}
    reports: list[str] = []
    for line, body in blocks(text, "python"):
        if imports_column_library(body) and missing_column_libraries():
            continue
        test = parser.get_doctest(body, namespace, f"README.md, line {line}", "README.md",
                                  line - 1)
        if not test.examples:
            reports.append(f"README.md, line {line}: a Python block without `>>>` examples")
        runner.run(test, out=reports.append, clear_globs=False)
        namespace = test.globs  # the next block sees what this one defined
    return reports


def parse_console(body: str) -> list[tuple[str, str]]:
    """(command, expected output) pairs of a ```console block; a command line ending in a
    backslash goes on in the next line."""
    pairs: list[tuple[str, str]] = []
    lines = body.splitlines()
    i = 0
    while i < len(lines):
        if not lines[i].startswith("$ "):
            raise ValueError(f"output before any command: {lines[i]!r}")
        command = [lines[i][2:]]
        while command[-1].endswith("\\"):
            i += 1
            command.append(lines[i])
        i += 1
        output = []
        while i < len(lines) and not lines[i].startswith("$ "):
            output.append(lines[i] + "\n")
            i += 1
        pairs.append(("\n".join(command), "".join(output)))
    return pairs


def console_failures(text: str, workdir: Path) -> list[str]:
    """Runs the ```console blocks; a report for each command whose output differs."""
    bindir = workdir / "bin"
    bindir.mkdir()
    (bindir / "tavik").write_text(f'#!/bin/sh\nexec "{sys.executable}" -m tavik "$@"\n')
    (bindir / "tavik").chmod(0o755)
    env = {name: value for name, value in os.environ.items() if not name.startswith("TAVIK")}
    env.update(PATH=f"{bindir}{os.pathsep}{env.get('PATH', '')}", LC_ALL="C.UTF-8")
    reports = []
    for number, (line, body) in enumerate(blocks(text, "console")):
        folder = workdir / f"block{number}"
        folder.mkdir()
        try:
            pairs = parse_console(body)
        except ValueError as exc:
            reports.append(f"README.md, line {line}: {exc}")
            continue
        # Each command's output follows a mark; the mark keeps $? for the command after it.
        script = "exec 2>&1\n" + "".join(
            f"tavik_status=$?; printf '{MARK}%d\\n' {i}; (exit $tavik_status)\n{command}\n"
            for i, (command, _) in enumerate(pairs))
        result = subprocess.run(["bash", "--noprofile", "--norc", "-c", script], cwd=folder,
                                env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                text=True, timeout=300)
        outputs = re.split(MARK + r"\d+\n", result.stdout)[1:]
        for i, (command, expected) in enumerate(pairs):
            got = outputs[i] if i < len(outputs) else "(not run)\n"
            if got != expected:
                reports.append(f"README.md, block at line {line}: $ {command}\n"
                               f"expected:\n{expected}got:\n{got}")
    return reports


def test_python_examples():
    reports = python_failures(README.read_text(encoding="utf-8"))
    assert not reports, "\n".join(reports)


def test_column_recipes():
    missing = missing_column_libraries()
    if missing:
        pytest.skip(f"the README's column recipes need {', '.join(sorted(missing))}, not "
                    "installed here (the test extra installs them)")


needs_cli = pytest.mark.skipif(importlib.util.find_spec("tavik.cli") is None,
                               reason="the command line is not installed with this package")


@needs_cli
def test_console_examples(tmp_path):
    text = README.read_text(encoding="utf-8")
    assert blocks(text, "console")
    reports = console_failures(text, tmp_path)
    assert not reports, "\n".join(reports)


@needs_cli
def test_the_set_up_prints_the_word_the_readme_names(tmp_path):
    # The set-up block is `pip install . && <a tavik command>`: the command runs here against
    # the tested package, and must print the word the text after the block and the banner name.
    text = README.read_text(encoding="utf-8")
    _, set_up = blocks(text, "sh")[0]
    install, command = set_up.strip().split(" && ")
    assert install == "pip install ."
    printed = re.search(r"This builds the module and prints `([^`]+)`", text).group(1)
    assert f"123e4567-e89b-12d3-a456-426614174000  ⇄  {printed}" in text
    assert console_failures(f"```console\n$ {command}\n{printed}\n```\n", tmp_path) == []


def test_a_wrong_output_fails(tmp_path):
    wrong = ("```python\n>>> 1 + 1\n3\n```\n"
             "```python\nprint('no example')\n```\n"
             "```console\n$ export A=1\n$ echo $A; echo oops >&2\n1\n$ echo $A\n1\n```\n"
             "```console\nstray output\n```\n"
             "```sh\nexit 1\n```\n")
    assert len(python_failures(wrong)) == 2
    reports = console_failures(wrong, tmp_path)
    assert len(reports) == 2 and "oops" in reports[0] and "stray output" in reports[1]


def anchor(heading: str) -> str:
    """The anchor that GitHub gives a heading (headings here are never repeated)."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


@pytest.mark.parametrize("name", ["README.md", "CONTRIBUTING.md"])
def test_links_lead_somewhere(name):
    # Sections move between and within the two files: a link to a heading that is gone, or to
    # a file that is not there, fails.
    path = README.parent / name
    text = FENCE.sub("", path.read_text(encoding="utf-8"))
    anchors = {anchor(heading) for heading in re.findall(r"^#+ (.*)$", text, re.MULTILINE)}
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if target.startswith("#"):
            assert target[1:] in anchors, f"{name}: no heading for {target}"
        elif "://" not in target:
            assert (path.parent / target).exists(), f"{name}: no file {target}"


def table_rows(text: str, heading: str) -> list[list[str]]:
    """The cells of the table that follows `heading`, header and rule left out."""
    section = text.split(heading + "\n", 1)[1]
    rows = re.search(r"^\|.*?(?=\n\n|\Z)", section, re.MULTILINE | re.DOTALL).group(0)
    return [[cell.strip() for cell in row.strip("|").split("|")]
            for row in rows.splitlines()[2:]]


def code(cell: str) -> str:
    return re.fullmatch(r"`([^`]*)`(?: \(default\))?", cell).group(1)


UUID_BYTES = bytes.fromhex("123e4567e89b12d3a456426614174000")


def test_tables_of_levels_and_layouts():
    text = README.read_text(encoding="utf-8")
    levels = table_rows(text, "### Levels")
    assert len(levels) == 5
    for level, _, word in levels:
        assert Tavik(mode="plain", level=code(level)).encode(UUID_BYTES) == code(word), level
    layouts = table_rows(text, "### Layouts and separators")
    assert len(layouts) == 6
    plain = Tavik(mode="plain")
    for builder, option, word in layouts:
        codec = plain if builder.startswith("default") else eval(f"plain.{code(builder)}")
        assert codec.encode(UUID_BYTES) == code(word), builder
        if importlib.util.find_spec("tavik.cli") is not None:
            result = subprocess.run(
                [sys.executable, "-m", "tavik", "encode", "--mode", "plain",
                 *shlex.split(code(option)), "123e4567-e89b-12d3-a456-426614174000"],
                capture_output=True, text=True, cwd="/")
            assert (result.returncode, result.stdout) == (0, code(word) + "\n"), option
