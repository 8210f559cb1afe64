// The Python module `varndel`: the compiler's stages, the reader, writer,
// validation, optimisation and player, with numpy views into the records.
// Everything about the format is the C++ libraries'; this file only moves
// values between them and Python.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <varndel/mapped.h>
#include <varndel/optimize.h>
#include <varndel/player.h>
#include <varndel/reader.h>
#include <varndel/sample.h>
#include <varndel/textures.h>
#include <varndel/validate.h>
#include <varndel/writer.h>

#include "edge/takes.h"
#include "log/log.h"
#include "model/model.h"
#include "opt/files.h"
#include "python/child_process.h"
#include "reader/text.h"

namespace py = pybind11;

namespace {

// A model's values, shared by the Python Model and every array viewing it:
// an array's base holds one of these, so it outlives `del model`.
using ModelData = std::shared_ptr<varndel::Model>;

struct PyModel {
  ModelData data;
};

struct PyMesh {
  py::object model;  // the PyModel, so that optimize's new values show here
  size_t index = 0;
};

struct PyAnimation {
  ModelData data;
};

struct PyFinding {
  std::string severity;  // "error" or "warning"
  std::string element;
  std::string message;
};

// The exception types, created once; the module holds them too, and these
// references are never released (no destructor runs after the interpreter).
py::handle formatErrorType;
py::handle compileErrorType;

// Names and paths are bytes in the files. One rule turns them into str and
// back: UTF-8, with each byte that is not part of valid UTF-8 carried as a
// lone surrogate (surrogateescape), as os.fsdecode does; os.fsencode, and
// every function here that takes a name, gives the stored bytes back.
py::str Text(std::string_view bytes) {
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

py::list TextList(const std::vector<std::string>& lines) {
  py::list list;
  for (const std::string& line : lines) list.append(Text(line));
  return list;
}

// The stored bytes of a name given as str (by the rule above) or bytes.
std::string NameBytes(const py::handle& name, const char* what) {
  std::string bytes;
  if (PyBytes_Check(name.ptr())) {
    bytes = name.cast<std::string>();
  } else if (PyUnicode_Check(name.ptr())) {
    const auto encoded =
        py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(name.ptr(), "utf-8", "surrogateescape"));
    if (!encoded) throw py::error_already_set();
    bytes = encoded.cast<std::string>();
  } else {
    throw py::type_error(std::string(what) + " must be str or bytes");
  }
  if (bytes.find('\0') != std::string::npos) throw py::value_error(std::string("embedded null byte in ") + what);
  return bytes;
}

[[noreturn]] void RaiseOSError(const std::string& text) {
  PyErr_SetObject(PyExc_OSError, Text(text).ptr());
  throw py::error_already_set();
}

[[noreturn]] void RaiseFormatError(const varndel::ReadError& error) {
  py::object exception = formatErrorType(Text(varndel::FormatReadError(error)));
  exception.attr("offset") = error.offset;
  exception.attr("field") = Text(error.field);
  exception.attr("message") = Text(error.message);
  PyErr_SetObject(formatErrorType.ptr(), exception.ptr());
  throw py::error_already_set();
}

// A str, bytes or os.PathLike path in the file system's encoding, as open() takes it.
std::string PathText(const py::object& path) {
  const py::object name = py::module_::import("os").attr("fsencode")(path);
  std::string text = name.cast<std::string>();
  if (text.find('\0') != std::string::npos) throw py::value_error("embedded null byte in path");
  return text;
}

py::object WrapModel(varndel::Model&& model) {
  return py::cast(PyModel{std::make_shared<varndel::Model>(std::move(model))});
}

py::object ReadFile(const py::object& path) {
  const std::string text = PathText(path);
  varndel::Model model;
  varndel::ReadError error;
  bool read = false;
  {
    py::gil_scoped_release release;
    read = varndel::ReadModelFile(text, model, &error);
  }
  if (!read) RaiseFormatError(error);
  return WrapModel(std::move(model));
}

py::object ReadBytes(const py::buffer& data) {
  const py::buffer_info buffer = data.request();  // holds the export until we return
  if (PyBuffer_IsContiguous(buffer.view(), 'C') == 0) {
    PyErr_SetString(PyExc_BufferError, "read_bytes needs contiguous bytes");
    throw py::error_already_set();
  }
  const size_t size = static_cast<size_t>(buffer.size * buffer.itemsize);
  varndel::Model model;
  varndel::ReadError error;
  bool read = false;
  {
    py::gil_scoped_release release;
    read = varndel::ReadModel(buffer.ptr, size, model, &error);
  }
  if (!read) RaiseFormatError(error);
  return WrapModel(std::move(model));
}

std::string ModelBytes(const ModelData& data) {
  py::gil_scoped_release release;
  return varndel::WriteModel(*data);
}

// The compiler keeps its run in process-wide state (modelContainer, the log
// file, the working directory's Logs/), so runs take turns.
std::mutex compileMutex;

std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  std::ifstream file("Logs/Log.txt", std::ios::in | std::ios::binary);
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The text of a log line without its colour escapes.
std::string Plain(const std::string& line) {
  std::string plain;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\033') {
      while (i < line.size() && line[i] != 'm') ++i;
      continue;
    }
    plain += line[i];
  }
  return plain;
}

