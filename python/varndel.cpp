// The Python module `varndel`: the compiler's stages, the reader, writer,
// validation, optimisation and player, with numpy views into the records.
// Everything about the format is the C++ libraries'; this file only moves
// values between them and Python.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
#include "reader/file_kind.h"
#include "reader/text.h"

namespace py = pybind11;

namespace {

// A model's values, shared by the Python Model and every array viewing it:
// an array's base holds one of these, so it outlives `del model`.
using ModelData = std::shared_ptr<varndel::Model>;

struct PyModel {
  ModelData data;
  std::optional<std::string> path = std::nullopt;  // the file it was read from or compiled into
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

[[noreturn]] void RaiseFormatError(const varndel::ReadError& error, const std::string& text = {}) {
  py::object exception = formatErrorType(Text(text.empty() ? varndel::FormatReadError(error) : text));
  exception.attr("offset") = error.offset;
  exception.attr("field") = Text(error.field);
  exception.attr("message") = Text(error.message);
  PyErr_SetObject(formatErrorType.ptr(), exception.ptr());
  throw py::error_already_set();
}

// A read of the file at path failed. A file that cannot be opened at all
// raises the OSError subclass of its errno (FileNotFoundError,
// PermissionError, IsADirectoryError) with filename set; a file that is no
// compiled model says so (FormatError, with the reader's offset, field and
// message); any other failure is the reader's FormatError.
[[noreturn]] void RaiseReadFailure(const py::object& path, const std::string& text, const varndel::ReadError& error) {
  if (error.offset == 0 && error.field.empty()) {
    int code = 0;
    std::error_code failed;
    const auto status = std::filesystem::status(text, failed);
    if (failed) {
      code = failed.value();
    } else if (std::filesystem::is_directory(status)) {
      code = EISDIR;
    } else if (std::filesystem::is_regular_file(status)) {
      errno = 0;
      if (std::FILE* file = std::fopen(text.c_str(), "rb")) {
        std::fclose(file);
      } else {
        code = errno;
      }
    }
    if (code != 0) {
      // OSError(errno, ...) gives the subclass for errno (FileNotFoundError,
      // ...); the exception is that and a FormatError too, as callers that
      // catch FormatError for any refused file expect.
      const py::handle osErrorType(reinterpret_cast<PyObject*>(
          Py_TYPE(py::reinterpret_borrow<py::object>(PyExc_OSError)(code, "").ptr())));
      static std::vector<std::pair<py::handle, py::handle>> types;  // OSError subclass, combined; never released
      auto known = std::find_if(types.begin(), types.end(), [&](const auto& t) { return t.first.is(osErrorType); });
      if (known == types.end()) {
        py::dict namespace_;
        namespace_["__module__"] = "varndel";
        py::object combined = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type))(
            osErrorType.attr("__name__"), py::make_tuple(osErrorType, formatErrorType), namespace_);
        known = types.insert(types.end(), {osErrorType, combined.release()});
      }
      py::object exception = py::reinterpret_borrow<py::object>(known->second)(code, Text(error.message), path);
      exception.attr("offset") = error.offset;
      exception.attr("field") = Text(error.field);
      exception.attr("message") = Text(error.message);
      PyErr_SetObject(known->second.ptr(), exception.ptr());
      throw py::error_already_set();
    }
  }
  if (const std::string kind = varndel::DescribeNotCompiledModelFile(text); !kind.empty()) {
    RaiseFormatError(error, text + ": " + kind);
  }
  RaiseFormatError(error);
}

// A str, bytes or os.PathLike path in the file system's encoding, as open() takes it.
std::string PathText(const py::object& path) {
  const py::object name = py::module_::import("os").attr("fsencode")(path);
  std::string text = name.cast<std::string>();
  if (text.find('\0') != std::string::npos) throw py::value_error("embedded null byte in path");
  return text;
}

py::object WrapModel(varndel::Model&& model, std::optional<std::string> path = std::nullopt) {
  return py::cast(PyModel{std::make_shared<varndel::Model>(std::move(model)), std::move(path)});
}

py::object PathOrNone(const std::optional<std::string>& path) {
  if (!path) return py::none();
  return Text(*path);
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
  if (!read) RaiseReadFailure(path, text, error);
  return WrapModel(std::move(model), text);
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
  std::string path;  // the file mapped
};

struct PyMappedMesh {
  MappedData view;
  size_t index = 0;
};

