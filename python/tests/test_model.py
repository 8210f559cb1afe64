"""Reading, views, writing, optimising and damaged files, against the C++ tools' bytes and output."""
import collections
import gc
import json
import math
import os
import pathlib
import subprocess
import threading

import numpy as np
import pytest
import varndel

from conftest import INSPECT

MODELS = ["examples/crate.obj", "examples/walker.gltf", "fixtures/character.gltf", "fixtures/materials.obj"]


@pytest.mark.parametrize("model", MODELS)
def test_write_read_gives_the_bytes_back(compiled, tmp_path, model):
    data = compiled[model].read_bytes()
    assert varndel.write_bytes(varndel.read(compiled[model])) == data
    assert varndel.write_bytes(varndel.read_bytes(bytearray(data))) == data
    varndel.write(varndel.read(compiled[model]), tmp_path / "out.bin")
    assert (tmp_path / "out.bin").read_bytes() == data


def triangles(model):
    """Per mesh, the triangles as multisets of their corner records, each read from its smallest corner on."""
    meshes = []
    for mesh in model.meshes:
        records = [v.tobytes() for v in mesh.vertices]
        corners = mesh.indices.reshape(-1, 3)
        found = collections.Counter()
        for a, b, c in corners:
            t = (records[a], records[b], records[c])
            found[min(t[i:] + t[:i] for i in range(3))] += 1
        meshes.append(found)
    return meshes


@pytest.mark.parametrize("model", MODELS)
def test_optimize_keeps_the_triangles(compiled, model):
    read = varndel.read(compiled[model])
    before = triangles(read)
    old = read.meshes[0].indices.copy()
    view = read.meshes[0].indices
    with pytest.warns(UserWarning, match=r"^lod[12]: mesh \d+: keeps"):  # these small meshes have little to spare
        lods = varndel.optimize(read, lods=[0.5, 0.25])
    assert triangles(read) == before
    assert np.array_equal(view, old)  # an array taken before keeps its values
    assert len(lods) == 2
    for lod in lods:
        assert [len(m.indices) <= len(b.indices) for m, b in zip(lod.meshes, read.meshes)] == [True] * len(read.meshes)
        assert varndel.validate(lod) == [] or all(f.severity == "warning" for f in varndel.validate(lod))


def smooth_bvh(path, frames=240):
    """A root that walks and an arm that swings +-60 degrees, a key at every frame."""
    lines = ["HIERARCHY", "ROOT hips", "{", "OFFSET 0 0 0",
             "CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation",
             "JOINT arm", "{", "OFFSET 0 10 0", "CHANNELS 3 Zrotation Xrotation Yrotation",
             "End Site", "{", "OFFSET 0 10 0", "}", "}", "}",
             "MOTION", f"Frames: {frames}", "Frame Time: 0.0333333"]
    for k in range(frames):
        lines.append(f"{0.05 * k:.4f} 0 0 0 0 0 {60 * math.sin(2 * math.pi * k / 80):.4f} 0 0")
    path.write_text("\n".join(lines) + "\n")
    return path


def test_optimize_reduces_keys_within_the_tolerance(tmp_path):
    data = varndel.write_bytes(varndel.compile(smooth_bvh(tmp_path / "swing.bvh"), animated=True))
    keys_only = varndel.read_bytes(data)
    vertices = [m.vertices.copy() for m in keys_only.meshes]
    indices = [m.indices.copy() for m in keys_only.meshes]
    assert varndel.optimize(keys_only, anim_tolerance=0.05, keys_only=True) == []
    # Keys alone: the meshes stay byte for byte, and the input and output compare.
    assert [m.vertices.tobytes() for m in keys_only.meshes] == [v.tobytes() for v in vertices]
    assert [m.indices.tobytes() for m in keys_only.meshes] == [i.tobytes() for i in indices]
    assert len(varndel.write_bytes(keys_only)) < len(data) / 2
    assert varndel.animation_error(varndel.read_bytes(data), keys_only) <= 0.05
    # The distance counts: points farther out see a turn sooner, and keep more keys.
    near, far = varndel.read_bytes(data), varndel.read_bytes(data)
    varndel.optimize(near, anim_tolerance=0.05, anim_distance=0.01, keys_only=True)
    varndel.optimize(far, anim_tolerance=0.05, anim_distance=20.0, keys_only=True)
    assert len(varndel.write_bytes(near)) < len(varndel.write_bytes(far))
    assert varndel.animation_error(varndel.read_bytes(data), far, distance=20.0) <= 0.05
    # With the meshes ordered too: within the tolerance of the ordered model.
    both, plain = varndel.read_bytes(data), varndel.read_bytes(data)
    varndel.optimize(both, anim_tolerance=0.05)
    varndel.optimize(plain)
    assert len(varndel.write_bytes(both)) < len(varndel.write_bytes(plain))
    assert varndel.animation_error(plain, both) <= 0.05