[[noreturn]] void RaiseCompileError(const std::string& text, const py::object& exitCode,
                                    const std::vector<std::string>& log) {
  py::object exception = compileErrorType(Text(text));
  exception.attr("exit_code") = exitCode;
  exception.attr("log") = TextList(log);
  PyErr_SetObject(compileErrorType.ptr(), exception.ptr());
  throw py::error_already_set();
}

// The run goes to a child process: a crash, an endless import or one that
// eats all memory ends the child, never the interpreter. The child's console
// and files are the run's own, as the CLI's.
std::string TakeSelector(const py::object& animation);
std::string CompileTakeInChild(std::vector<std::string>& arguments, const std::string& selector);

py::object Compile(const py::object& input, bool animated, bool flipUVs,
                   const py::object& outputName, const std::optional<double>& timeout,
                   const std::optional<uint64_t>& memoryLimit, const py::object& animation) {
  if (!animation.is_none() && !animated) throw py::value_error("animation= needs animated=True");
  const std::optional<std::string> selector =
      animation.is_none() ? std::nullopt : std::optional<std::string>(TakeSelector(animation));
  std::vector<std::string> arguments = {"Varndel", animated ? "1" : "0", flipUVs ? "1" : "0", PathText(input)};
  if (!outputName.is_none()) arguments.push_back(NameBytes(outputName, "output_name"));
  if (timeout && !(*timeout > 0)) throw py::value_error("timeout must be a number of seconds above 0");
  if (memoryLimit && *memoryLimit == 0) throw py::value_error("memory_limit must be a number of bytes above 0");
  ChildLimits limits;
  limits.timeoutSeconds = timeout.value_or(0);
  limits.memoryBytes = memoryLimit.value_or(0);

  // The compiler prints through C stdio; Python buffers its own streams.
  for (const char* stream : {"stdout", "stderr"}) {
    const py::object out = py::module_::import("sys").attr(stream);
    if (!out.is_none()) out.attr("flush")();
  }
  const auto work = [&arguments, &selector] {
    if (selector) return CompileTakeInChild(arguments, *selector);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    std::string outputPath;
    const int code = RunCompilerProcess(static_cast<int>(argv.size()), argv.data(), &outputPath);
    return std::to_string(code) + '\n' + outputPath;
  };
  const auto checkInterrupt = [] {
    py::gil_scoped_acquire acquire;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  };
  ChildOutcome outcome;
  std::string startError;  // no child could be started
  std::vector<std::string> log;
  {
    py::gil_scoped_release release;
    // Runs share the working directory's Logs/Log.txt, so they take turns.
    std::lock_guard<std::mutex> lock(compileMutex);
    try {
      outcome = RunInChildProcess(work, limits, checkInterrupt);
    } catch (const std::system_error& e) {
      startError = e.what();
    }
    const bool failed = outcome.end != ChildOutcome::End::kFinished || outcome.result.rfind("0\n", 0) != 0;
    if (startError.empty() && failed) log = LogLines();
  }
  if (!startError.empty()) RaiseOSError("cannot start the compile: " + startError);
  const std::string model = arguments[3];
  switch (outcome.end) {
    case ChildOutcome::End::kTimedOut:
      RaiseCompileError("the compile of " + model + " did not finish within " +
                            py::str(py::float_(*timeout)).cast<std::string>() + " s (timeout)",
                        py::none(), log);
    case ChildOutcome::End::kSignalled: {
      const char* name = strsignal(outcome.signal);
      RaiseCompileError("the compile of " + model + " crashed: signal " + std::to_string(outcome.signal) + " (" +
                            (name != nullptr ? name : "unknown") + ")",
                        py::none(), log);
    }
    case ChildOutcome::End::kNoResult:
      RaiseCompileError("the compile of " + model + " ended without a result (exit status " +
                            std::to_string(outcome.exitStatus) + ")",
                        py::none(), log);
    case ChildOutcome::End::kFinished:
      break;
  }
  const size_t newline = outcome.result.find('\n');
  if (outcome.result.compare(0, newline, "selection") == 0) throw py::value_error(outcome.result.substr(newline + 1));
  const int code = std::stoi(outcome.result.substr(0, newline));
  if (code != 0) {
    std::string text = "Varndel exited with " + std::to_string(code);
    if (!log.empty()) text += ": " + Plain(log.back());
    RaiseCompileError(text, py::int_(code), log);
  }
  return ReadFile(py::bytes(outcome.result.substr(newline + 1)));
}

const varndel::MeshData& MeshOf(const PyMesh& mesh, ModelData* data = nullptr) {
  const ModelData& model = mesh.model.cast<PyModel&>().data;
  if (mesh.index >= model->meshes.size()) throw py::index_error("the mesh is no longer in its model");
  if (data != nullptr) *data = model;
  return model->meshes[mesh.index];
}

