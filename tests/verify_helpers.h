// Helpers for the read-back verifier tests: small containers, running the
// verifier on a byte image, and the expected console report.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "model/model.h"
#include "tests/test_support.h"

inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Report {
  bool mismatch = false;
  std::string text;
};

inline std::string ImageOf(const ModelContainer& mc) {
  std::string image;
  EXPECT_EQ(SerializeModel(mc, image), 0);
  return image;
}

template <typename T>
void Patch(std::string& image, size_t offset, T value) {
  std::memcpy(image.data() + offset, &value, sizeof(T));
}

// Writes image into a scratch file and verifies it against mc.
inline Report VerifyImage(const ModelContainer& mc, const std::string& image) {
  ScratchDir dir;
  const std::string path = (dir.path / "model.bin").string();
  WriteFile(path, image);
  std::ostringstream out;
  const bool mismatch = VerifyModelFile(path, mc, out);
  return {mismatch, out.str()};
}

// As VerifyImage, but in a child process within budget bytes of address
// space and a minute (RunInChild), so that an allocation sized by a hostile
// count, a runaway loop or a stack overflow fails there and is reported here.
inline Report VerifyImageWithin(const ModelContainer& mc, const std::string& image, size_t budget) {
  ScratchDir dir;
  const fs::path input = dir.path / "model.bin";
  const fs::path output = dir.path / "report.txt";
  WriteFile(input, image);
  const int status = RunInChild(
      [&] {
        try {
          std::ostringstream out;
          const bool mismatch = VerifyModelFile(input.string(), mc, out);
          WriteFile(output, (mismatch ? "1" : "0") + out.str());
        } catch (...) {
          return 3;
        }
        return 0;
      },
      budget);
  EXPECT_EQ(status, 0) << "the verifier failed: " << DescribeChildStatus(status);
  const std::string saved = ReadFile(output);
  if (saved.empty()) return {};
  return {saved[0] == '1', saved.substr(1)};
}

// ---------------------------------------------------------------------------
// Containers

// One mesh of two vertices, three indices and two textures. File offsets:
inline constexpr size_t kVertexSize = 88;
inline constexpr size_t kVerticesAt = 16;
inline constexpr size_t kNumIndAt = kVerticesAt + 2 * kVertexSize;  // 192
inline constexpr size_t kNumTexAt = kNumIndAt + 4 + 3 * 4;          // 208
inline constexpr size_t kFirstPathAt = kNumTexAt + 2 + 2;           // 212

inline ModelContainer StaticModel() {
  Vertex v0;
  v0.position = {0.5f, 0, 0};
  v0.normal = {0, 0, 1};
  v0.texCoords = {0.5f, 1};
  v0.tangent = {1, 0, 0};
  v0.bitangent = {0, 1, 0};
  Vertex v1;
  v1.position = {1, 2, 3};
  v1.normal = {0, 1, 0};
  v1.texCoords = {0.25f, 0.75f};
  v1.tangent = {0, 0, 1};
  v1.bitangent = {1, 0, 0};
  ModelContainer mc;
  mc.outputFileName = "model.staticbin";
  mc.meshes.emplace_back(std::vector<Vertex>{v0, v1}, std::vector<uint32_t>{0, 1, 1},
                         TextureMap{{"tex\\a.png", 1}, {"tex\\b.png", 2}});
  mc.loadedTextures = {"tex\\a.png", "tex\\b.png"};
  return mc;
}

inline HierarchyNode Node(const std::string& name, float translation = 0, std::vector<HierarchyNode> children = {}) {
  HierarchyNode node;
  node.transformation = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, translation, 0, 0, 1};
  node.name = name;
  node.childrenCount = static_cast<uint32_t>(children.size());
  node.children = std::move(children);
  return node;
}

