"""Compile, read, check, optimise and play Varndel compiled models (.staticbin, .animbin).

Names and paths stored in files (texture paths, node and bone names, and the texts of errors and warnings
that quote them) are bytes. They arrive as str decoded as UTF-8 with surrogateescape, as os.fsdecode does: a byte
that is not valid UTF-8 becomes a lone surrogate (0xE9 -> "\\udce9"), and os.fsencode gives the stored bytes back.
Functions that take a name (resolve_texture's stored_path, compile's output_name) accept such a str, or bytes."""

import os
from typing import Literal, Optional, Sequence, Union, overload

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_Buffer = Union[bytes, bytearray, memoryview]

class FormatError(ValueError):
    """A compiled file the reader refuses: .offset (bytes), .field and .message say where and why (.field is empty
    when the file could not be read at all)."""

    offset: int
    """Byte offset of the offending field."""
    field: str
    """The field, for example "meshes[2].indices"; empty when the file could not be read at all."""
    message: str
    """The reader's sentence."""

class CompileError(RuntimeError):
    """A compile that failed: .exit_code as Varndel's (-1 or -666; None when the run did not finish) and .log, the
    lines of Logs/Log.txt."""

    exit_code: Optional[int]
    """Varndel's exit code: -1 (a stage failed) or -666 (the read-back differed); None when the run did not finish
    (it crashed, ran past timeout or was ended by a signal)."""
    log: list[str]
    """The lines of Logs/Log.txt of the run."""

class Model:
    """A compiled model: its meshes and, when animated, its animation. Arrays of its meshes view its records and keep
    them alive."""

    @property
    def animated(self) -> bool:
        """True for an animated model (.animbin), False for a static one (.staticbin)."""
    @property
    def flip_uvs(self) -> bool:
        """True when the model was compiled with its texture coordinates' v flipped (flip_uvs=True)."""
    @property
    def texture_count(self) -> int:
        """Distinct texture paths of the whole model."""
    @property
    def meshes(self) -> list[Mesh]:
        """The model's meshes, in file order."""
    @property
    def animation(self) -> Animation:
        """The model's Animation; empty unless the model is animated."""
    @property
    def path(self) -> Optional[str]:
        """The file the model was read from (read) or that compile wrote, as given or as the compiler named it: str by
        surrogateescape. None for a model from read_bytes or optimize. Editing or writing the model leaves it as it
        was."""

class Mesh:
    """One mesh. Every array is a writable view into the model's records: no copy."""

    @property
    def positions(self) -> npt.NDArray[np.float32]:
        """Vertex positions, (n, 3) float32."""
    @property
    def normals(self) -> npt.NDArray[np.float32]:
        """Vertex normals, (n, 3) float32."""
    @property
    def uvs(self) -> npt.NDArray[np.float32]:
        """Texture coordinates, (n, 2) float32."""
    @property
    def tangents(self) -> npt.NDArray[np.float32]:
        """Vertex tangents, (n, 3) float32."""
    @property
    def bitangents(self) -> npt.NDArray[np.float32]:
        """Vertex bitangents, (n, 3) float32."""
    @property
    def bone_ids(self) -> npt.NDArray[np.int32]:
        """Bone ids of each vertex's four influences, (n, 4) int32; negative: a free slot."""
    @property
    def weights(self) -> npt.NDArray[np.float32]:
        """Weights of each vertex's four influences, (n, 4) float32."""
    @property
    def vertices(self) -> npt.NDArray[np.void]:
        """(n,) structured array over the 88-byte records: position, normal, uv, tangent, bitangent, bone_ids, weights."""
    @property
    def indices(self) -> npt.NDArray[np.uint32]:
        """Triangle-list indices into the mesh's vertices, (m,) uint32."""
    @property
    def textures(self) -> list[tuple[str, int]]:
        """(path as stored, aiTextureType: 1 diffuse, 2 specular, 3 ambient, 5 height, 6 normals). The path is str
        by surrogateescape: os.fsencode(path) is the stored bytes."""

class MappedModel:
    """A compiled file mapped read-only (read(path, mmap=True)), checked as read() checks it."""

    @property
    def animated(self) -> bool:
        """True for an animated model (.animbin), False for a static one (.staticbin)."""
    @property
    def flip_uvs(self) -> bool:
        """True when the model was compiled with its texture coordinates' v flipped (flip_uvs=True)."""
    @property
    def texture_count(self) -> int:
        """Distinct texture paths of the whole model."""
    @property
    def path(self) -> str:
        """The file mapped, as given to read: str by surrogateescape."""
    @property
    def meshes(self) -> list[MappedMesh]:
        """The model's meshes, in file order."""
    @property
    def animation(self) -> Animation:
        """Decoded from the mapping; empty unless the model is animated."""
    def to_model(self) -> Model:
        """The whole file as a Model of its own (a copy), whose path is the mapped file. Raises FormatError when the
        mapping's content cannot be decoded."""