// The array's base: a capsule owning one reference to the model's values.
py::capsule Owner(const ModelData& data) {
  return py::capsule(new ModelData(data), [](void* owner) { delete static_cast<ModelData*>(owner); });
}

py::object VertexDtype() {
  static py::object* dtype = [] {
    py::list names, formats, offsets;
    const auto field = [&](const char* name, const char* format, size_t offset) {
      names.append(name);
      formats.append(format);
      offsets.append(offset);
    };
    field("position", "3<f4", offsetof(varndel::Vertex, position));
    field("normal", "3<f4", offsetof(varndel::Vertex, normal));
    field("uv", "2<f4", offsetof(varndel::Vertex, texCoords));
    field("tangent", "3<f4", offsetof(varndel::Vertex, tangent));
    field("bitangent", "3<f4", offsetof(varndel::Vertex, bitangent));
    field("bone_ids", "4<i4", offsetof(varndel::Vertex, boneIDs));
    field("weights", "4<f4", offsetof(varndel::Vertex, weights));
    py::dict layout;
    layout["names"] = names;
    layout["formats"] = formats;
    layout["offsets"] = offsets;
    layout["itemsize"] = sizeof(varndel::Vertex);
    return new py::object(py::module_::import("numpy").attr("dtype")(layout));  // lives as long as the process
  }();
  return *dtype;
}

// An (n, width) view of one field of the vertex records.
template <typename T>
py::array VertexField(const PyMesh& mesh, size_t offset, size_t width) {
  ModelData data;
  const varndel::MeshData& m = MeshOf(mesh, &data);
  const auto* base = reinterpret_cast<const char*>(m.vertices.data());
  return py::array(py::dtype::of<T>(), {m.vertices.size(), width}, {sizeof(varndel::Vertex), sizeof(T)},
                   m.vertices.empty() ? nullptr : base + offset, Owner(data));
}

py::array Vertices(const PyMesh& mesh) {
  ModelData data;
  const varndel::MeshData& m = MeshOf(mesh, &data);
  return py::array(py::dtype::from_args(VertexDtype()), {m.vertices.size()}, {sizeof(varndel::Vertex)},
                   m.vertices.empty() ? nullptr : m.vertices.data(), Owner(data));
}

py::array Indices(const PyMesh& mesh) {
  ModelData data;
  const varndel::MeshData& m = MeshOf(mesh, &data);
  return py::array(py::dtype::of<uint32_t>(), {m.indices.size()}, {sizeof(uint32_t)},
                   m.indices.empty() ? nullptr : m.indices.data(), Owner(data));
}

// read(path, mmap=True): a view over the file's mapping instead of a copy.
// Its arrays are read-only and share the mapping, which lives while the view
// or any of its arrays does (each array's base holds a reference).
using MappedData = std::shared_ptr<const varndel::MappedModel>;

struct PyMappedModel {
  MappedData view;
};

struct PyMappedMesh {
  MappedData view;
  size_t index = 0;
};

py::object ReadMapped(const std::string& path) {
  auto view = std::make_shared<varndel::MappedModel>();
  varndel::ReadError error;
  bool opened = false;
  {
    py::gil_scoped_release release;
    opened = view->Open(path, &error);
  }
  if (!opened) RaiseFormatError(error);
  return py::cast(PyMappedModel{std::move(view)});
}

py::array ReadOnlyOverMapping(py::array array) {
  array.attr("setflags")(py::arg("write") = false);
  return array;
}

py::capsule MappingOwner(const MappedData& view) {
  return py::capsule(new MappedData(view), [](void* owner) { delete static_cast<MappedData*>(owner); });
}

template <typename T>
py::array MappedVertexField(const PyMappedMesh& self, size_t offset, size_t width) {
  const varndel::MappedMesh& mesh = self.view->meshes()[self.index];
  const auto* base = static_cast<const char*>(mesh.vertexData());
  return ReadOnlyOverMapping(py::array(py::dtype::of<T>(), {mesh.vertexCount(), width},
                                       {sizeof(varndel::Vertex), sizeof(T)},
                                       mesh.vertexCount() == 0 ? nullptr : base + offset, MappingOwner(self.view)));
}

py::array MappedVertices(const PyMappedMesh& self) {
  const varndel::MappedMesh& mesh = self.view->meshes()[self.index];
  return ReadOnlyOverMapping(py::array(py::dtype::from_args(VertexDtype()), {mesh.vertexCount()},
                                       {sizeof(varndel::Vertex)}, mesh.vertexCount() == 0 ? nullptr : mesh.vertexData(),
                                       MappingOwner(self.view)));
}

py::array MappedIndices(const PyMappedMesh& self) {
  const varndel::MappedMesh& mesh = self.view->meshes()[self.index];
  return ReadOnlyOverMapping(py::array(py::dtype::of<uint32_t>(), {mesh.indexCount()}, {sizeof(uint32_t)},
                                       mesh.indexCount() == 0 ? nullptr : mesh.indexData(), MappingOwner(self.view)));
}