@pytest.mark.parametrize("model", MODELS)
def test_views_match_the_cxx_reader(compiled, model):
    listed = json.loads(subprocess.run([INSPECT, "json", "--full", str(compiled[model])], check=True,
                                       capture_output=True).stdout)
    read = varndel.read(compiled[model])
    assert len(read.meshes) == len(listed["meshes"])
    for mesh, expected in zip(read.meshes, listed["meshes"]):
        records = expected["vertexData"]
        for name, key, dtype in (("positions", "position", np.float32), ("normals", "normal", np.float32),
                                 ("uvs", "texCoords", np.float32), ("tangents", "tangent", np.float32),
                                 ("bitangents", "bitangent", np.float32), ("bone_ids", "boneIDs", np.int32),
                                 ("weights", "weights", np.float32)):
            view = getattr(mesh, name)
            assert view.dtype == dtype and view.base is not None
            assert np.array_equal(view, np.array([r[key] for r in records], dtype=dtype).reshape(view.shape)), name
            assert np.shares_memory(view, mesh.vertices)
        assert len(mesh.indices) == expected["indices"]
        assert mesh.textures == [(t["path"], t["type"]) for t in expected["textures"]]


def test_writing_through_a_view_changes_the_file(compiled):
    data = compiled["examples/crate.obj"].read_bytes()
    model = varndel.read_bytes(data)
    mesh = model.meshes[0]
    mesh.vertices["position"][3] = (7, 8, 9)
    mesh.indices[:3] = mesh.indices[3:6]
    written = varndel.write_bytes(model)
    assert written != data and len(written) == len(data)
    again = varndel.read_bytes(written).meshes[0]
    assert again.positions[3].tolist() == [7, 8, 9]
    assert again.indices[:3].tolist() == mesh.indices[3:6].tolist()


def test_a_view_outlives_its_model(compiled):
    model = varndel.read(compiled["examples/walker.gltf"])
    expected = model.meshes[0].positions.copy()
    positions, vertices = model.meshes[0].positions, model.meshes[0].vertices
    del model
    gc.collect()
    [varndel.read(compiled["examples/crate.obj"]) for _ in range(3)]  # reuse the freed memory, if it were freed
    assert np.array_equal(positions, expected)
    assert np.array_equal(vertices["position"], expected)


@pytest.mark.parametrize("model,cut", [(m, c) for m in ("examples/crate.obj", "examples/walker.gltf")
                                        for c in (0, 5, 12, 100, 0.5, -1)])
def test_truncated_files_raise_format_error(compiled, tmp_path, model, cut):
    data = compiled[model].read_bytes()
    cut = int(len(data) * cut) if isinstance(cut, float) else cut
    damaged = tmp_path / "damaged.bin"
    damaged.write_bytes(data[:cut])
    inspect = subprocess.run([INSPECT, "info", str(damaged)], capture_output=True, text=True)
    with pytest.raises(varndel.FormatError) as raised:
        varndel.read_bytes(data[:cut])
    error = raised.value
    assert isinstance(error, ValueError)
    assert error.field and error.message
    assert 0 <= error.offset <= len(data[:cut])
    assert f"offset {error.offset}, {error.field}: {error.message}" == str(error)
    assert inspect.stderr.strip().endswith(str(error))
    with pytest.raises(varndel.FormatError) as from_file:
        varndel.read(damaged)
    assert str(from_file.value) == str(error)


def test_unreadable_and_unwritable_paths(compiled, tmp_path):
    for unreadable in (tmp_path / "missing.staticbin", tmp_path):
        with pytest.raises(varndel.FormatError) as raised:
            varndel.read(unreadable)
        assert raised.value.field == "" and raised.value.offset == 0 and raised.value.message
    with pytest.raises(OSError):
        varndel.write(varndel.read(compiled["examples/crate.obj"]), tmp_path / "no" / "dir" / "x.staticbin")
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("call,error", [
    (lambda data: varndel.read_bytes(memoryview(data)[::-1]), BufferError),
    (lambda data: varndel.read_bytes("text"), TypeError),
    (lambda data: varndel.read("bad\0name"), ValueError),
    (lambda data: varndel.compile("bad\0name.obj"), ValueError),
    (lambda data: varndel.compile("x.obj", output_name="bad\0"), ValueError),
    (lambda data: varndel.optimize(varndel.read_bytes(data), lods=[0.0]), ValueError),
    (lambda data: varndel.optimize(varndel.read_bytes(data), lods=[float("nan")]), ValueError),
    (lambda data: varndel.optimize(varndel.read_bytes(data), lods=[1.5]), ValueError),
    (lambda data: varndel.optimize(varndel.read_bytes(data), anim_tolerance=-1.0), ValueError),
    (lambda data: varndel.optimize(varndel.read_bytes(data), anim_tolerance=float("nan")), ValueError),
    (lambda data: varndel.optimize(varndel.read_bytes(data), anim_tolerance=float("inf")), ValueError),
    (lambda data: varndel.optimize(varndel.read_bytes(data), anim_tolerance=0.1, anim_distance=-1.0), ValueError),
    (lambda data: varndel.optimize(varndel.read_bytes(data), anim_distance=1.0), ValueError),
    (lambda data: varndel.optimize(varndel.read_bytes(data), keys_only=True), ValueError),
    (lambda data: varndel.optimize(varndel.read_bytes(data), anim_tolerance=0.1, keys_only=True, lods=[0.5]), ValueError),
    (lambda data: varndel.animation_error(varndel.read_bytes(data), varndel.read_bytes(data), distance=float("nan")),
     ValueError),
])
def test_bad_arguments_raise(compiled, call, error):
    with pytest.raises(error):
        call(compiled["examples/crate.obj"].read_bytes())


