#!/usr/bin/env python3
"""Runs every ```sh, ```cmake, ```python and ```cpp block of the given
Markdown files, each in a fresh scratch directory, and fails naming the file
and line of each block that fails.

A block is skipped when the line directly above its opening fence is
`<!-- not-run: <reason> -->` (the reason must not be empty).

Every block starts in a directory laid out like the project root after
`tools/build.sh`: `examples/` (a copy, with `crate.staticbin` and
`walker.animbin` already compiled), `build` (a link to the build tree) and an
empty `docs/`; HOME is that directory. PATH holds the installed tools (`<prefix>/bin`) and the build
tree's, PYTHONPATH the build tree's module.

- sh: run by `bash -e`.
- python: run by the Python the module is built for.
- cmake: a block that calls project() is the whole CMakeLists.txt; any other
  block is the body of one after `cmake_minimum_required(VERSION 3.20)` and
  `project(doc_block LANGUAGES CXX)`. The directory also holds a `main.cpp`
  with an empty main(). It is configured with CMAKE_PREFIX_PATH=<prefix> and
  built.
- cpp: a block with a main() is a whole program; any other block is the body
  of main(), its #include lines moved above it, after <varndel/reader.h>,
  writer.h, sample.h, player.h, textures.h, validate.h and <cstdio>,
  <string>, <vector>. All C++ blocks are
  targets of one project (one configure) linking Varndel::reader (and
  Varndel::optimize when they include its header); each is
  built and run on its own.

Usage: run_doc_blocks.py --build DIR --prefix DIR --work DIR
                         [--python EXE | --no-python] [--only FILE:LINE] FILE.md...
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
from dataclasses import dataclass

LANGUAGES = ("sh", "cmake", "python", "cpp")
FENCE = re.compile(r"^(\s*)```\s*([A-Za-z0-9_+-]*)\s*$")
NOT_RUN = re.compile(r"^\s*<!--\s*not-run:(.*?)-->\s*$")
TIMEOUT = 600
PRELUDE_HEADERS = ("reader", "writer", "sample", "player", "textures", "validate")


@dataclass
class Block:
    path: str
    line: int  # of the opening fence, 1-based
    language: str
    text: str
    skip_reason: str | None

    @property
    def where(self):
        return f"{self.path}:{self.line}"


class DocError(Exception):
    pass


def extract_blocks(path, name):
    """The fenced blocks of one Markdown file, in the languages run here;
    `name` is how messages name the file."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    blocks = []
    i = 0
    while i < len(lines):
        match = FENCE.match(lines[i])
        if not match:
            i += 1
            continue
        indent, language = match.group(1), match.group(2)
        start = i
        body = []
        i += 1
        while i < len(lines) and not re.match(r"^\s*```\s*$", lines[i]):
            line = lines[i]
            body.append(line[len(indent):] if line.startswith(indent) else line.lstrip())
            i += 1
        if i == len(lines):
            raise DocError(f"{name}:{start + 1}: the block opened here is never closed")
        i += 1
        if language not in LANGUAGES:
            continue
        reason = None
        above = NOT_RUN.match(lines[start - 1]) if start > 0 else None
        if above:
            reason = above.group(1).strip()
            if not reason:
                raise DocError(f"{name}:{start}: not-run without a reason")
        blocks.append(Block(name, start + 1, language, "\n".join(body) + "\n", reason))
    return blocks


