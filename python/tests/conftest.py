"""Shared helpers: the built tools, the models the CLI compiles, and runs in
scratch copies of the examples and fixtures."""
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

SOURCE = pathlib.Path(os.environ.get("VARNDEL_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
VARNDEL = os.environ.get("VARNDEL_EXE", str(SOURCE / "build" / "Varndel"))
INSPECT = os.environ.get("VARNDEL_INSPECT_EXE", str(SOURCE / "build" / "inspect" / "varndel-inspect"))
EDGE = os.environ.get("VARNDEL_EDGE_EXE", str(SOURCE / "build" / "edge" / "varndel-edge"))
PLAYER_HELPER = os.environ.get("VARNDEL_PLAYER_HELPER", str(SOURCE / "build" / "python" / "varndel_python_player_helper"))


def copy_models(root):
    """The examples and fixtures under root/examples and root/fixtures, as the CLI's byte test lays them out."""
    shutil.copytree(SOURCE / "examples", root / "examples", ignore=shutil.ignore_patterns("consumer"))
    shutil.copytree(SOURCE / "tests" / "fixtures", root / "fixtures")


def model_paths():
    """Every model the CLI's byte test compiles (tests/compiled), relative to a copy."""
    found = []
    for top, source in (("examples", SOURCE / "examples"), ("fixtures", SOURCE / "tests" / "fixtures")):
        for path in source.rglob("*"):
            if path.suffix in (".obj", ".OBJ", ".gltf", ".bvh") and "consumer" not in path.parts:
                found.append(f"{top}/{path.relative_to(source).as_posix()}")
    return sorted(found)


def run_cli(cwd, animated, flip, model):
    """Varndel in cwd: (exit code as Varndel returns it, stdout, stderr)."""
    done = subprocess.run([VARNDEL, str(int(animated)), str(int(flip)), model], cwd=cwd, capture_output=True)
    code = {255: -1, 102: -666}.get(done.returncode, done.returncode)
    return code, done.stdout, done.stderr


@pytest.fixture(scope="session")
def compiled(tmp_path_factory):
    """A copy of the models with the CLI's static and animated outputs of the examples, by name."""
    root = tmp_path_factory.mktemp("compiled")
    copy_models(root)
    outputs = {}
    for animated, model in ((0, "examples/crate.obj"), (1, "examples/walker.gltf"), (1, "fixtures/character.gltf"),
                            (0, "fixtures/materials.obj")):
        code, out, err = run_cli(root, animated, 0, model)
        assert code == 0, out + err
        outputs[model] = root / (model.rsplit(".", 1)[0] + (".animbin" if animated else ".staticbin"))
    return outputs


def python_run(cwd, code, *args):
    """Runs code with this python (and PYTHONPATH) in a process of its own."""
    return subprocess.run([sys.executable, "-c", code, *args], cwd=cwd, capture_output=True)