class MappedMesh:
    """One mesh of a MappedModel. Every array is a read-only view of the mapping: no copy."""

    @property
    def positions(self) -> npt.NDArray[np.float32]:
        """Vertex positions, (n, 3) float32."""
    @property
    def normals(self) -> npt.NDArray[np.float32]:
        """Vertex normals, (n, 3) float32."""
    @property
    def uvs(self) -> npt.NDArray[np.float32]:
        """Texture coordinates, (n, 2) float32."""
    @property
    def tangents(self) -> npt.NDArray[np.float32]:
        """Vertex tangents, (n, 3) float32."""
    @property
    def bitangents(self) -> npt.NDArray[np.float32]:
        """Vertex bitangents, (n, 3) float32."""
    @property
    def bone_ids(self) -> npt.NDArray[np.int32]:
        """Bone ids of each vertex's four influences, (n, 4) int32; negative: a free slot."""
    @property
    def weights(self) -> npt.NDArray[np.float32]:
        """Weights of each vertex's four influences, (n, 4) float32."""
    @property
    def vertices(self) -> npt.NDArray[np.void]:
        """(n,) structured array over the 88-byte records."""
    @property
    def indices(self) -> npt.NDArray[np.uint32]:
        """Triangle-list indices into the mesh's vertices, (m,) uint32."""
    @property
    def textures(self) -> list[tuple[str, int]]:
        """(path as stored, aiTextureType), as Mesh.textures."""

class Animation:
    """A model's animation: node hierarchy, key-frame tracks and bone-info map; empty for a static model."""

    @property
    def duration(self) -> float:
        """Length of the animation, in ticks."""
    @property
    def ticks_per_second(self) -> float:
        """Ticks per second as played: 25 when the file says 0."""
    @property
    def nodes(self) -> list[str]:
        """Node names, depth-first pre-order; str by surrogateescape (os.fsencode gives the stored bytes)."""
    @property
    def bones(self) -> list[str]:
        """Bone-info names, in the order of the palette's matrices; str by surrogateescape."""
    # The content: arrays are writable views into the model's records (no
    # copy); varndel.write/write_bytes of the model carry edits made through them.
    @property
    def node_names(self) -> list[str]:
        """Node names, depth-first pre-order (bytes that are not UTF-8 as lone surrogates)."""
    @property
    def node_parents(self) -> npt.NDArray[np.int32]:
        """(nodes,): each node's parent index, -1 for the root."""
    @property
    def node_transforms(self) -> npt.NDArray[np.float32]:
        """(nodes, 4, 4) [node, row, column]: each node's transformation relative to its parent."""
    @property
    def tracks(self) -> list[Track]:
        """The key-frame tracks, in file order."""
    @property
    def bone_names(self) -> list[str]:
        """Bone-info names, in file order."""
    @property
    def bone_ids(self) -> npt.NDArray[np.int32]:
        """(bones,): the numbers that vertices' bone_ids refer to."""
    @property
    def bone_offsets(self) -> npt.NDArray[np.float32]:
        """(bones, 4, 4) [bone, row, column]: mesh space to bone space."""

class Track:
    """One key-frame track. Key arrays are structured views (fields "value" and "time", in ticks)."""

    @property
    def name(self) -> str:
        """The node it animates."""
    @property
    def id(self) -> int:
        """The track's id, as the file stores it."""
    @property
    def position_keys(self) -> npt.NDArray[np.void]:
        """value (3,) float32, time float32."""
    @property
    def rotation_keys(self) -> npt.NDArray[np.void]:
        """value (4,) float32 x, y, z, w; time float32."""
    @property
    def scale_keys(self) -> npt.NDArray[np.void]:
        """value (3,) float32, time float32."""
    position_max_time: float
    """Time, in ticks, of the track's last position key as stored; writable."""
    rotation_max_time: float
    """Time, in ticks, of the track's last rotation key as stored; writable."""
    scale_max_time: float
    """Time, in ticks, of the track's last scale key as stored; writable."""

class Finding:
    """One finding of validate()."""

    severity: str
    """"error" or "warning"."""
    element: str
    """Where, for example "mesh 2 index 17"."""
    path: str
    """The same as element."""
    message: str
    """What is wrong, in varndel-inspect check's words."""

class AnimationPlayer:
    """One playing instance of an animation; not to be shared between threads."""

    def __init__(self, animation: Animation) -> None:
        """Prepares a player for animation (its hierarchy and bone-info map are copied: the model may go)."""
    @property
    def bone_count(self) -> int:
        """Matrices in the palette evaluate gives: one per bone-info entry, in file order."""
    @property
    def node_count(self) -> int:
        """Nodes of the animation's hierarchy."""
    def evaluate(self, ticks: float, out: Optional[npt.NDArray[np.float32]] = None) -> npt.NDArray[np.float32]:
        """The skinning matrices at ticks, (bones, 4, 4) indexed [bone, row, column]; written into out when given
        (fastest with an array evaluate returned)."""
    def skin(
        self, mesh: Mesh, palette: npt.ArrayLike
    ) -> tuple[npt.NDArray[np.float32], npt.NDArray[np.float32]]:
        """The mesh's positions and normals, (n, 3) each, skinned with the palette of evaluate."""