void Warn(const std::string& text) {
  // warnings.warn, not PyErr_WarnEx, whose C string must be valid UTF-8.
  py::module_::import("warnings").attr("warn")(Text(text), py::handle(PyExc_UserWarning), 1);
}

// A finite number >= 0 from an optional argument; negative for None.
float NonNegative(const std::optional<double>& value, const char* name) {
  if (!value) return -1.0f;
  if (!(*value >= 0.0) || !std::isfinite(float(*value))) {
    throw py::value_error(std::string(name) + " must be a finite number >= 0, not " + py::repr(py::float_(*value)).cast<std::string>());
  }
  return float(*value);
}

py::list Optimize(PyModel& model, const std::vector<float>& lods, bool overdraw, const std::optional<double>& animTolerance,
                  const std::optional<double>& animDistance, bool keysOnly) {
  for (const float ratio : lods) {
    if (!(ratio > 0.0f && ratio <= 1.0f)) throw py::value_error("a LOD ratio must be in (0, 1], not " + std::to_string(ratio));
  }
  const float tolerance = NonNegative(animTolerance, "anim_tolerance");
  const float distance = NonNegative(animDistance, "anim_distance");
  if (animDistance && !animTolerance) throw py::value_error("anim_distance needs anim_tolerance");
  if (keysOnly && !animTolerance) throw py::value_error("keys_only needs anim_tolerance");
  if (keysOnly && !lods.empty()) throw py::value_error("keys_only leaves the meshes alone: it takes no lods");
  // Arrays taken before keep the values they view; the model gets new ones.
  const ModelData before = model.data;
  auto after = std::make_shared<varndel::Model>();
  std::vector<std::string> warnings;
  std::vector<varndel::LodLevel> levels;
  {
    py::gil_scoped_release release;
    *after = *before;
    varndel::OptimizeOptions options;
    options.overdraw = overdraw;
    options.animationTolerance = tolerance;
    options.animationDistance = distance;
    options.keysOnly = keysOnly;
    warnings = varndel::OptimizeModel(*after, options);
    const LodRequest request{lods, overdraw};
    for (size_t n = 0; n < lods.size(); ++n) levels.push_back(BuildLodLevel(*after, request, n, warnings));
  }
  model.data = after;
  py::list result;
  for (varndel::LodLevel& level : levels) result.append(WrapModel(std::move(level.model)));
  for (const std::string& warning : warnings) Warn(warning);
  return result;
}

py::array NewPalette(size_t bones) {
  // Matrices are stored column-major, as the file and the player keep them;
  // the returned view indexes [bone, row, column].
  py::array_t<float> storage({bones, size_t{16}});
  return storage.attr("reshape")(bones, 4, 4).attr("transpose")(0, 2, 1);
}

bool IsPaletteLayout(const py::array& a, size_t bones) {
  return py::isinstance<py::array_t<float>>(a) && a.ndim() == 3 && size_t(a.shape(0)) == bones && a.shape(1) == 4 &&
         a.shape(2) == 4 && a.strides(0) == 64 && a.strides(1) == 4 && a.strides(2) == 16 && a.writeable() &&
         (reinterpret_cast<uintptr_t>(a.data()) % alignof(float)) == 0;
}

void CheckPaletteShape(const py::array& a, size_t bones, const char* what) {
  if (a.ndim() != 3 || size_t(a.shape(0)) != bones || a.shape(1) != 4 || a.shape(2) != 4) {
    throw py::value_error(std::string(what) + " must have the shape (" + std::to_string(bones) + ", 4, 4)");
  }
}

struct PyPlayer {
  varndel::AnimationPlayer player;
  std::vector<varndel::Mat4> scratch;  // for an out= array of another layout
};

py::object Evaluate(PyPlayer& p, float ticks, const py::object& out) {
  const size_t bones = p.player.BoneCount();
  if (out.is_none()) {
    py::array palette = NewPalette(bones);
    p.player.Evaluate(ticks, reinterpret_cast<varndel::Mat4*>(palette.mutable_data()));
    return palette;
  }
  if (!py::isinstance<py::array>(out)) throw py::type_error("out must be a numpy array");
  auto given = py::reinterpret_borrow<py::array>(out);
  if (IsPaletteLayout(given, bones)) {
    p.player.Evaluate(ticks, reinterpret_cast<varndel::Mat4*>(given.mutable_data()));
    return given;
  }
  CheckPaletteShape(given, bones, "out");
  if (!py::isinstance<py::array_t<float>>(given)) throw py::type_error("out must be a float32 array");
  if (!given.writeable()) throw py::value_error("out is read-only");
  p.scratch.resize(bones);
  p.player.Evaluate(ticks, p.scratch.data());
  auto view = given.mutable_unchecked<float, 3>();
  for (py::ssize_t b = 0; b < py::ssize_t(bones); ++b) {
    for (py::ssize_t r = 0; r < 4; ++r) {
      for (py::ssize_t c = 0; c < 4; ++c) view(b, r, c) = p.scratch[b][4 * c + r];
    }
  }
  return given;
}