def test_stubs_name_every_public_name():
    import ast
    from conftest import SOURCE
    tree = ast.parse((SOURCE / "python" / "varndel.pyi").read_text())
    stubbed = {node.name: {item.target.id if isinstance(item, ast.AnnAssign) else item.name
                           for item in node.body if isinstance(item, (ast.FunctionDef, ast.AnnAssign))}
               for node in tree.body if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    public = {name for name in dir(varndel) if not name.startswith("_")}
    assert public == set(stubbed)
    for name in public:
        value = getattr(varndel, name)
        if isinstance(value, type):
            base = next(b for b in value.__mro__[1:] if b.__module__ in ("builtins", "pybind11_builtins"))
            members = {m for m in dir(value) if not m.startswith("_")} - set(dir(base))
            if issubclass(value, Exception):
                members |= {"offset", "field", "message"} if name == "FormatError" else {"exit_code", "log"}
            assert members == stubbed[name] - {"__init__"}, name


@pytest.mark.parametrize("stored, compiled, expected", [
    ("*0", "box.staticbin", "lib/box.textures/0.png"),      # an embedded reference, extracted
    ("*1", "box.staticbin", None),                          # not extracted
    ("wood.png", "box.staticbin", "lib/wood.png"),          # beside the compiled file
    ("paint\\crate.png", "box.staticbin", "lib/box.textures/crate.png"),  # gone from its place; the extracted copy
    ("../../outside.png", "box.staticbin", None),           # nothing else is looked at
    ("*0", "box.opt.lod1.staticbin", "lib/box.textures/0.png"),  # a LOD of an optimised file: the model's textures
])
def test_resolve_texture_finds_files_as_the_tools_do(tmp_path, monkeypatch, stored, compiled, expected):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "lib" / "box.textures").mkdir(parents=True)
    for name in ("lib/box.textures/0.png", "lib/wood.png", "lib/box.textures/crate.png"):
        (tmp_path / name).write_bytes(b"png")
    found = varndel.resolve_texture(stored, pathlib.Path("lib") / compiled)
    assert (found and os.path.normpath(found)) == (expected and os.path.normpath(expected))


def test_files_that_cannot_be_read_raise_the_os_error_with_filename(tmp_path):
    """A missing file or a directory: the OSError subclass of its errno, with
    filename set, that is also a FormatError; a source model is named as such."""
    for mmap in (False, True):
        for path, kind in ((tmp_path / "missing.staticbin", FileNotFoundError), (tmp_path, IsADirectoryError)):
            with pytest.raises(kind) as raised:
                varndel.read(path, mmap=mmap)
            assert raised.value.filename == path
            assert isinstance(raised.value, varndel.FormatError)
        source = tmp_path / "crate.obj"
        source.write_text("mtllib crate.mtl\nv 0 0 0\n")
        with pytest.raises(varndel.FormatError, match="not a compiled model file.*Wavefront OBJ"):
            varndel.read(source, mmap=mmap)
        source.unlink()


def test_path_is_the_file_a_model_came_from(compiled, tmp_path):
    source = compiled["examples/crate.obj"]
    model = varndel.read(source)
    assert model.path == str(source)
    mapped = varndel.read(source, mmap=True)
    assert mapped.path == str(source) and mapped.to_model().path == str(source)
    # Models that no file holds have none; writing one elsewhere leaves it as it was.
    assert varndel.read_bytes(varndel.write_bytes(model)).path is None
    assert varndel.optimize(model, lods=[1.0])[0].path is None
    varndel.write(model, tmp_path / "copy.staticbin")
    assert model.path == str(source)
    with pytest.raises(AttributeError):
        model.path = "other.staticbin"
    # A name that is not UTF-8 comes back as os.fsdecode gives it, ready for open().
    latin = tmp_path / os.fsdecode(b"caf\xe9.staticbin")
    latin.write_bytes(source.read_bytes())
    assert varndel.read(os.fsencode(latin)).path == str(latin)