def compile(
    path: _Path,
    *,
    animated: bool = False,
    flip_uvs: bool = False,
    output_name: Union[str, bytes, None] = None,
    timeout: Optional[float] = None,
    memory_limit: Optional[int] = None,
    animation: Union[int, str, None] = None,
) -> Model:
    """Runs the compiler as `Varndel <animated> <flip_uvs> <path> [output_name]` does, and reads the file it wrote:
    the same files, console text, log and exit code. The run happens in a child process, so a crash, a hang or a
    runaway import raises CompileError instead of ending the interpreter. timeout: seconds before the run is ended.
    memory_limit: bytes of address space the run may take beyond what the interpreter already has (RLIMIT_AS in the
    child); past it an allocation fails and the run fails (-1). Ctrl-C ends the run and raises KeyboardInterrupt. Runs
    from several threads take turns (they share Logs/Log.txt). Raises CompileError when the run fails.

    animation (an index, an exact name or a pattern with * and ?, selecting exactly one take; needs animated=True):
    compiles that take as if it were the file's first animation, into <output stem>.<take>.animbin (the file name
    varndel-edge gives it); raises ValueError when the selection picks no take or several. Returns the Model read back
    from the file written; its path is that file."""

def animations(path: _Path) -> list[dict]:
    """The animations (takes) of a source file: dicts with index, name, duration_ticks, duration_seconds (None
    without a tick rate), ticks_per_second and channels. Raises OSError when the file cannot be imported."""

@overload
def read(path: _Path, *, mmap: Literal[False] = ...) -> Model: ...
@overload
def read(path: _Path, *, mmap: Literal[True]) -> MappedModel: ...
def read(path: _Path, *, mmap: bool = False) -> Union[Model, MappedModel]:
    """Reads a compiled file. Raises FormatError. With mmap=True the file is mapped, not read: the result's arrays are
    read-only views of the mapping, which lives while any of them does. Do not let another process truncate a mapped
    file (the process would crash); read files that may change without mmap. Returns a Model (a MappedModel with
    mmap=True) whose path is path, as str. A file that cannot be opened raises the OSError of the cause
    (FileNotFoundError, PermissionError, IsADirectoryError) with filename set, which is a FormatError too."""

def read_bytes(data: _Buffer) -> Model:
    """Decodes a compiled file's bytes. Raises FormatError."""

def write(model: Model, path: _Path) -> None:
    """Writes the model's file bytes to path, through a checked temporary file. Raises OSError."""

def write_bytes(model: Model) -> bytes:
    """The model's file bytes, as write would store them."""

def validate(model: Model) -> list[Finding]:
    """Every finding, errors first, as `varndel-inspect check` judges the model; an empty list for a sound model."""

def optimize(
    model: Model,
    *,
    lods: Sequence[float] = (),
    overdraw: bool = True,
    anim_tolerance: Optional[float] = None,
    anim_distance: Optional[float] = None,
    keys_only: bool = False,
) -> list[Model]:
    """Orders every mesh for the GPU in place, as varndel-opt does, and returns one model per LOD ratio.
    With anim_tolerance T (model units) also drops the animation keys whose removal moves no node's origin,
    point at distance anim_distance along a node's axes (default: a tenth of the model's bounding-box diagonal)
    or skinned vertex by more than T, as varndel-opt --anim-tolerance does. keys_only=True (with anim_tolerance,
    without lods) leaves the meshes byte for byte and reduces the keys alone, as varndel-opt --keys-only.
    Raises ValueError for a ratio outside (0, 1], a tolerance or distance that is not a finite number >= 0, or a
    combination that means nothing. Warnings go to the warnings module. Arrays taken before keep the values from
    before."""

def animation_error(original: Model, reduced: Model, *, distance: Optional[float] = None) -> float:
    """The largest distance, in model units, between the poses of two models whose animations differ only in their
    keys (a file and its keys_only reduction): every node's origin and the points at distance along its axes
    (default: a tenth of original's bounding-box diagonal), and every skinned vertex, at every key time and midway
    between. inf when the models cannot be compared. Raises ValueError for a distance that is not a finite number
    >= 0."""

def resolve_texture(stored_path: Union[str, bytes], compiled_file: _Path) -> Optional[str]:
    """The file to open for a texture path that the compiled file stores, as the tools find it: "*N" in
    <stem>.textures/, any other path as stored (relative to the working directory, then to the compiled file's
    directory), then its extracted copy in <stem>.textures/. A LOD or optimised file (<stem>.lodN.<ext>,
    <stem>.opt.<ext>) also looks in the textures directory of the model it was made from. None when no such
    file exists. stored_path as Mesh.textures gives it (or its bytes); the result is str by surrogateescape, ready
    for open()."""