inline Bone BoneTrack(const std::string& name, int32_t id) {
  const float k = static_cast<float>(id);
  Bone bone;
  bone.m_Positions = {{{k, 0, 0}, 0.25f}, {{k, 1, 0}, 1.0f}};
  bone.m_Rotations = {{{0, 0, 0, 1}, 0.5f}};
  bone.m_Scales = {{{1, 1, 1}, 0.75f}};
  bone.m_NumPositions = 2;
  bone.m_NumRotations = 1;
  bone.m_NumScalings = 1;
  bone.m_PosKeyMaxTime = 1.0f + k;
  bone.m_RotKeyMaxTime = 0.5f;
  bone.m_ScaleKeyMaxTime = 0.75f;
  bone.m_Name = name;
  bone.m_ID = id;
  return bone;
}

// No meshes: Root with children Hips (child Spine) and Tail, three bones, three
// bone-info entries.
inline ModelContainer AnimatedModel() {
  ModelContainer mc;
  mc.isAnimatedModel = true;
  mc.outputFileName = "model.animbin";
  mc.animDuration = 2.5f;
  mc.TicksPerSecond = 30.0;
  mc.rootNode = Node("Root", 0, {Node("Hips", 1, {Node("Spine", 2)}), Node("Tail", 3)});
  mc.bones = {BoneTrack("Hips", 0), BoneTrack("Spine", 1), BoneTrack("Tail", 2)};
  mc.boneInfoMap["Hips"] = {0, Node("", 0.5f).transformation};
  mc.boneInfoMap["Spine"] = {1, Node("", 1.5f).transformation};
  mc.boneInfoMap["Tail"] = {2, Node("", 2.5f).transformation};
  mc.boneCounter = 3;
  return mc;
}

// ---------------------------------------------------------------------------
// Expected report

inline const std::string kStart = "\n// TESTING READ BIN FILE...\n\033[31m";
inline const std::string kHeaderGucci = "\033[32m// - BIN FILE HEADER IS GUCCI\033[0m\n";
inline const std::string kGucci = "\033[32m// - BIN FILE IS GUCCI GUCCI GUCCI\033[0m\n\033[0m";
inline const std::string kProblem = "\033[31m// - BIN FILE GOT PROBLEM!!!!!!!!!!!\033[0m\n\033[0m";

inline std::string StatusLine(const std::string& what, bool ok) {
  return ok ? "\033[33mDEBUG: Current mesh " + what + " data OK.\033[0m\n"
            : "\033[35mDEBUG: Current mesh " + what + " data DOES NOT MATCH.\033[0m\n";
}

// The lines a mesh section prints before each of its three status lines.
struct MeshLines {
  std::string vertices = "";
  std::string indices = "";
  std::string textures = "";
};

// The lines the animation sections print, in their places.
struct AnimationLines {
  std::string timing = "";     // animDuration, TicksPerSecond
  std::string hierarchy = "";  // before the hierarchy status line
  std::string boneCount = "";
  std::string bones = "";
  std::string infoCount = "";
  std::string infos = "";
};

// Builds a report section by section. Status lines and the verdict read OK
// as long as no problem line has come before them; the hierarchy status line
// looks at the hierarchy lines alone.
struct ExpectedReport {
  std::string text = kStart;
  bool problem = false;

  ExpectedReport& add(const std::string& lines) {
    text += lines;
    problem = problem || !lines.empty();
    return *this;
  }
  ExpectedReport& header(const std::string& lines = "") {
    add(lines);
    if (!problem) text += kHeaderGucci;
    text += "\033[31m";
    return *this;
  }
  ExpectedReport& mesh(const MeshLines& lines = {}) {
    add(lines.vertices);
    text += StatusLine("vertices", !problem);
    add(lines.indices);
    text += StatusLine("indices", !problem);
    add(lines.textures);
    text += StatusLine("textures", !problem);
    return *this;
  }
  ExpectedReport& animation(const AnimationLines& lines = {}) {
    add(lines.timing).add(lines.hierarchy);
    text += StatusLine("anim hierarchy", lines.hierarchy.empty()) + "\033[31m";
    add(lines.boneCount);
    text += "\033[95m";
    add(lines.bones);
    text += "\033[31m";
    add(lines.infoCount).add(lines.infos);
    text += StatusLine("bone", !problem);
    return *this;
  }
  std::string end() const { return text + (problem ? kProblem : kGucci); }
};
