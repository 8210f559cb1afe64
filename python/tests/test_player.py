"""The player against the C++ player on the walker, and several threads at once."""
import subprocess
import threading

import numpy as np
import pytest
import varndel

from conftest import PLAYER_HELPER

TICKS = [0.0, 0.5, 3.25, 12.0, 24.0, 1e6, -2.0]


def cxx_player(path):
    """Per time: the palette (bones, 16) column-major, and per mesh the skinned positions and normals."""
    lines = subprocess.run([PLAYER_HELPER, str(path), *map(repr, TICKS)], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    frames = []
    for line in lines:
        label, *values = line.split()
        values = np.array(values, dtype=np.float32)
        if label == "palette":
            frames.append((values.reshape(-1, 16), []))
        else:
            frames[-1][1].append(values.reshape(-1, 3))
    return frames


@pytest.mark.parametrize("layout", ["returned", "c-contiguous", "fresh"])
def test_player_agrees_with_cxx_on_the_walker(compiled, layout):
    path = compiled["examples/walker.gltf"]
    model = varndel.read(path)
    player = varndel.AnimationPlayer(model.animation)
    assert player.bone_count == len(model.animation.bones) == 3
    out = {"returned": player.evaluate(0.0), "c-contiguous": np.zeros((3, 4, 4), np.float32), "fresh": None}[layout]
    for ticks, (palette, skinned) in zip(TICKS, cxx_player(path)):
        got = player.evaluate(ticks, out=out)
        if out is not None:
            assert got is out
        # [bone, row, column] here; the C++ matrices are column-major.
        assert np.array_equal(got.transpose(0, 2, 1).reshape(-1, 16), palette), ticks
        pieces = [part for mesh in model.meshes for part in player.skin(mesh, got)]
        assert len(pieces) == len(skinned)
        for mine, theirs in zip(pieces, skinned):
            assert np.array_equal(mine, theirs), ticks


def test_player_refuses_wrong_arrays(compiled):
    player = varndel.AnimationPlayer(varndel.read(compiled["examples/walker.gltf"]).animation)
    mesh = varndel.read(compiled["examples/walker.gltf"]).meshes[0]
    with pytest.raises(ValueError):
        player.evaluate(1.0, out=np.zeros((2, 4, 4), np.float32))
    with pytest.raises(TypeError):
        player.evaluate(1.0, out=np.zeros((3, 4, 4)))
    read_only = player.evaluate(1.0)
    read_only.setflags(write=False)
    with pytest.raises(ValueError):
        player.evaluate(1.0, out=read_only)
    with pytest.raises(ValueError):
        player.skin(mesh, np.zeros((4, 4, 4), np.float32))


def test_threads_read_and_play_at_once(compiled):
    path = compiled["fixtures/character.gltf"]
    model = varndel.read(path)
    player = varndel.AnimationPlayer(model.animation)
    expected = [player.skin(model.meshes[0], player.evaluate(t))[0] for t in TICKS]
    results, errors = {}, []

    def play(n):
        try:
            mine = varndel.read(path)
            p = varndel.AnimationPlayer(mine.animation)
            palette = p.evaluate(0.0)
            results[n] = [p.skin(mine.meshes[0], p.evaluate(t, out=palette))[0] for t in TICKS * 20][:len(TICKS)]
        except Exception as error:  # reported below
            errors.append(error)

    threads = [threading.Thread(target=play, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    for n in range(4):
        assert all(np.array_equal(a, b) for a, b in zip(results[n], expected))
