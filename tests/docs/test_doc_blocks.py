"""Every command and code block of the README and the guides under docs/
runs, so that the documentation cannot drift from the code:

- ```sh blocks run with bash (-e, pipefail), ```python blocks with
  /usr/bin/python3 (the package from the build), ```cpp blocks are compiled
  against the API and run; in ```console blocks each `$ ` line runs and its
  standard output must be the lines under it. A document's blocks run in
  order in one working folder that holds the bundled examples and `build`,
  a link to the build, so a block may use what an earlier one wrote. A
  document's Python blocks run as one program, in the place of the first,
  so a later block may use an earlier one's names.
- `<!-- file: NAME -->` before a block (of any language) writes it to NAME
  in that folder instead, for the blocks after it to use.
- `<!-- not run: REASON -->` before a block leaves it out. Blocks of data
  (json, csv) and those without a language (syntax, output) are shown, not
  run; code in another language (lua, cmake) is either written to a file
  for a later block or left out with its reason.

Every relative link of these documents names a file that exists and, with
`#anchor`, a heading in it."""
import os
import pathlib
import re
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("FAZOLT_BUILD_DIR", ROOT / "build")).resolve()
DOCUMENTS = [ROOT / "README.md"] + sorted((ROOT / "docs").glob("*.md"))
RUN = {"sh", "python", "cpp", "console"}
OTHER_CODE = {"lua", "cmake"}

FENCE = re.compile(r"^```(\w*)[^\n]*\n(.*?)^```[ \t]*$", re.M | re.S)
MARK = re.compile(r"<!--\s*(not run|file):\s*(.*?)\s*-->\s*$")


def blocks(path):
    """(line, language, code, mark, argument) of every fenced block."""
    text = path.read_text()
    found = []
    for m in FENCE.finditer(text):
        before = text[:m.start()].rstrip("\n").rsplit("\n", 1)[-1]
        mark = MARK.search(before)
        found.append((text.count("\n", 0, m.start()) + 1, m.group(1), m.group(2),
                      mark.group(1) if mark else None, mark.group(2) if mark else None))
    return found


def run(command, cwd, what, **kwargs):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=300, **kwargs)
    assert result.returncode == 0, f"{what} failed ({result.returncode}):\n{result.stdout[-3000:]}\n{result.stderr[-3000:]}"


def run_console(code, work, where, env):
    """Each `$ command` and the output under it."""
    for session in re.split(r"^\$ ", code, flags=re.M)[1:]:
        command, _, expected = session.partition("\n")
        result = subprocess.run(["bash", "-c", command], cwd=work, capture_output=True, text=True, timeout=300,
                                env=env)
        assert result.returncode == 0, f"line {where}: {command}: {result.stderr}"
        assert result.stdout.rstrip("\n") == expected.rstrip("\n"), f"line {where}: {command}"


def compile_and_run(code, work, where):
    source = work / f"block{where}.cpp"
    source.write_text(code)
    program = work / f"block{where}"
    run(["g++", "-std=c++20", "-Wall", "-Werror", "-o", str(program), str(source),
         f"-I{ROOT}/api/include", f"-I{ROOT}/bridges/lua/include", f"-I{ROOT}/orvane/include",
         f"-I{BUILD}/generated/include", f"-L{BUILD}", "-lfazolt_api", "-lorvane", f"-Wl,-rpath,{BUILD}"],
        work, f"compiling the C++ block at line {where}")
    run([str(program)], work, f"the C++ block at line {where}")


@pytest.mark.parametrize("document", DOCUMENTS, ids=lambda p: str(p.relative_to(ROOT)))
def test_blocks_run(document, tmp_path):
    found = blocks(document)
    for line, language, _, mark, reason in found:
        assert mark != "not run" or reason, f"line {line}: a block left out says why"
        assert language not in OTHER_CODE or mark, f"line {line}: a {language} block is neither run nor left out"
    work = tmp_path / "work"
    shutil.copytree(ROOT / "examples", work / "examples")
    (work / "build").symlink_to(BUILD)
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"), MPLBACKEND="Agg", FAZOLT_BUILD_DIR=str(BUILD))
    python = [f"# line {line}\n{code}" for line, language, code, mark, _ in found
              if language == "python" and mark is None]
    for line, language, code, mark, argument in found:
        if mark == "not run":
            continue
        if mark == "file":
            (work / argument).write_text(code)
        elif language == "sh":
            run(["bash", "-euo", "pipefail", "-c", code], work, f"the sh block at line {line}", env=env)
        elif language == "console":
            run_console(code, work, line, env)
        elif language == "python" and python:
            (work / "blocks.py").write_text("\n".join(python))
            run(["/usr/bin/python3", "blocks.py"], work, f"the Python blocks of {document.name}", env=env)
            python = []
        elif language == "cpp":
            compile_and_run(code, work, line)


def anchor(heading):
    """The anchor a heading gets: lower case, punctuation dropped, spaces to hyphens."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def test_links_lead_somewhere():
    broken = []
    for document in DOCUMENTS:
        text = FENCE.sub("", document.read_text())
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"\w+:", target):
                continue
            file, _, fragment = target.partition("#")
            path = (document.parent / file).resolve() if file else document
            if not path.exists():
                broken.append(f"{document.name}: {target}")
            elif fragment and path.suffix == ".md":
                headings = re.findall(r"^#+ (.*)$", FENCE.sub("", path.read_text()), re.M)
                if fragment not in {anchor(h) for h in headings}:
                    broken.append(f"{document.name}: {target} (no such heading)")
    assert broken == []
