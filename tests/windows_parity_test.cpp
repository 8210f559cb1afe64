// The Windows build against this one: every example and fixture model,
// compiled by both with the same arguments, gives the same exit code, the
// same console text and log (CRLF line ends aside) and the same file bytes.
// Runs when VARNDEL_WINDOWS_EXE names the cross-built Varndel.exe and
// VARNDEL_WINE the Wine loader (tools/windows.sh sets both).
#include <gtest/gtest.h>
#include <varndel/reader.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>

#include "tests/test_support.h"

#ifndef _WIN32
namespace {

// Every "\n" as "\r\n": what a Windows text-mode stream writes.
std::string WithCrLf(const std::string& text) {
  std::string converted;
  for (char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
}

// A compiled file's floats in file order, with their field names, and
// everything else (counts, ids, indices, names, paths) as one string.
struct Flattened {
  std::vector<float> floats;
  std::vector<std::string> names;
  std::string exact;
};

template <typename T>
void AppendExact(Flattened& f, const T& value) {
  f.exact.append(reinterpret_cast<const char*>(&value), sizeof value);
}
void AppendExact(Flattened& f, const std::string& text) {
  AppendExact(f, text.size());
  f.exact += text;
}
template <size_t N>
void AppendFloats(Flattened& f, const std::string& name, const std::array<float, N>& values) {
  for (size_t i = 0; i < N; ++i) {
    f.floats.push_back(values[i]);
    f.names.push_back(name + "[" + std::to_string(i) + "]");
  }
}
void AppendFloat(Flattened& f, const std::string& name, float value) { AppendFloats(f, name, std::array{value}); }

template <typename Key>
void AppendKeys(Flattened& f, const std::string& name, const std::vector<Key>& keys) {
  AppendExact(f, keys.size());
  for (size_t k = 0; k < keys.size(); ++k) {
    const std::string at = name + "[" + std::to_string(k) + "]";
    if constexpr (std::is_same_v<Key, varndel::RotationKey>) {
      AppendFloats(f, at + ".orientation", keys[k].orientation);
    } else if constexpr (std::is_same_v<Key, varndel::PositionKey>) {
      AppendFloats(f, at + ".position", keys[k].position);
    } else {
      AppendFloats(f, at + ".scale", keys[k].scale);
    }
    AppendFloat(f, at + ".timeStamp", keys[k].timeStamp);
  }
}

Flattened Flatten(const varndel::Model& model) {
  Flattened f;
  AppendExact(f, model.animated);
  AppendExact(f, model.flipUVs);
  AppendExact(f, model.textureCount);
  AppendExact(f, model.meshes.size());
  for (size_t m = 0; m < model.meshes.size(); ++m) {
    const varndel::MeshData& mesh = model.meshes[m];
    AppendExact(f, mesh.vertices.size());
    for (size_t v = 0; v < mesh.vertices.size(); ++v) {
      const varndel::Vertex& vertex = mesh.vertices[v];
      const std::string at = "meshes[" + std::to_string(m) + "].vertices[" + std::to_string(v) + "]";
      AppendFloats(f, at + ".position", vertex.position);
      AppendFloats(f, at + ".normal", vertex.normal);
      AppendFloats(f, at + ".texCoords", vertex.texCoords);
      AppendFloats(f, at + ".tangent", vertex.tangent);
      AppendFloats(f, at + ".bitangent", vertex.bitangent);
      AppendExact(f, vertex.boneIDs);
      AppendFloats(f, at + ".weights", vertex.weights);
    }
    AppendExact(f, mesh.indices.size());
    f.exact.append(reinterpret_cast<const char*>(mesh.indices.data()), mesh.indices.size() * sizeof(uint32_t));
    for (const varndel::TextureRef& texture : mesh.textures) {
      AppendExact(f, texture.path);
      AppendExact(f, texture.type);
    }
  }
  const varndel::Animation& animation = model.animation;
  AppendFloat(f, "duration", animation.duration);
  AppendExact(f, animation.ticksPerSecond);
  AppendExact(f, animation.nodes.size());
  for (size_t n = 0; n < animation.nodes.size(); ++n) {
    AppendExact(f, animation.nodes[n].name);
    AppendExact(f, animation.nodes[n].parent);
    AppendExact(f, animation.nodes[n].childCount);
    AppendFloats(f, "nodes[" + std::to_string(n) + "].transformation", animation.nodes[n].transformation);
  }
  AppendExact(f, animation.tracks.size());
  for (size_t t = 0; t < animation.tracks.size(); ++t) {
    const varndel::Track& track = animation.tracks[t];
    const std::string at = "bone[" + std::to_string(t) + "]";
    AppendExact(f, track.name);
    AppendExact(f, track.id);
    AppendKeys(f, at + ".m_Positions", track.positions);
    AppendKeys(f, at + ".m_Rotations", track.rotations);
    AppendKeys(f, at + ".m_Scales", track.scales);
    AppendFloat(f, at + ".positionMaxTime", track.positionMaxTime);
    AppendFloat(f, at + ".rotationMaxTime", track.rotationMaxTime);
    AppendFloat(f, at + ".scaleMaxTime", track.scaleMaxTime);
  }
  AppendExact(f, animation.boneInfos.size());
  for (size_t b = 0; b < animation.boneInfos.size(); ++b) {
    AppendExact(f, animation.boneInfos[b].name);
    AppendExact(f, animation.boneInfos[b].id);
    AppendFloats(f, "boneInfos[" + std::to_string(b) + "].offset", animation.boneInfos[b].offset);
  }
  return f;
}

// Within 4 units in the last place, or 2^-24 apart (half an ulp at 1.0, for
// components of unit quaternions that cancel towards zero). NaN matches only
// the same NaN.
bool NearlyEqual(float a, float b) {
  if (std::memcmp(&a, &b, sizeof a) == 0) return true;
  if (std::isnan(a) || std::isnan(b)) return false;
  const float magnitude = std::max(std::fabs(a), std::fabs(b));
  const float ulp = std::nextafter(magnitude, INFINITY) - magnitude;
  return std::fabs(a - b) <= std::max(4 * ulp, 0x1p-24f);
}

// Compares two compiled files field by field; names the fields whose floats
// differ in their last bits.
void ExpectNearlyEqualFiles(const fs::path& linuxFile, const fs::path& windowsFile) {
  varndel::Model linuxModel, windowsModel;
  varndel::ReadError error;
  ASSERT_TRUE(varndel::ReadModelFile(linuxFile.string(), linuxModel, &error)) << varndel::FormatReadError(error);
  ASSERT_TRUE(varndel::ReadModelFile(windowsFile.string(), windowsModel, &error)) << varndel::FormatReadError(error);
  const Flattened a = Flatten(linuxModel);
  const Flattened b = Flatten(windowsModel);
  ASSERT_EQ(a.exact, b.exact) << "counts, ids, indices, names or paths differ";
  ASSERT_EQ(a.floats.size(), b.floats.size());
  std::string lastBits;
  for (size_t i = 0; i < a.floats.size(); ++i) {
    EXPECT_TRUE(NearlyEqual(a.floats[i], b.floats[i]))
        << a.names[i] << ": " << a.floats[i] << " (Linux) against " << b.floats[i] << " (Windows)";
    if (std::memcmp(&a.floats[i], &b.floats[i], sizeof(float)) != 0) lastBits += " " + a.names[i];
  }
  if (!lastBits.empty())
    std::cout << windowsFile.filename().string() << ": last-bit differences in" << lastBits << "\n";
}

bool IsModelFile(const fs::path& path) {
  static const std::set<std::string> kModelExtensions = {".obj", ".gltf", ".glb", ".bvh", ".fbx",    ".dae",
                                                         ".ply", ".stl",  ".3ds", ".x",   ".md5mesh"};
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return kModelExtensions.count(extension) > 0;
}

// Formats whose Euler angles Assimp turns into rotations with the C maths
// library, which may round differently in the last bit on each platform.
bool MayDifferInLastBits(const fs::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".bvh" || extension == ".fbx";
}

std::vector<fs::path> FilesBelow(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), dir));
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

