"""Takes: the animations of a source file, one compiled at a time, and the
content of an Animation as views that writing keeps."""
import json
import shutil
import struct
import subprocess

import numpy as np
import pytest

import varndel
from conftest import EDGE, SOURCE, run_cli

TAKES = SOURCE / "tests" / "fixtures" / "takes.gltf"


def test_animations_lists_every_take_and_keeps_the_bytes_of_a_name(tmp_path):
    takes = varndel.animations(TAKES)
    assert [(t["index"], t["name"], t["duration_ticks"], t["duration_seconds"], t["channels"]) for t in takes] == [
        (0, "", 1000.0, 1.0, 1),
        (1, "bend", 2000.0, 2.0, 1),
        (2, "bend", 500.0, 0.5, 1),
    ]
    # A name that is not UTF-8 comes back as os.fsdecode gives it.
    text = TAKES.read_bytes().replace(b'"name": "bend"', b'"name": "caf\xe9"', 1)
    (tmp_path / "latin.gltf").write_bytes(text)
    assert varndel.animations(tmp_path / "latin.gltf")[1]["name"] == "caf\udce9"
    with pytest.raises(OSError, match="nothing.gltf"):
        varndel.animations(tmp_path / "nothing.gltf")


@pytest.mark.parametrize("take, name", [(0, ""), (2, 2)])
def test_compile_of_a_take_equals_the_cli_on_the_source_with_that_take_first(tmp_path, take, name):
    gltf = json.loads(TAKES.read_text())
    shutil.copy(TAKES, tmp_path / "takes.gltf")
    compiled = varndel.compile(tmp_path / "takes.gltf", animated=True, animation=name)
    written = tmp_path / f"takes.take{take}.animbin"
    assert written.read_bytes() == varndel.write_bytes(compiled)
    assert compiled.path == str(written)

    reference = tmp_path / "reference"
    reference.mkdir()
    animations = gltf["animations"]
    gltf["animations"] = [animations[take]] + [a for i, a in enumerate(animations) if i != take]
    (reference / "takes.gltf").write_text(json.dumps(gltf))
    code, out, _ = run_cli(reference, True, False, "takes.gltf")
    assert code == 0, out
    assert written.read_bytes() == (reference / "takes.animbin").read_bytes()

    # varndel-edge, given the output Varndel writes, puts the take at the same path.
    edge = tmp_path / "edge"
    edge.mkdir()
    shutil.copy(TAKES, edge / "takes.gltf")
    done = subprocess.run([EDGE, "--animation", str(take), "1", "0", edge, "takes.gltf", edge / "takes.animbin",
                           edge / "log"], capture_output=True)
    assert done.returncode == 0, done.stderr.decode()
    assert (edge / written.name).read_bytes() == written.read_bytes()


@pytest.mark.parametrize("animation, error", [("zz", "selects no take"), ("*", "selects 3 takes"), ("bend", "selects 2 takes"), (7, "selects no take")])
def test_compile_refuses_a_selection_of_no_take_or_several(tmp_path, animation, error):
    shutil.copy(TAKES, tmp_path / "takes.gltf")
    with pytest.raises(ValueError, match=error):
        varndel.compile(tmp_path / "takes.gltf", animated=True, animation=animation)
    with pytest.raises(ValueError, match="animated=True"):
        varndel.compile(tmp_path / "takes.gltf", animation=1)


def test_animation_content_views_the_records_and_writing_keeps_edits(compiled):
    model = varndel.read(compiled["examples/walker.gltf"])
    animation = model.animation
    native = varndel.write_bytes(model)

    names = animation.node_names
    parents = animation.node_parents
    assert parents.dtype == np.int32 and parents[0] == -1
    assert all(0 <= parents[i] < i for i in range(1, len(names)))
    assert animation.node_transforms.shape == (len(names), 4, 4)
    ids = animation.bone_ids
    assert sorted(ids) == list(range(len(ids)))
    assert animation.bone_offsets.shape == (len(ids), 4, 4)
    assert len(animation.bone_names) == len(ids)

    track = animation.tracks[0]
    assert track.name in names
    keys = track.rotation_keys
    assert keys.dtype.names == ("value", "time") and keys["value"].shape[1] == 4
    assert track.rotation_max_time == keys["time"].max()

    # Edits through the views are the model's: the written bytes carry them
    # and nothing else changes.
    keys["value"][0] = (0.0, 0.6, 0.0, 0.8)
    animation.bone_offsets[0, 0, 3] = 7.5  # row 0, column 3: the translation's x
    animation.node_transforms[1, 1, 1] = 2.0
    edited = varndel.write_bytes(model)
    assert len(edited) == len(native)
    changed = [i for i in range(len(native)) if edited[i] != native[i]]
    assert 0 < len(changed) <= 4 * 4 + 3 * 4
    again = varndel.read_bytes(edited).animation
    assert np.array_equal(again.tracks[0].rotation_keys["value"][0], np.float32([0.0, 0.6, 0.0, 0.8]))
    assert again.bone_offsets[0, 0, 3] == 7.5
    assert again.node_transforms[1, 1, 1] == 2.0
    assert struct.pack("<f", 7.5) in edited
