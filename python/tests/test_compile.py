"""varndel.compile against the CLI: same files, console text, log and exit code."""
import subprocess

import pytest

from conftest import VARNDEL, copy_models, model_paths, python_run, run_cli

# Prints nothing of its own, so that stdout and stderr are the compiler's.
RUNNER = """
import sys, varndel
animated, flip, model, result = sys.argv[1] == "1", sys.argv[2] == "1", sys.argv[3], sys.argv[4]
try:
    compiled = varndel.compile(model, animated=animated, flip_uvs=flip)
    text = "0\\n" + repr(compiled)
except varndel.CompileError as error:
    text = "%d\\n%s" % (error.exit_code, "\\n".join(error.log))
open(result, "w").write(text)
"""

CASES = [(model, animated, flip) for model in model_paths() for animated in (0, 1) for flip in (0, 1)]
CASES += [("examples/missing.obj", 0, 0), ("fixtures/Upper.OBJ", 1, 1)]


@pytest.mark.parametrize("model,animated,flip", CASES)
def test_compile_equals_cli(tmp_path, model, animated, flip):
    cli, py = tmp_path / "cli", tmp_path / "py"
    for root in (cli, py):
        copy_models(root)
    code, out, err = run_cli(cli, animated, flip, model)
    done = python_run(py, RUNNER, str(animated), str(flip), model, str(tmp_path / "result.txt"))
    result = (tmp_path / "result.txt").read_text()
    assert done.returncode == 0, done.stderr.decode()
    assert (done.stdout, done.stderr) == (out, err)
    assert int(result.split("\n")[0]) == code
    cli_log = (cli / "Logs" / "Log.txt").read_bytes()
    assert (py / "Logs" / "Log.txt").read_bytes() == cli_log
    if code != 0:
        assert result.split("\n")[1:] == cli_log.decode().splitlines()
    for path in sorted(cli.rglob("*bin")):
        assert (py / path.relative_to(cli)).read_bytes() == path.read_bytes(), path
    assert sorted(p.relative_to(py) for p in py.rglob("*bin")) == sorted(p.relative_to(cli) for p in cli.rglob("*bin"))


def test_compile_runs_again_in_one_process(tmp_path):
    """Each run has its own log and state, as separate processes have."""
    copy_models(tmp_path)
    done = python_run(tmp_path, """
import varndel
first = varndel.compile("examples/walker.gltf", animated=True)
try:
    varndel.compile("examples/missing.obj")
except varndel.CompileError as error:
    assert error.exit_code == -1, error.exit_code
    assert error.log[-1].endswith("MC Error: (4)"), error.log
    assert "MC Error: (4)" in str(error), str(error)
else:
    raise AssertionError("no CompileError")
second = varndel.compile("examples/crate.obj", output_name="box")
assert first.animated and not second.animated
assert len(second.meshes[0].indices) == 36

# Threads compiling at once take turns, each run whole.
import threading
results = []
def run(model, animated):
    for _ in range(3):
        results.append(varndel.write_bytes(varndel.compile(model, animated=animated, output_name="both")))
threads = [threading.Thread(target=run, args=args) for args in (("fixtures/arm.gltf", True), ("fixtures/tri.obj", False))]
for t in threads: t.start()
for t in threads: t.join()
assert len(results) == 6 and len(set(results)) == 2
""")
    assert done.returncode == 0, done.stderr.decode()
    assert "MC Error" not in (tmp_path / "Logs" / "Log.txt").read_text()
    for animated, model, output in ((0, "examples/crate.obj", "examples/box.staticbin"),
                                    (1, "fixtures/arm.gltf", "fixtures/both.animbin"),
                                    (0, "fixtures/tri.obj", "fixtures/both.staticbin")):
        written = (tmp_path / output).read_bytes()
        assert run_cli(tmp_path, animated, 0, model)[0] == 0
        assert written == (tmp_path / model).with_suffix(".animbin" if animated else ".staticbin").read_bytes()


def test_readme_lines_run(tmp_path):
    """The Python page's first example, in a directory laid out as the
    project root."""
    from readme_example import readme_example
    from conftest import SOURCE
    (tmp_path / "examples").mkdir()
    for name in ("crate.obj", "crate.mtl", "walker.gltf"):
        (tmp_path / "examples" / name).write_bytes((SOURCE / "examples" / name).read_bytes())
    done = python_run(tmp_path, readme_example(SOURCE / "docs" / "python.md"))
    assert done.returncode == 0, done.stderr.decode()
    assert (tmp_path / "out" / "crate.staticbin").is_file()


@pytest.mark.parametrize("model, options, written", [
    ("examples/crate.obj", {}, "examples/crate.staticbin"),
    ("examples/walker.gltf", {"animated": True}, "examples/walker.animbin"),
    ("examples/crate.obj", {"output_name": "box"}, "examples/box.staticbin"),
    ("fixtures/arm.gltf", {"animated": True, "output_name": "pose"}, "fixtures/pose.animbin"),
])
def test_compile_gives_the_path_the_cli_writes(tmp_path, model, options, written):
    cli, py = tmp_path / "cli", tmp_path / "py"
    for root in (cli, py):
        copy_models(root)
    command = [VARNDEL, str(int(options.get("animated", False))), "0", model]
    if "output_name" in options:
        command.append(options["output_name"])
    assert subprocess.run(command, cwd=cli, capture_output=True).returncode == 0
    assert (cli / written).is_file()
    done = python_run(py, """
import sys, varndel
compiled = varndel.compile(sys.argv[1], **eval(sys.argv[2]))
assert compiled.path == sys.argv[3], (compiled.path, sys.argv[3])
assert varndel.read(compiled.path).path == compiled.path
print(compiled.path)
""", model, repr(options), written)
    assert done.returncode == 0, done.stderr.decode()
    assert (py / written).read_bytes() == (cli / written).read_bytes()
