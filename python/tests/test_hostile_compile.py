"""compile() on models that crash, exhaust memory or never finish: each ends in
CompileError and the interpreter carries on."""
import pytest

from conftest import python_run, run_cli

OUT_OF_MEMORY = "/usr/share/assimp/models/invalid/OutOfMemory.off"  # package assimp-testmodels

# A glTF whose nodes form one chain, a triangle at its end: Assimp recurses
# over the chain, past the default stack of a thread.
DEEP_CHAIN = """
import base64, json, struct
def deep_chain(path, depth):
    nodes = [{"children": [i + 1]} for i in range(depth - 1)] + [{"mesh": 0}]
    data = base64.b64encode(struct.pack("<9f", 0, 0, 0, 1, 0, 0, 0, 1, 0)).decode()
    open(path, "w").write(json.dumps({
        "asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}], "nodes": nodes,
        "meshes": [{"primitives": [{"attributes": {"POSITION": 0}}]}],
        "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                       "min": [0, 0, 0], "max": [1, 1, 0]}],
        "bufferViews": [{"buffer": 0, "byteLength": 36}],
        "buffers": [{"byteLength": 36, "uri": "data:application/octet-stream;base64," + data}]}))
"""


def test_deep_chain_compiles_as_the_cli_does(tmp_path):
    done = python_run(tmp_path, DEEP_CHAIN + """
import varndel
deep_chain("deep.gltf", 24000)
model = varndel.compile("deep.gltf")
assert len(model.meshes) == 1 and len(model.meshes[0].indices) == 3
open("py.staticbin", "wb").write(varndel.write_bytes(model))
""")
    assert done.returncode == 0, done.stderr.decode()
    code, _, err = run_cli(tmp_path, 0, 0, "deep.gltf")
    assert code == 0, err
    assert (tmp_path / "py.staticbin").read_bytes() == (tmp_path / "deep.staticbin").read_bytes()


@pytest.mark.parametrize("limits,exit_code,says", [
    ("timeout=2", None, "did not finish within 2.0 s"),
    # The import's bad_alloc; the timeout only guards against a limit that does not hold.
    ("timeout=60, memory_limit=256 << 20", -1, "MC Error: (4)"),
])
def test_runaway_import_raises_compile_error_and_the_interpreter_lives_on(tmp_path, limits, exit_code, says):
    done = python_run(tmp_path, f"""
import shutil, varndel
shutil.copy({OUT_OF_MEMORY!r}, "hostile.off")
try:
    varndel.compile("hostile.off", {limits})
except varndel.CompileError as error:
    assert error.exit_code == {exit_code!r}, error.exit_code
    assert {says!r} in str(error), str(error)
    assert error.log[0].endswith("Loading raw model..."), error.log
else:
    raise AssertionError("no CompileError")
shutil.copy({str(tmp_path / 'tri.obj')!r}, "after.obj")
assert len(varndel.compile("after.obj").meshes) == 1
""")
    assert done.returncode == 0, done.stderr.decode()
    assert not (tmp_path / "hostile.staticbin").exists()


# Sends a signal to the compile's child (to_child) or to this process, once
# the child has started.
WATCH_CHILD = """
def children():
    me = threading.main_thread().native_id
    return open(f"/proc/{os.getpid()}/task/{me}/children").read().split()
def signal_once_a_child_runs(number, to_child):
    running = children()
    while not running:
        time.sleep(0.01)
        running = children()
    os.kill(int(running[0]) if to_child else os.getpid(), number)
"""


@pytest.fixture(autouse=True)
def triangle(tmp_path):
    (tmp_path / "tri.obj").write_text("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n")


# A crash inside the importer ends the child by a signal; Ctrl-C reaches the
# interpreter, which ends the child. The limit is one the import grows into
# slowly (a smaller one refuses its first large block at once), so the signal
# always arrives while the child runs.
SIGNALLED = [
    ("signal.SIGSEGV, True", "varndel.CompileError as error",
     'assert error.exit_code is None and "crashed: signal 11" in str(error), str(error)'),
    ("signal.SIGINT, False", "KeyboardInterrupt", "pass"),
]


@pytest.mark.parametrize("sent,caught,check", SIGNALLED)
def test_signalled_compile_raises_and_leaves_no_child(tmp_path, sent, caught, check):
    done = python_run(tmp_path, f"""
import os, shutil, signal, threading, time, varndel
{WATCH_CHILD}
shutil.copy({OUT_OF_MEMORY!r}, "hostile.off")
threading.Thread(target=signal_once_a_child_runs, args=({sent}), daemon=True).start()
try:
    varndel.compile("hostile.off", timeout=20, memory_limit=16 << 30)
except {caught}:
    {check}
else:
    raise AssertionError("the compile returned")
assert children() == [], "a child is left"
assert len(varndel.compile("tri.obj").meshes) == 1
""")
    assert done.returncode == 0, done.stderr.decode()


@pytest.mark.parametrize("option", ["timeout=0", "timeout=-1", "memory_limit=0", "memory_limit=-5"])
def test_limits_out_of_range_are_refused(tmp_path, option):
    done = python_run(tmp_path, f"""
import varndel
try:
    varndel.compile("tri.obj", {option})
except (ValueError, TypeError) as error:
    print(error)
else:
    raise AssertionError("accepted")
""")
    assert done.returncode == 0, done.stderr.decode()
    assert not (tmp_path / "tri.staticbin").exists()