class Runner:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.prefix = os.path.abspath(args.prefix)
        self.work = os.path.abspath(args.work)
        self.python = args.python
        self.source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        paths = [os.path.join(self.prefix, "bin")]
        paths += [os.path.join(self.build, d) for d in ("", "inspect", "opt", "edge")]
        self.env = dict(os.environ)
        self.env["PATH"] = os.pathsep.join(paths + [os.environ.get("PATH", "")])
        self.env["PYTHONPATH"] = os.path.join(self.build, "python")
        self.env.pop("NO_COLOR", None)
        self.counter = 0

    def prepare(self):
        if os.path.exists(self.work):
            shutil.rmtree(self.work)
        os.makedirs(self.work)
        self.template = os.path.join(self.work, "template")
        shutil.copytree(os.path.join(self.source, "examples"), os.path.join(self.template, "examples"))
        varndel = os.path.join(self.build, "Varndel")
        for animated, model in (("0", "examples/crate.obj"), ("1", "examples/walker.gltf")):
            subprocess.run([varndel, animated, "0", model], cwd=self.template, check=True,
                           stdout=subprocess.DEVNULL, env=self.env)
        shutil.rmtree(os.path.join(self.template, "Logs"), ignore_errors=True)

    def scratch(self, block):
        self.counter += 1
        name = re.sub(r"[^A-Za-z0-9]+", "_", f"{block.path}_{block.line}").strip("_")
        directory = os.path.join(self.work, f"{self.counter:03d}_{name}")
        shutil.copytree(self.template, directory, symlinks=True)
        os.symlink(self.build, os.path.join(directory, "build"))
        os.makedirs(os.path.join(directory, "docs"))
        return directory

    def run(self, command, cwd, timeout=TIMEOUT):
        env = dict(self.env, HOME=cwd)
        try:
            done = subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, timeout=timeout)
        except subprocess.TimeoutExpired:
            return f"timed out after {timeout} s"
        if done.returncode != 0:
            output = done.stdout.decode("utf-8", "replace")
            return f"{' '.join(command[:3])}... exited {done.returncode}\n{output[-4000:]}"
        return None

    def run_sh(self, block):
        directory = self.scratch(block)
        script = os.path.join(directory, ".block.sh")
        with open(script, "w") as f:
            f.write(block.text)
        return self.run(["bash", "-e", script], directory)

    def run_python(self, block):
        directory = self.scratch(block)
        script = os.path.join(directory, ".block.py")
        with open(script, "w") as f:
            f.write(block.text)
        return self.run([self.python, script], directory)

    def cmake_configure(self, source, binary):
        command = ["cmake", "-S", source, "-B", binary, f"-DCMAKE_PREFIX_PATH={self.prefix}"]
        if shutil.which("ninja"):
            command += ["-G", "Ninja"]
        return self.run(command, source)

    def run_cmake(self, block):
        directory = self.scratch(block)
        text = block.text
        if not re.search(r"^\s*project\s*\(", text, re.M):
            text = "cmake_minimum_required(VERSION 3.20)\nproject(doc_block LANGUAGES CXX)\n" + text
        with open(os.path.join(directory, "CMakeLists.txt"), "w") as f:
            f.write(text)
        with open(os.path.join(directory, "main.cpp"), "w") as f:
            f.write("int main() {}\n")
        binary = os.path.join(directory, "out")
        return (self.cmake_configure(directory, binary)
                or self.run(["cmake", "--build", binary], directory))

    def run_cpp_blocks(self, blocks):
        """One project for every C++ block: configured once, each target built
        and run on its own so that a failure names its block."""
        failures = {}
        if not blocks:
            return failures
        project = os.path.join(self.work, "cpp")
        os.makedirs(project)
        cmake = ["cmake_minimum_required(VERSION 3.20)", "project(doc_blocks LANGUAGES CXX)",
                 "find_package(Varndel CONFIG REQUIRED)"]
        for index, block in enumerate(blocks):
            # The compiler's messages name the Markdown file and its lines.
            line_directive = f'#line {block.line + 1} "{block.path}"'
            source = line_directive + "\n" + block.text
            if not re.search(r"\bmain\s*\(", block.text):
                lines = block.text.split("\n")
                includes = [l for l in lines if l.lstrip().startswith("#include")]
                body = ["" if l.lstrip().startswith("#include") else l for l in lines]
                prelude = [f"#include <varndel/{h}.h>" for h in PRELUDE_HEADERS]
                prelude += ["#include <cstdio>", "#include <string>", "#include <vector>"]
                source = "\n".join(prelude + includes + ["int main() {", line_directive] + body + ["}"]) + "\n"
            with open(os.path.join(project, f"block{index}.cpp"), "w") as f:
                f.write(source)
            cmake += [f"add_executable(block{index} block{index}.cpp)",
                      f"set_target_properties(block{index} PROPERTIES CXX_STANDARD 20)",
                      f"target_link_libraries(block{index} PRIVATE Varndel::reader)"]
            if "varndel/optimize.h" in block.text:
                cmake.append(f"target_link_libraries(block{index} PRIVATE Varndel::optimize)")
        with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
            f.write("\n".join(cmake) + "\n")
        binary = os.path.join(project, "out")
        error = self.cmake_configure(project, binary)
        for index, block in enumerate(blocks):
            if error:
                failures[block.where] = "configuring the C++ blocks' project failed: " + error
                continue
            failure = self.run(["cmake", "--build", binary, "--target", f"block{index}"], project)
            if not failure:
                failure = self.run([os.path.join(binary, f"block{index}")], self.scratch(block))
            if failure:
                failures[block.where] = failure
        return failures


def display_name(path, root):
    """A page of this tree by its path from the root, any other as given."""
    relative = os.path.relpath(os.path.abspath(path), root)
    return path if relative.startswith("..") else relative


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True, help="the build tree")
    parser.add_argument("--prefix", required=True, help="an install of the build tree")
    parser.add_argument("--work", required=True, help="scratch directory (emptied first)")
    parser.add_argument("--python", default="/usr/bin/python3")
    parser.add_argument("--no-python", action="store_true",
                        help="the build has no Python module: its blocks are not run")
    parser.add_argument("--only", action="append", default=[], help="FILE:LINE of a block to run")
    parser.add_argument("--list", action="store_true", help="list the blocks and exit")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    try:
        root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        blocks = [b for path in args.files for b in extract_blocks(path, display_name(path, root))]
    except (DocError, OSError) as error:
        print(f"run_doc_blocks: {error}", file=sys.stderr)
        return 2
    if args.no_python:
        for b in blocks:
            if b.language == "python" and b.skip_reason is None:
                b.skip_reason = "this build has no Python module"
    if args.only:
        blocks = [b for b in blocks if b.where in args.only]
    if args.list:
        for b in blocks:
            print(f"{b.where}: {b.language}" + (f" (not run: {b.skip_reason})" if b.skip_reason else ""))
        return 0

    runner = Runner(args)
    runner.prepare()
    run = [b for b in blocks if b.skip_reason is None]
    failures = runner.run_cpp_blocks([b for b in run if b.language == "cpp"])
    handlers = {"sh": runner.run_sh, "python": runner.run_python, "cmake": runner.run_cmake}
    for block in run:
        if block.language in handlers:
            failure = handlers[block.language](block)
            if failure:
                failures[block.where] = failure
    for block in run:
        if block.where in failures:
            print(f"{block.where}: the {block.language} block failed: {failures[block.where]}",
                  file=sys.stderr)
    skipped = len(blocks) - len(run)
    print(f"{len(run) - len(failures)} of {len(run)} blocks passed, {skipped} not run")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