py::object ReadMapped(const py::object& pathObject) {
  const std::string path = PathText(pathObject);
  auto view = std::make_shared<varndel::MappedModel>();
  varndel::ReadError error;
  bool opened = false;
  {
    py::gil_scoped_release release;
    opened = view->Open(path, &error);
  }
  if (!opened) RaiseReadFailure(pathObject, path, error);
  return py::cast(PyMappedModel{std::move(view), path});
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
                             },
          "Node names, depth-first pre-order (bytes that are not UTF-8 as lone surrogates).")
      .def_property_readonly("node_parents",
                             [](const PyAnimation& self) {
                               return FieldView(self.data, self.data->animation.nodes, &varndel::Node::parent);
                             },
          "(nodes,): each node's parent index, -1 for the root.")
      .def_property_readonly("node_transforms",
                             [](const PyAnimation& self) {
                               auto& nodes = self.data->animation.nodes;
                               return MatrixView(self.data, nodes.size(), nodes.empty() ? nullptr : nodes[0].transformation.data(),
                                                 sizeof(varndel::Node));
                             },
          "(nodes, 4, 4) [node, row, column]: each node's transformation relative to its parent.")
      .def_property_readonly("tracks",
                             [](const PyAnimation& self) {
                               py::list tracks;
                               for (size_t i = 0; i < self.data->animation.tracks.size(); ++i) {
                                 tracks.append(PyTrack{self.data, i});
                               }
                               return tracks;
                             },
          "The key-frame tracks, in file order.")
      .def_property_readonly("bone_names",
                             [](const PyAnimation& self) {
                               py::list names;
                               for (const auto& entry : self.data->animation.boneInfos) names.append(Text(entry.name));
                               return names;
                             },
          "Bone-info names, in file order.")
      .def_property_readonly("bone_ids",
                             [](const PyAnimation& self) {
                               return FieldView(self.data, self.data->animation.boneInfos, &varndel::BoneInfoEntry::id);
                             },
          "(bones,): the numbers that vertices' bone_ids refer to.")
      .def_property_readonly("bone_offsets", [](const PyAnimation& self) {
        auto& entries = self.data->animation.boneInfos;
        return MatrixView(self.data, entries.size(), entries.empty() ? nullptr : entries[0].offset.data(),
                          sizeof(varndel::BoneInfoEntry));
      },
          "(bones, 4, 4) [bone, row, column]: mesh space to bone space.");

  py::class_<PyTrack>(m, "Track", "One key-frame track. Key arrays are structured views (fields \"value\" and \"time\", in ticks).")
      .def_property_readonly("name", [](const PyTrack& self) { return Text(TrackOf(self).name); },
          "The node it animates.")
      .def_property_readonly("id", [](const PyTrack& self) { return TrackOf(self).id; },
          "The track's id, as the file stores it.")
      .def_property_readonly("position_keys",
                             [](const PyTrack& self) { return KeyView(self.data, TrackOf(self).positions, 3); },
          "value (3,) float32, time float32.")
      .def_property_readonly("rotation_keys",
                             [](const PyTrack& self) { return KeyView(self.data, TrackOf(self).rotations, 4); },
          "value (4,) float32 x, y, z, w; time float32.")
      .def_property_readonly("scale_keys",
                             [](const PyTrack& self) { return KeyView(self.data, TrackOf(self).scales, 3); },
          "value (3,) float32, time float32.")
      .def_property(
          "position_max_time", [](const PyTrack& self) { return TrackOf(self).positionMaxTime; },
          [](const PyTrack& self, float value) { TrackOf(self).positionMaxTime = value; },
          "Time, in ticks, of the track's last position key as stored; writable.")
      .def_property(
          "rotation_max_time", [](const PyTrack& self) { return TrackOf(self).rotationMaxTime; },
          [](const PyTrack& self, float value) { TrackOf(self).rotationMaxTime = value; },
          "Time, in ticks, of the track's last rotation key as stored; writable.")
      .def_property(
          "scale_max_time", [](const PyTrack& self) { return TrackOf(self).scaleMaxTime; },
          [](const PyTrack& self, float value) { TrackOf(self).scaleMaxTime = value; },
          "Time, in ticks, of the track's last scale key as stored; writable.")
      .def("__repr__", [](const PyTrack& self) {
        return "<varndel.Track " + varndel::text::QuoteName(TrackOf(self).name) + ">";
      });

  m.def("animations", &Animations, py::arg("path"),
          "The animations (takes) of a source file: dicts with index, name, duration_ticks, duration_seconds "
          "(None without a tick rate), ticks_per_second and channels. Raises OSError when the file cannot be "
          "imported.");
}

}  // namespace