TEST(WindowsParity, ExamplesAndFixturesCompileToTheSameBytes) {
  const char* windowsExe = std::getenv("VARNDEL_WINDOWS_EXE");
  const char* wine = std::getenv("VARNDEL_WINE");
  if (windowsExe == nullptr || wine == nullptr) GTEST_SKIP() << "VARNDEL_WINDOWS_EXE and VARNDEL_WINE not set";

  int compared = 0;
  for (const fs::path& source : {fs::path(VARNDEL_EXAMPLES), fs::path(VARNDEL_FIXTURES)}) {
    for (const fs::path& model : FilesBelow(source)) {
      if (!IsModelFile(model)) continue;
      for (const std::vector<std::string>& switches : {std::vector<std::string>{"0", "0"}, {"1", "1"}}) {
        SCOPED_TRACE(model.string() + " " + switches[0] + " " + switches[1]);
        ScratchDir linuxDir, windowsDir;
        fs::copy(source, linuxDir.path / "m", fs::copy_options::recursive);
        fs::copy(source, windowsDir.path / "m", fs::copy_options::recursive);
        const std::vector<std::string> args{switches[0], switches[1], "m/" + model.generic_string()};
        const RunResult linuxRun = RunVarndel(args, linuxDir.path);
        std::vector<std::string> wineArgs{windowsExe};
        wineArgs.insert(wineArgs.end(), args.begin(), args.end());
        const RunResult windowsRun = RunProcess(wine, wineArgs, windowsDir.path);

        EXPECT_EQ(windowsRun.exitCode, linuxRun.exitCode);  // Wine passes on the low 8 bits
        EXPECT_EQ(windowsRun.out, WithCrLf(linuxRun.out));
        EXPECT_EQ(windowsRun.err, WithCrLf(linuxRun.err));
        const std::vector<fs::path> files = FilesBelow(linuxDir.path);
        ASSERT_EQ(FilesBelow(windowsDir.path), files);
        for (const fs::path& file : files) {
          const std::string linuxBytes = ReadFile(linuxDir.path / file);
          const std::string windowsBytes = ReadFile(windowsDir.path / file);
          if (file == fs::path("Logs/Log.txt")) {
            EXPECT_EQ(windowsBytes, WithCrLf(linuxBytes));
          } else if (linuxBytes != windowsBytes && MayDifferInLastBits(model)) {
            ExpectNearlyEqualFiles(linuxDir.path / file, windowsDir.path / file);
          } else {
            EXPECT_TRUE(linuxBytes == windowsBytes) << file << " differs";
          }
        }
        ++compared;
      }
    }
  }
  EXPECT_GE(compared, 10);
}

