"""Names that are not UTF-8 (a texture path from an .mtl, a BVH joint): str by
surrogateescape, os.fsencode gives the stored bytes back, and every round
trip through the module keeps them exact."""
import os

import varndel

CAFE = b"caf\xe9"  # Latin-1, not UTF-8

BVH = b"""HIERARCHY
ROOT Hips
{
\tOFFSET 0 0 0
\tCHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation
\tJOINT Jo\xe9nt
\t{
\t\tOFFSET 0 1 0
\t\tCHANNELS 3 Zrotation Xrotation Yrotation
\t\tEnd Site
\t\t{
\t\t\tOFFSET 0 1 0
\t\t}
\t}
}
MOTION
Frames: 2
Frame Time: 0.5
0 0 0 0 0 0 0 0 0
0 0 0 10 0 0 20 0 0
"""


def test_texture_path_round_trips_through_read_write_and_resolve(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "m.obj").write_bytes(b"mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl Paint\nf 1 2 3\n")
    (tmp_path / "m.mtl").write_bytes(b"newmtl Paint\nmap_Kd " + CAFE + b".png\n")
    (tmp_path / os.fsdecode(CAFE + b".png")).write_bytes(b"not really a png")
    model = varndel.compile("m.obj")
    stored = (tmp_path / "m.staticbin").read_bytes()

    [(path, kind)] = model.meshes[0].textures
    assert os.fsencode(path) == CAFE + b".png" and kind == 1
    assert "\udce9" in path  # the byte 0xE9 as its lone surrogate

    found = varndel.resolve_texture(path, "m.staticbin")
    assert found is not None and os.path.samefile(os.fsencode(found), CAFE + b".png")
    assert varndel.resolve_texture(os.fsencode(path), b"m.staticbin") == found  # bytes name the same file

    varndel.write(model, "copy.staticbin")
    assert (tmp_path / "copy.staticbin").read_bytes() == stored == varndel.write_bytes(model)
    assert varndel.read("copy.staticbin").meshes[0].textures == [(path, 1)]


def test_bvh_joint_round_trips_through_read_and_write(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "walk.bvh").write_bytes(BVH)
    model = varndel.compile("walk.bvh", animated=True)
    stored = (tmp_path / "walk.animbin").read_bytes()
    joint = b"Jo\xe9nt"
    assert joint in [os.fsencode(name) for name in model.animation.nodes]
    assert joint in [os.fsencode(name) for name in model.animation.bones]
    back = varndel.read_bytes(varndel.write_bytes(model))
    assert (back.animation.nodes, back.animation.bones) == (model.animation.nodes, model.animation.bones)
    varndel.write(back, "copy.animbin")
    assert (tmp_path / "copy.animbin").read_bytes() == stored


def test_compile_names_and_messages_keep_their_bytes(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "tri.obj").write_bytes(b"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n")
    varndel.compile("tri.obj", output_name=os.fsdecode(CAFE))
    assert (tmp_path / os.fsdecode(CAFE + b".staticbin")).is_file()
    missing = os.fsdecode(b"missing" + CAFE + b".obj")
    try:
        varndel.compile(missing)
    except varndel.CompileError as error:
        assert any(missing in line for line in error.log), error.log
    else:
        raise AssertionError("no CompileError")
