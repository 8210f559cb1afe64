"""read(path, mmap=True): read-only views over the file's mapping, with the values and errors of read(path)."""
import gc

import numpy as np
import pytest
import varndel

MODELS = ["examples/crate.obj", "examples/walker.gltf", "fixtures/character.gltf"]
FIELDS = ("positions", "normals", "uvs", "tangents", "bitangents", "bone_ids", "weights", "vertices", "indices")


@pytest.mark.parametrize("model", MODELS)
def test_mapped_views_share_the_mapping_and_match_read(compiled, model):
    read = varndel.read(compiled[model])
    mapped = varndel.read(compiled[model], mmap=True)
    assert isinstance(mapped, varndel.MappedModel) and isinstance(read, varndel.Model)
    assert (mapped.animated, mapped.flip_uvs, mapped.texture_count) == (read.animated, read.flip_uvs, read.texture_count)
    assert mapped.animation.nodes == read.animation.nodes and mapped.animation.bones == read.animation.bones
    assert varndel.write_bytes(mapped.to_model()) == compiled[model].read_bytes()
    assert len(mapped.meshes) == len(read.meshes)
    for view, values in zip(mapped.meshes, read.meshes):
        assert view.textures == values.textures
        for name in FIELDS:
            array = getattr(view, name)
            assert not array.flags.writeable, name
            assert array.dtype == getattr(values, name).dtype
            assert np.array_equal(array, getattr(values, name)) or name == "vertices", name
            if name not in ("vertices", "indices"):
                assert np.shares_memory(array, view.vertices), name
            with pytest.raises(ValueError):
                array[...] = 0
        assert view.vertices.tobytes() == values.vertices.tobytes()


def test_the_mapping_lives_while_a_view_does(compiled):
    mapped = varndel.read(compiled["examples/walker.gltf"], mmap=True)
    positions = mapped.meshes[0].positions
    expected = positions.copy()
    del mapped
    gc.collect()
    [varndel.read(compiled["examples/crate.obj"], mmap=True) for _ in range(3)]
    assert np.array_equal(positions, expected)


def test_mapped_read_refuses_what_read_refuses(compiled, tmp_path):
    data = compiled["examples/walker.gltf"].read_bytes()
    for cut in (0, 5, len(data) // 2, len(data) - 1):
        damaged = tmp_path / "damaged.bin"
        damaged.write_bytes(data[:cut])
        with pytest.raises(varndel.FormatError) as plain:
            varndel.read(damaged)
        with pytest.raises(varndel.FormatError) as mapped:
            varndel.read(damaged, mmap=True)
        assert str(mapped.value) == str(plain.value)
    with pytest.raises(varndel.FormatError, match="is a directory"):
        varndel.read(tmp_path, mmap=True)