py::tuple Skin(const PyPlayer& p, const PyMesh& mesh, const py::array& palette) {
  const size_t bones = p.player.BoneCount();
  CheckPaletteShape(palette, bones, "palette");
  const auto values = py::array_t<float, py::array::forcecast>::ensure(palette);
  if (!values) throw py::type_error("palette must be an array of numbers");
  const auto read = values.unchecked<3>();
  std::vector<varndel::Mat4> matrices(bones);
  for (py::ssize_t b = 0; b < py::ssize_t(bones); ++b) {
    for (py::ssize_t r = 0; r < 4; ++r) {
      for (py::ssize_t c = 0; c < 4; ++c) matrices[b][4 * c + r] = read(b, r, c);
    }
  }
  ModelData data;
  const varndel::MeshData& m = MeshOf(mesh, &data);
  const size_t n = m.vertices.size();
  py::array_t<float> positions({n, size_t{3}}), normals({n, size_t{3}});
  auto* positionOut = reinterpret_cast<varndel::Vec3*>(positions.mutable_data());
  auto* normalOut = reinterpret_cast<varndel::Vec3*>(normals.mutable_data());
  {
    py::gil_scoped_release release;
    p.player.SkinVertices(m, matrices.data(), positionOut, normalOut);
  }
  return py::make_tuple(positions, normals);
}

// ---------------------------------------------------------------------------
// Takes: the animations of a source file, and the content of an Animation.