PYBIND11_MODULE(varndel, m) {
  m.doc() = "Compile, read, check, optimise and play Varndel compiled models (.staticbin, .animbin).";

  formatErrorType = py::handle(
      PyErr_NewExceptionWithDoc("varndel.FormatError",
                                "A compiled file the reader refuses: .offset (bytes), .field and .message say where and "
                                "why (.field is empty when the file could not be read at all).",
                                PyExc_ValueError, nullptr));
  compileErrorType = py::handle(
      PyErr_NewExceptionWithDoc("varndel.CompileError",
                                "A compile that failed: .exit_code as Varndel's (-1 or -666; None when the run did not "
                                "finish) and .log, the lines of Logs/Log.txt.",
                                PyExc_RuntimeError, nullptr));
  if (!formatErrorType || !compileErrorType) throw py::error_already_set();
  m.attr("FormatError") = formatErrorType;
  m.attr("CompileError") = compileErrorType;

  py::class_<PyModel>(m, "Model", "A compiled model: its meshes and, when animated, its animation. Arrays of its meshes view its "
          "records and keep them alive.")
      .def_property_readonly("animated", [](const PyModel& self) { return self.data->animated; },
          "True for an animated model (.animbin), False for a static one (.staticbin).")
      .def_property_readonly("flip_uvs", [](const PyModel& self) { return self.data->flipUVs; },
          "True when the model was compiled with its texture coordinates' v flipped (flip_uvs=True).")
      .def_property_readonly("texture_count", [](const PyModel& self) { return self.data->textureCount; },
          "Distinct texture paths of the whole model.")
      .def_property_readonly("meshes",
                             [](py::object self) {
                               py::list meshes;
                               const size_t count = self.cast<PyModel&>().data->meshes.size();
                               for (size_t i = 0; i < count; ++i) meshes.append(PyMesh{self, i});
                               return meshes;
                             },
          "The model's meshes, in file order.")
      .def_property_readonly("animation", [](const PyModel& self) { return PyAnimation{self.data}; },
          "The model's Animation; empty unless the model is animated.")
      .def_property_readonly("path", [](const PyModel& self) { return PathOrNone(self.path); },
          "The file the model was read from (read) or that compile wrote, as given or as the compiler named "
          "it: str by surrogateescape. None for a model from read_bytes or optimize. Editing or writing the "
          "model leaves it as it was.")
      .def("__repr__", [](const PyModel& self) {
        return "<varndel.Model " + std::string(self.data->animated ? "animated" : "static") + ", " +
               std::to_string(self.data->meshes.size()) + " meshes>";
      });

  py::class_<PyMesh>(m, "Mesh", "One mesh. Every array is a writable view into the model's records: no copy.")
      .def_property_readonly("positions", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, position), 3);
      },
          "Vertex positions, (n, 3) float32.")
      .def_property_readonly("normals", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, normal), 3);
      },
          "Vertex normals, (n, 3) float32.")
      .def_property_readonly("uvs", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, texCoords), 2);
      },
          "Texture coordinates, (n, 2) float32.")
      .def_property_readonly("tangents", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, tangent), 3);
      },
          "Vertex tangents, (n, 3) float32.")
      .def_property_readonly("bitangents", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, bitangent), 3);
      },
          "Vertex bitangents, (n, 3) float32.")
      .def_property_readonly("bone_ids", [](const PyMesh& self) {
        return VertexField<int32_t>(self, offsetof(varndel::Vertex, boneIDs), 4);
      },
          "Bone ids of each vertex's four influences, (n, 4) int32; negative: a free slot.")
      .def_property_readonly("weights", [](const PyMesh& self) {
        return VertexField<float>(self, offsetof(varndel::Vertex, weights), 4);
      },
          "Weights of each vertex's four influences, (n, 4) float32.")
      .def_property_readonly("vertices", &Vertices,
          "(n,) structured array over the 88-byte records: position, normal, uv, tangent, bitangent, bone_ids, "
          "weights.")
      .def_property_readonly("indices", &Indices,
          "Triangle-list indices into the mesh's vertices, (m,) uint32.")
      .def_property_readonly("textures", [](const PyMesh& self) {
        py::list textures;
        for (const varndel::TextureRef& t : MeshOf(self).textures) {
          textures.append(py::make_tuple(Text(t.path), t.type));
        }
        return textures;
      },
          "(path as stored, aiTextureType: 1 diffuse, 2 specular, 3 ambient, 5 height, 6 normals). The path is "
          "str by surrogateescape: os.fsencode(path) is the stored bytes.");

  py::class_<PyAnimation>(m, "Animation", "A model's animation: node hierarchy, key-frame tracks and bone-info map; empty for a static model.")
      .def_property_readonly("duration", [](const PyAnimation& self) { return self.data->animation.duration; },
          "Length of the animation, in ticks.")
      .def_property_readonly("ticks_per_second",
                             [](const PyAnimation& self) { return varndel::TicksPerSecond(self.data->animation); },
          "Ticks per second as played: 25 when the file says 0.")
      .def_property_readonly("nodes",
                             [](const PyAnimation& self) {
                               py::list names;
                               for (const varndel::Node& node : self.data->animation.nodes) {
                                 names.append(Text(node.name));
                               }
                               return names;
                             },
          "Node names, depth-first pre-order; str by surrogateescape (os.fsencode gives the stored bytes).")
      .def_property_readonly("bones", [](const PyAnimation& self) {
        py::list names;
        for (const varndel::BoneInfoEntry& bone : self.data->animation.boneInfos) names.append(Text(bone.name));
        return names;
      },
          "Bone-info names, in the order of the palette's matrices; str by surrogateescape.");

  py::class_<PyFinding>(m, "Finding", "One finding of validate().")
      .def_readonly("severity", &PyFinding::severity,
          "\"error\" or \"warning\".")
      .def_property_readonly("element", [](const PyFinding& self) { return Text(self.element); },
          "Where, for example \"mesh 2 index 17\".")
      .def_property_readonly("path", [](const PyFinding& self) { return Text(self.element); },
          "The same as element.")
      .def_property_readonly("message", [](const PyFinding& self) { return Text(self.message); },
          "What is wrong, in varndel-inspect check's words.")
      .def("__repr__",
           [](const PyFinding& self) { return Text(self.severity + ": " + self.element + ": " + self.message); });

  py::class_<PyPlayer>(m, "AnimationPlayer", "One playing instance of an animation; not to be shared between threads.")
      .def(py::init([](const PyAnimation& animation) {
             py::gil_scoped_release release;
             return PyPlayer{varndel::AnimationPlayer(animation.data->animation), {}};
           }),
           py::arg("animation"),
          "Prepares a player for animation (its hierarchy and bone-info map are copied: the model may go).")
      .def_property_readonly("bone_count", [](const PyPlayer& self) { return self.player.BoneCount(); },
          "Matrices in the palette evaluate gives: one per bone-info entry, in file order.")
      .def_property_readonly("node_count", [](const PyPlayer& self) { return self.player.NodeCount(); },
          "Nodes of the animation's hierarchy.")
      .def("evaluate", &Evaluate, py::arg("ticks"), py::arg("out") = py::none(),
          "The skinning matrices at ticks, (bones, 4, 4) indexed [bone, row, column]; written into out when "
          "given (fastest with an array evaluate returned).")
      .def("skin", &Skin, py::arg("mesh"), py::arg("palette"),
          "The mesh's positions and normals, (n, 3) each, skinned with the palette of evaluate.");

  m.def("compile", &Compile, py::arg("path"), py::kw_only(), py::arg("animated") = false,
        py::arg("flip_uvs") = false, py::arg("output_name") = py::none(), py::arg("timeout") = py::none(),
        py::arg("memory_limit") = py::none(), py::arg("animation") = py::none(),
          "Runs the compiler as `Varndel <animated> <flip_uvs> <path> [output_name]` does, and reads the file "
          "it wrote: the same files, console text, log and exit code. The run happens in a child process, so a "
          "crash, a hang or a runaway import raises CompileError instead of ending the interpreter. timeout: "
          "seconds before the run is ended. memory_limit: bytes of address space the run may take beyond what "
          "the interpreter already has (RLIMIT_AS in the child); past it an allocation fails and the run fails "
          "(-1). Ctrl-C ends the run and raises KeyboardInterrupt. Runs from several threads take turns (they "
          "share Logs/Log.txt). Raises CompileError when the run fails.\n\nanimation (an index, an exact name "
          "or a pattern with * and ?, selecting exactly one take; needs animated=True): compiles that take as "
          "if it were the file's first animation, into <output stem>.<take>.animbin (the file name "
          "varndel-edge gives it); raises ValueError when the selection picks no take or several. Returns the "
          "Model read back from the file written; its path is that file.");
  DefineAnimationContent(m);
  py::class_<PyMappedModel>(m, "MappedModel", "A compiled file mapped read-only (read(path, mmap=True)), checked as read() checks it.")
      .def_property_readonly("animated", [](const PyMappedModel& self) { return self.view->animated(); },
          "True for an animated model (.animbin), False for a static one (.staticbin).")
      .def_property_readonly("flip_uvs", [](const PyMappedModel& self) { return self.view->flipUVs(); },
          "True when the model was compiled with its texture coordinates' v flipped (flip_uvs=True).")
      .def_property_readonly("texture_count", [](const PyMappedModel& self) { return self.view->textureCount(); },
          "Distinct texture paths of the whole model.")
      .def_property_readonly("path", [](const PyMappedModel& self) { return Text(self.path); },
          "The file mapped, as given to read: str by surrogateescape.")
      .def_property_readonly("meshes",
                             [](const PyMappedModel& self) {
                               py::list meshes;
                               for (size_t i = 0; i < self.view->meshes().size(); ++i)
                                 meshes.append(PyMappedMesh{self.view, i});
                               return meshes;
                             },
          "The model's meshes, in file order.")
      .def_property_readonly("animation",
                             [](const PyMappedModel& self) {
                               auto model = std::make_shared<varndel::Model>();
                               model->animated = self.view->animated();
                               model->animation = self.view->animation();
                               return PyAnimation{std::move(model)};
                             },
          "Decoded from the mapping; empty unless the model is animated.")
      .def("to_model",
           [](const PyMappedModel& self) {
             varndel::Model model;
             varndel::ReadError error;
             if (!self.view->ToModel(model, &error)) RaiseFormatError(error);
             return WrapModel(std::move(model), self.path);
           },
          "The whole file as a Model of its own (a copy), whose path is the mapped file. Raises FormatError "
          "when the mapping's content cannot be decoded.")
      .def("__repr__", [](const PyMappedModel& self) {
        return "<varndel.MappedModel " + std::string(self.view->animated() ? "animated" : "static") + ", " +
               std::to_string(self.view->meshes().size()) + " meshes>";
      });

  py::class_<PyMappedMesh>(m, "MappedMesh", "One mesh of a MappedModel. Every array is a read-only view of the mapping: no copy.")
      .def_property_readonly("positions", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, position), 3);
      },
          "Vertex positions, (n, 3) float32.")
      .def_property_readonly("normals", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, normal), 3);
      },
          "Vertex normals, (n, 3) float32.")
      .def_property_readonly("uvs", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, texCoords), 2);
      },
          "Texture coordinates, (n, 2) float32.")
      .def_property_readonly("tangents", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, tangent), 3);
      },
          "Vertex tangents, (n, 3) float32.")
      .def_property_readonly("bitangents", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, bitangent), 3);
      },
          "Vertex bitangents, (n, 3) float32.")
      .def_property_readonly("bone_ids", [](const PyMappedMesh& self) {
        return MappedVertexField<int32_t>(self, offsetof(varndel::Vertex, boneIDs), 4);
      },
          "Bone ids of each vertex's four influences, (n, 4) int32; negative: a free slot.")
      .def_property_readonly("weights", [](const PyMappedMesh& self) {
        return MappedVertexField<float>(self, offsetof(varndel::Vertex, weights), 4);
      },
          "Weights of each vertex's four influences, (n, 4) float32.")
      .def_property_readonly("vertices", &MappedVertices,
          "(n,) structured array over the 88-byte records.")
      .def_property_readonly("indices", &MappedIndices,
          "Triangle-list indices into the mesh's vertices, (m,) uint32.")
      .def_property_readonly("textures", [](const PyMappedMesh& self) {
        py::list textures;
        for (const varndel::MappedTexture& t : self.view->meshes()[self.index].textures())
          textures.append(py::make_tuple(Text(t.path), t.type));
        return textures;
      },
          "(path as stored, aiTextureType), as Mesh.textures.");

  m.def(
      "read",
      [](const py::object& path, bool mmap) { return mmap ? ReadMapped(path) : ReadFile(path); },
      py::arg("path"), py::kw_only(), py::arg("mmap") = false,
          "Reads a compiled file. Raises FormatError. With mmap=True the file is mapped, not read: the "
          "result's arrays are read-only views of the mapping, which lives while any of them does. Do not let "
          "another process truncate a mapped file (the process would crash); read files that may change "
          "without mmap. Returns a Model (a MappedModel with mmap=True) whose path is path, as str. A file that "
          "cannot be opened raises the OSError of the cause (FileNotFoundError, PermissionError, "
          "IsADirectoryError) with filename set, which is a FormatError too.");
  m.def("read_bytes", &ReadBytes, py::arg("data"),
          "Decodes a compiled file's bytes. Raises FormatError.");
  m.def(
      "write_bytes", [](const PyModel& model) { return py::bytes(ModelBytes(model.data)); }, py::arg("model"),
          "The model's file bytes, as write would store them.");
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
      py::arg("model"), py::arg("path"),
          "Writes the model's file bytes to path, through a checked temporary file. Raises OSError.");
  m.def(
      "validate",
      [](const PyModel& model) {
        std::vector<PyFinding> findings;
        for (const varndel::Finding& f : varndel::ValidateModel(*model.data)) {
          findings.push_back({f.severity == varndel::Severity::kError ? "error" : "warning", f.element, f.message});
        }
        return findings;
      },
      py::arg("model"),
          "Every finding, errors first, as `varndel-inspect check` judges the model; an empty list for a sound "
          "model.");
  m.def("optimize", &Optimize, py::arg("model"), py::kw_only(), py::arg("lods") = std::vector<float>{},
        py::arg("overdraw") = true, py::arg("anim_tolerance") = py::none(), py::arg("anim_distance") = py::none(),
        py::arg("keys_only") = false,
          "Orders every mesh for the GPU in place, as varndel-opt does, and returns one model per LOD ratio. "
          "With anim_tolerance T (model units) also drops the animation keys whose removal moves no node's "
          "origin, point at distance anim_distance along a node's axes (default: a tenth of the model's "
          "bounding-box diagonal) or skinned vertex by more than T, as varndel-opt --anim-tolerance does. "
          "keys_only=True (with anim_tolerance, without lods) leaves the meshes byte for byte and reduces the "
          "keys alone, as varndel-opt --keys-only. Raises ValueError for a ratio outside (0, 1], a tolerance "
          "or distance that is not a finite number >= 0, or a combination that means nothing. Warnings go to "
          "the warnings module. Arrays taken before keep the values from before.");
  m.def(
      "animation_error",
      [](const PyModel& original, const PyModel& reduced, const std::optional<double>& distance) {
        const float d = NonNegative(distance, "distance");
        const ModelData a = original.data, b = reduced.data;
        py::gil_scoped_release release;
        return varndel::MeasureAnimationError(*a, *b, d);
      },
      py::arg("original"), py::arg("reduced"), py::kw_only(), py::arg("distance") = py::none(),
          "The largest distance, in model units, between the poses of two models whose animations differ only "
          "in their keys (a file and its keys_only reduction): every node's origin and the points at distance "
          "along its axes (default: a tenth of original's bounding-box diagonal), and every skinned vertex, at "
          "every key time and midway between. inf when the models cannot be compared. Raises ValueError for a "
          "distance that is not a finite number >= 0.");
  m.def(
      "resolve_texture",
      [](const py::object& storedPath, const py::object& compiledFile) -> py::object {
        const std::optional<std::string> found =
            varndel::ResolveTexture(NameBytes(storedPath, "stored_path"), PathText(compiledFile));
        if (!found) return py::none();
        return Text(*found);
      },
      py::arg("stored_path"), py::arg("compiled_file"),
          "The file to open for a texture path that the compiled file stores, as the tools find it: \"*N\" in "
          "<stem>.textures/, any other path as stored (relative to the working directory, then to the compiled "
          "file's directory), then its extracted copy in <stem>.textures/. A LOD or optimised file "
          "(<stem>.lodN.<ext>, <stem>.opt.<ext>) also looks in the textures directory of the model it was made "
          "from. None when no such file exists. stored_path as Mesh.textures gives it (or its bytes); the "
          "result is str by surrogateescape, ready for open().");
}