// varndel-opt.exe against this build's varndel-opt on the same compiled
// files: the same optimised files and LOD levels, byte for byte.
TEST(WindowsParity, OptimisedFilesAreTheSame) {
  const char* windowsOpt = std::getenv("VARNDEL_WINDOWS_OPT_EXE");
  const char* wine = std::getenv("VARNDEL_WINE");
  if (windowsOpt == nullptr || wine == nullptr) GTEST_SKIP() << "VARNDEL_WINDOWS_OPT_EXE and VARNDEL_WINE not set";
  ScratchDir dir;
  fs::copy(fs::path(VARNDEL_FIXTURES), dir.path / "m", fs::copy_options::recursive);
  fs::copy(fs::path(VARNDEL_EXAMPLES), dir.path / "e", fs::copy_options::recursive);
  const std::vector<std::vector<std::string>> compiles = {
      {"1", "0", "m/skinned.gltf"}, {"0", "1", "m/materials.obj"}, {"0", "0", "e/crate.obj"}};
  for (const std::vector<std::string>& args : compiles) {
    SCOPED_TRACE(args[2]);
    ASSERT_EQ(RunVarndel(args, dir.path).exitCode, 0);
    const fs::path source(args[2]);
    const fs::path compiled =
        source.parent_path() / (source.stem().string() + (args[0] == "1" ? ".animbin" : ".staticbin"));
    const std::string stem = compiled.stem().string(), extension = compiled.extension().string();
    fs::create_directories(dir.path / "linux");
    fs::create_directories(dir.path / "windows");
    const std::vector<std::string> options{"--lod", "0.5", "--lod", "0.2"};
    std::vector<std::string> linuxArgs{compiled.string(), "-o", "linux/" + stem + extension};
    linuxArgs.insert(linuxArgs.end(), options.begin(), options.end());
    std::vector<std::string> windowsArgs{windowsOpt, compiled.string(), "-o", "windows/" + stem + extension};
    windowsArgs.insert(windowsArgs.end(), options.begin(), options.end());
    ASSERT_EQ(RunProcess(VARNDEL_OPT_EXE, linuxArgs, dir.path).exitCode, 0);
    const RunResult windowsRun = RunProcess(wine, windowsArgs, dir.path);
    ASSERT_EQ(windowsRun.exitCode, 0) << windowsRun.err;
    // The same files (a level that would repeat the one before ends the
    // chain on both), with the same bytes.
    EXPECT_TRUE(fs::exists(dir.path / "linux" / (stem + ".lod1" + extension)));
    for (const char* side : {"linux", "windows"}) {
      for (const auto& entry : fs::directory_iterator(dir.path / side)) {
        const fs::path name = entry.path().filename();
        EXPECT_TRUE(ReadFile(dir.path / "linux" / name) == ReadFile(dir.path / "windows" / name) &&
                    fs::exists(dir.path / "linux" / name) && fs::exists(dir.path / "windows" / name))
            << name << " differs";
      }
    }
  }
}
#endif