py::list Animations(const py::object& path) {
  const std::string text = PathText(path);
  std::vector<TakeInfo> takes;
  std::string failure;
  {
    py::gil_scoped_release release;
    try {
      takes = ReadTakes(text);
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  if (!failure.empty()) RaiseOSError(failure);
  py::list list;
  for (size_t i = 0; i < takes.size(); ++i) {
    py::dict take;
    take["index"] = i;
    take["name"] = Text(takes[i].name);
    take["duration_ticks"] = takes[i].durationTicks;
    take["duration_seconds"] = takes[i].ticksPerSecond > 0.0 ? py::cast(takes[i].durationTicks / takes[i].ticksPerSecond)
                                                               : py::none();
    take["ticks_per_second"] = takes[i].ticksPerSecond;
    take["channels"] = takes[i].channels;
    list.append(take);
  }
  return list;
}

// The index (int), name or pattern (str) that compile's animation= gives.
std::string TakeSelector(const py::object& animation) {
  if (py::isinstance<py::bool_>(animation)) throw py::type_error("animation must be an index (int) or a name (str)");
  if (py::isinstance<py::int_>(animation)) {
    const long long index = animation.cast<long long>();
    if (index < 0) throw py::value_error("animation index " + std::to_string(index) + " is negative");
    return std::to_string(index);
  }
  if (py::isinstance<py::str>(animation)) return NameBytes(animation, "animation");
  throw py::type_error("animation must be an index (int) or a name or pattern (str)");
}

// In the compile's child: the one take that selector selects, compiled as
// Varndel compiles a file whose first animation it is, and written where
// Varndel would write its output, as <stem>.<take>.animbin. Returns
// "<code>\n<path>" as the plain compile does, or "selection\n<message>".
std::string CompileTakeInChild(std::vector<std::string>& arguments, const std::string& selector) {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  ResetLog();  // a fresh Logs/Log.txt, as each compile gets
  std::string bytes, path;
  int code = 0;
  try {
    code = CompileTake(static_cast<int>(argv.size()), argv.data(), selector, bytes, path);
  } catch (const std::exception& e) {
    return std::string("selection\n") + e.what();
  }
  std::string error;
  if (code == kSuccess && !WriteCheckedModelFile(path, bytes, error)) {
    LogError("%s\n", error);
    code = -1;
  }
  ResetLog();
  return std::to_string(code == kSuccess ? 0 : -1) + "\n" + path;
}

struct PyTrack {
  ModelData data;
  size_t index = 0;
};

varndel::Track& TrackOf(const PyTrack& track) {
  if (track.index >= track.data->animation.tracks.size()) throw py::index_error("the track is no longer in its model");
  return track.data->animation.tracks[track.index];
}

// A structured dtype of key records: value (width floats) then time.
py::dtype KeyDtype(size_t width, size_t itemsize) {
  py::list names, formats, offsets;
  names.append("value");
  formats.append(std::to_string(width) + "<f4");
  offsets.append(0);
  names.append("time");
  formats.append("<f4");
  offsets.append(width * sizeof(float));
  py::dict layout;
  layout["names"] = names;
  layout["formats"] = formats;
  layout["offsets"] = offsets;
  layout["itemsize"] = itemsize;
  return py::dtype::from_args(py::module_::import("numpy").attr("dtype")(layout));
}

template <typename Key>
py::array KeyView(const ModelData& data, std::vector<Key>& keys, size_t width) {
  return py::array(KeyDtype(width, sizeof(Key)), {keys.size()}, {sizeof(Key)}, keys.empty() ? nullptr : keys.data(),
                   Owner(data));
}

// An (n, 4, 4) [row, column] view of column-major matrices found every
// stride bytes from first.
py::array MatrixView(const ModelData& data, size_t count, const void* first, size_t stride) {
  return py::array(py::dtype::of<float>(), {count, size_t{4}, size_t{4}}, {stride, sizeof(float), 4 * sizeof(float)},
                   count == 0 ? nullptr : first, Owner(data));
}

template <typename Record, typename Field>
py::array FieldView(const ModelData& data, std::vector<Record>& records, Field Record::*field) {
  const size_t offset = records.empty() ? 0
                                        : size_t(reinterpret_cast<const char*>(&(records[0].*field)) -
                                                 reinterpret_cast<const char*>(records.data()));
  return py::array(py::dtype::of<Field>(), {records.size()}, {sizeof(Record)},
                   records.empty() ? nullptr : reinterpret_cast<const char*>(records.data()) + offset, Owner(data));
}

void DefineAnimationContent(py::module_& m) {
  auto animation = py::reinterpret_borrow<py::class_<PyAnimation>>(m.attr("Animation"));
  animation
      .def_property_readonly("node_names",
                             [](const PyAnimation& self) {
                               py::list names;
                               for (const varndel::Node& node : self.data->animation.nodes) names.append(Text(node.name));
                               return names;
                             })
      .def_property_readonly("node_parents",
                             [](const PyAnimation& self) {
                               return FieldView(self.data, self.data->animation.nodes, &varndel::Node::parent);
                             })
      .def_property_readonly("node_transforms",
                             [](const PyAnimation& self) {
                               auto& nodes = self.data->animation.nodes;
                               return MatrixView(self.data, nodes.size(), nodes.empty() ? nullptr : nodes[0].transformation.data(),
                                                 sizeof(varndel::Node));
                             })
      .def_property_readonly("tracks",
                             [](const PyAnimation& self) {
                               py::list tracks;
                               for (size_t i = 0; i < self.data->animation.tracks.size(); ++i) {
                                 tracks.append(PyTrack{self.data, i});
                               }
                               return tracks;
                             })
      .def_property_readonly("bone_names",
                             [](const PyAnimation& self) {
                               py::list names;
                               for (const auto& entry : self.data->animation.boneInfos) names.append(Text(entry.name));
                               return names;
                             })
      .def_property_readonly("bone_ids",
                             [](const PyAnimation& self) {
                               return FieldView(self.data, self.data->animation.boneInfos, &varndel::BoneInfoEntry::id);
                             })
      .def_property_readonly("bone_offsets", [](const PyAnimation& self) {
        auto& entries = self.data->animation.boneInfos;
        return MatrixView(self.data, entries.size(), entries.empty() ? nullptr : entries[0].offset.data(),
                          sizeof(varndel::BoneInfoEntry));
      });

  py::class_<PyTrack>(m, "Track", "One key-frame track of an animation; its key arrays view the model's records.")
      .def_property_readonly("name", [](const PyTrack& self) { return Text(TrackOf(self).name); })
      .def_property_readonly("id", [](const PyTrack& self) { return TrackOf(self).id; })
      .def_property_readonly("position_keys",
                             [](const PyTrack& self) { return KeyView(self.data, TrackOf(self).positions, 3); })
      .def_property_readonly("rotation_keys",
                             [](const PyTrack& self) { return KeyView(self.data, TrackOf(self).rotations, 4); })
      .def_property_readonly("scale_keys",
                             [](const PyTrack& self) { return KeyView(self.data, TrackOf(self).scales, 3); })
      .def_property(
          "position_max_time", [](const PyTrack& self) { return TrackOf(self).positionMaxTime; },
          [](const PyTrack& self, float value) { TrackOf(self).positionMaxTime = value; })
      .def_property(
          "rotation_max_time", [](const PyTrack& self) { return TrackOf(self).rotationMaxTime; },
          [](const PyTrack& self, float value) { TrackOf(self).rotationMaxTime = value; })
      .def_property(
          "scale_max_time", [](const PyTrack& self) { return TrackOf(self).scaleMaxTime; },
          [](const PyTrack& self, float value) { TrackOf(self).scaleMaxTime = value; })
      .def("__repr__", [](const PyTrack& self) {
        return "<varndel.Track " + varndel::text::QuoteName(TrackOf(self).name) + ">";
      });

  m.def("animations", &Animations, py::arg("path"),
        "The animations (takes) of a source file: a list of dicts with index, name, duration_ticks, "
        "duration_seconds (None without a tick rate), ticks_per_second and channels.");
}

}  // namespace

PYBIND11_MODULE(varndel, m) {
  m.doc() = "Compile, read, check, optimise and play Varndel compiled models (.staticbin, .animbin).";

  formatErrorType = py::handle(
      PyErr_NewExceptionWithDoc("varndel.FormatError",
                                "A compiled file the reader refuses: .offset (bytes), .field and .message say "
                                "where and why (.field is empty when the file could not be read at all).",
                                PyExc_ValueError, nullptr));
  compileErrorType = py::handle(
      PyErr_NewExceptionWithDoc("varndel.CompileError",
                                "A compile that failed: .exit_code as Varndel's (-1 or -666) and .log, the lines "
                                "of Logs/Log.txt.",
                                PyExc_RuntimeError, nullptr));
  if (!formatErrorType || !compileErrorType) throw py::error_already_set();
  m.attr("FormatError") = formatErrorType;
  m.attr("CompileError") = compileErrorType;

  py::class_<PyModel>(m, "Model", "A compiled model: its meshes and, when animated, its animation.")
      .def_property_readonly("animated", [](const PyModel& self) { return self.data->animated; })
      .def_property_readonly("flip_uvs", [](const PyModel& self) { return self.data->flipUVs; })
      .def_property_readonly("texture_count", [](const PyModel& self) { return self.data->textureCount; })
      .def_property_readonly("meshes",
                             [](py::object self) {
                               py::list meshes;
                               const size_t count = self.cast<PyModel&>().data->meshes.size();
                               for (size_t i = 0; i < count; ++i) meshes.append(PyMesh{self, i});
                               return meshes;
                             })
      .def_property_readonly("animation", [](const PyModel& self) { return PyAnimation{self.data}; })
      .def("__repr__", [](const PyModel& self) {
        return "<varndel.Model " + std::string(self.data->animated ? "animated" : "static") + ", " +
               std::to_string(self.data->meshes.size()) + " meshes>";
      });

  py::class_<PyMesh>(m, "Mesh", "One mesh of a model; its arrays view the model's records without copying.")
      .def_property_readonly("positions", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, position), 3);
      })
      .def_property_readonly("normals", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, normal), 3);
      })
      .def_property_readonly("uvs", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, texCoords), 2);
      })
      .def_property_readonly("tangents", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, tangent), 3);
      })
      .def_property_readonly("bitangents", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, bitangent), 3);
      })
      .def_property_readonly("bone_ids", [](const PyMesh& self) {
        return VertexField<int32_t>(self, offsetof(varndel::Vertex, boneIDs), 4);
      })
      .def_property_readonly("weights", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, weights), 4);
      })
      .def_property_readonly("vertices", &Vertices)
      .def_property_readonly("indices", &Indices)
      .def_property_readonly("textures", [](const PyMesh& self) {
        py::list textures;
        for (const varndel::TextureRef& t : MeshOf(self).textures) {
          textures.append(py::make_tuple(Text(t.path), t.type));
        }
        return textures;
      });

  py::class_<PyAnimation>(m, "Animation", "A model's animation: hierarchy, tracks and bone-info map.")
      .def_property_readonly("duration", [](const PyAnimation& self) { return self.data->animation.duration; })
      .def_property_readonly("ticks_per_second",
                             [](const PyAnimation& self) { return varndel::TicksPerSecond(self.data->animation); })
      .def_property_readonly("nodes",
                             [](const PyAnimation& self) {
                               py::list names;
                               for (const varndel::Node& node : self.data->animation.nodes) {
                                 names.append(Text(node.name));
                               }
                               return names;
                             })
      .def_property_readonly("bones", [](const PyAnimation& self) {
        py::list names;
        for (const varndel::BoneInfoEntry& bone : self.data->animation.boneInfos) names.append(Text(bone.name));
        return names;
      });

  py::class_<PyFinding>(m, "Finding", "One finding of validate().")
      .def_readonly("severity", &PyFinding::severity)
      .def_property_readonly("element", [](const PyFinding& self) { return Text(self.element); })
      .def_property_readonly("path", [](const PyFinding& self) { return Text(self.element); })
      .def_property_readonly("message", [](const PyFinding& self) { return Text(self.message); })
      .def("__repr__",
           [](const PyFinding& self) { return Text(self.severity + ": " + self.element + ": " + self.message); });

  py::class_<PyPlayer>(m, "AnimationPlayer", "Plays one instance of an animation, as varndel::AnimationPlayer.")
      .def(py::init([](const PyAnimation& animation) {
             py::gil_scoped_release release;
             return PyPlayer{varndel::AnimationPlayer(animation.data->animation), {}};
           }),
           py::arg("animation"))
      .def_property_readonly("bone_count", [](const PyPlayer& self) { return self.player.BoneCount(); })
      .def_property_readonly("node_count", [](const PyPlayer& self) { return self.player.NodeCount(); })
      .def("evaluate", &Evaluate, py::arg("ticks"), py::arg("out") = py::none())
      .def("skin", &Skin, py::arg("mesh"), py::arg("palette"));

  m.def("compile", &Compile, py::arg("path"), py::kw_only(), py::arg("animated") = false,
        py::arg("flip_uvs") = false, py::arg("output_name") = py::none(), py::arg("timeout") = py::none(),
        py::arg("memory_limit") = py::none(), py::arg("animation") = py::none());
  DefineAnimationContent(m);
  py::class_<PyMappedModel>(m, "MappedModel",
                            "A compiled file mapped read-only (read(path, mmap=True)): its meshes' arrays view "
                            "the mapping. Do not let another process truncate the file while it is mapped.")
      .def_property_readonly("animated", [](const PyMappedModel& self) { return self.view->animated(); })
      .def_property_readonly("flip_uvs", [](const PyMappedModel& self) { return self.view->flipUVs(); })
      .def_property_readonly("texture_count", [](const PyMappedModel& self) { return self.view->textureCount(); })
      .def_property_readonly("meshes",
                             [](const PyMappedModel& self) {
                               py::list meshes;
                               for (size_t i = 0; i < self.view->meshes().size(); ++i)
                                 meshes.append(PyMappedMesh{self.view, i});
                               return meshes;
                             })
      .def_property_readonly("animation",
                             [](const PyMappedModel& self) {
                               auto model = std::make_shared<varndel::Model>();
                               model->animated = self.view->animated();
                               model->animation = self.view->animation();
                               return PyAnimation{std::move(model)};
                             })
      .def("to_model",
           [](const PyMappedModel& self) {
             varndel::Model model;
             varndel::ReadError error;
             if (!self.view->ToModel(model, &error)) RaiseFormatError(error);
             return WrapModel(std::move(model));
           })
      .def("__repr__", [](const PyMappedModel& self) {
        return "<varndel.MappedModel " + std::string(self.view->animated() ? "animated" : "static") + ", " +
               std::to_string(self.view->meshes().size()) + " meshes>";
      });

  py::class_<PyMappedMesh>(m, "MappedMesh", "One mesh of a MappedModel; its arrays are read-only views of the mapping.")
      .def_property_readonly("positions", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, position), 3);
      })
      .def_property_readonly("normals", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, normal), 3);
      })
      .def_property_readonly("uvs", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, texCoords), 2);
      })
      .def_property_readonly("tangents", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, tangent), 3);
      })
      .def_property_readonly("bitangents", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, bitangent), 3);
      })
      .def_property_readonly("bone_ids", [](const PyMappedMesh& self) {
        return MappedVertexField<int32_t>(self, offsetof(varndel::Vertex, boneIDs), 4);
      })
      .def_property_readonly("weights", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, weights), 4);
      })
      .def_property_readonly("vertices", &MappedVertices)
      .def_property_readonly("indices", &MappedIndices)
      .def_property_readonly("textures", [](const PyMappedMesh& self) {
        py::list textures;
        for (const varndel::MappedTexture& t : self.view->meshes()[self.index].textures())
          textures.append(py::make_tuple(Text(t.path), t.type));
        return textures;
      });

  m.def(
      "read",
      [](const py::object& path, bool mmap) { return mmap ? ReadMapped(PathText(path)) : ReadFile(path); },
      py::arg("path"), py::kw_only(), py::arg("mmap") = false);
  m.def("read_bytes", &ReadBytes, py::arg("data"));
  m.def(
      "write_bytes", [](const PyModel& model) { return py::bytes(ModelBytes(model.data)); }, py::arg("model"));
  m.def(
      "write",
      [](const PyModel& model, const py::object& path) {
        const std::string text = PathText(path);
        const ModelData data = model.data;
        std::string error;
        bool written = false;
        {
          py::gil_scoped_release release;
          written = WriteCheckedModelFile(text, varndel::WriteModel(*data), error);
        }
        if (!written) RaiseOSError(error);
      },
      py::arg("model"), py::arg("path"));
  m.def(
      "validate",
      [](const PyModel& model) {
        std::vector<PyFinding> findings;
        for (const varndel::Finding& f : varndel::ValidateModel(*model.data)) {
          findings.push_back({f.severity == varndel::Severity::kError ? "error" : "warning", f.element, f.message});
        }
        return findings;
      },
      py::arg("model"));
  m.def("optimize", &Optimize, py::arg("model"), py::kw_only(), py::arg("lods") = std::vector<float>{},
        py::arg("overdraw") = true, py::arg("anim_tolerance") = py::none(), py::arg("anim_distance") = py::none(),
        py::arg("keys_only") = false);
  m.def(
      "animation_error",
      [](const PyModel& original, const PyModel& reduced, const std::optional<double>& distance) {
        const float d = NonNegative(distance, "distance");
        const ModelData a = original.data, b = reduced.data;
        py::gil_scoped_release release;
        return varndel::MeasureAnimationError(*a, *b, d);
      },
      py::arg("original"), py::arg("reduced"), py::kw_only(), py::arg("distance") = py::none());
  m.def(
      "resolve_texture",
      [](const py::object& storedPath, const py::object& compiledFile) -> py::object {
        const std::optional<std::string> found =
            varndel::ResolveTexture(NameBytes(storedPath, "stored_path"), PathText(compiledFile));
        if (!found) return py::none();
        return Text(*found);
      },
      py::arg("stored_path"), py::arg("compiled_file"));
}
