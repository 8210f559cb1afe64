// The reader library against files the compiler writes (every value comes
// back exactly), against every truncation of real files, and against hostile
// counts that must fail quickly without large allocations.
#include <gtest/gtest.h>
#include <varndel/reader.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/model.h"
#include "tests/read_agreement.h"
#include "tests/test_support.h"

namespace {

template <typename T>
bool SameBytes(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

bool SameMatrix(const Mat4& a, const Mat4& b) { return std::memcmp(a.data(), b.data(), sizeof(Mat4)) == 0; }

// Every value of the container must come back from the file bit for bit.
void ExpectSameModel(const ModelContainer& mc, const varndel::Model& model) {
  EXPECT_EQ(model.animated, mc.isAnimatedModel);
  EXPECT_EQ(model.flipUVs, mc.flipUVs);
  EXPECT_EQ(model.textureCount, mc.loadedTextures.size());
  ASSERT_EQ(model.meshes.size(), mc.meshes.size());
  for (size_t m = 0; m < mc.meshes.size(); ++m) {
    const Mesh& own = mc.meshes[m];
    const varndel::MeshData& read = model.meshes[m];
    EXPECT_TRUE(SameBytes(read.vertices, own.vertices)) << "mesh " << m;
    EXPECT_TRUE(SameBytes(read.indices, own.indices)) << "mesh " << m;
    ASSERT_EQ(read.textures.size(), own.textures.size());
    size_t t = 0;
    for (const auto& [path, type] : own.textures) {
      EXPECT_EQ(read.textures[t].path, path);
      EXPECT_EQ(read.textures[t].type, static_cast<uint8_t>(type));
      ++t;
    }
  }
  if (!mc.isAnimatedModel) return;

  const varndel::Animation& anim = model.animation;
  EXPECT_EQ(anim.duration, mc.animDuration);
  EXPECT_EQ(anim.ticksPerSecond, mc.TicksPerSecond);
  // The container's tree in pre-order, with parent indices.
  std::vector<std::pair<const HierarchyNode*, int32_t>> pending{{&mc.rootNode, -1}};
  size_t i = 0;
  while (!pending.empty()) {
    const auto [node, parent] = pending.back();
    pending.pop_back();
    ASSERT_LT(i, anim.nodes.size());
    EXPECT_EQ(anim.nodes[i].name, node->name);
    EXPECT_TRUE(SameMatrix(anim.nodes[i].transformation, node->transformation)) << "node " << i;
    EXPECT_EQ(anim.nodes[i].parent, parent) << "node " << i;
    EXPECT_EQ(anim.nodes[i].childCount, node->childrenCount) << "node " << i;
    for (size_t c = node->children.size(); c-- > 0;) pending.push_back({&node->children[c], static_cast<int32_t>(i)});
    ++i;
  }
  EXPECT_EQ(anim.nodes.size(), i);

  ASSERT_EQ(anim.tracks.size(), mc.bones.size());
  for (size_t b = 0; b < mc.bones.size(); ++b) {
    const Bone& own = mc.bones[b];
    const varndel::Track& read = anim.tracks[b];
    EXPECT_EQ(read.name, own.m_Name);
    EXPECT_EQ(read.id, own.m_ID);
    EXPECT_TRUE(SameBytes(read.positions, own.m_Positions)) << "bone " << b;
    EXPECT_TRUE(SameBytes(read.rotations, own.m_Rotations)) << "bone " << b;
    EXPECT_TRUE(SameBytes(read.scales, own.m_Scales)) << "bone " << b;
    EXPECT_EQ(read.positionMaxTime, own.m_PosKeyMaxTime);
    EXPECT_EQ(read.rotationMaxTime, own.m_RotKeyMaxTime);
    EXPECT_EQ(read.scaleMaxTime, own.m_ScaleKeyMaxTime);
  }
  ASSERT_EQ(anim.boneInfos.size(), mc.boneInfoMap.size());
  size_t b = 0;
  for (const auto& [name, info] : mc.boneInfoMap) {
    EXPECT_EQ(anim.boneInfos[b].name, name);
    EXPECT_EQ(anim.boneInfos[b].id, info.ID);
    EXPECT_TRUE(SameMatrix(anim.boneInfos[b].offset, info.offset));
    ++b;
  }
}

varndel::Model ReadOrFail(const std::string& bytes) {
  varndel::Model model;
  varndel::ReadError error;
  EXPECT_TRUE(varndel::ReadModel(bytes.data(), bytes.size(), model, &error)) << varndel::FormatReadError(error);
  return model;
}

std::string SerializeOrFail(const ModelContainer& mc) {
  std::string bytes;
  EXPECT_EQ(SerializeModel(mc, bytes), kSuccess);
  return bytes;
}

// An animated container with every kind of field, odd values included: a
// name with a zero byte, a NaN, a negative id, keys in several tracks.
ModelContainer AnimatedContainer() {
  ModelContainer mc;
  mc.isAnimatedModel = true;
  mc.flipUVs = true;
  mc.loadedTextures = {"a.png", "dir\\b.png"};
  Vertex v;
  v.position = {1.5f, -2.0f, std::numeric_limits<float>::quiet_NaN()};
  v.boneIDs = {0, 1, -1, -1};
  v.weights = {0.25f, 0.75f, 0.0f, 0.0f};
  mc.meshes.emplace_back(std::vector<Vertex>{v, Vertex{}, v}, std::vector<uint32_t>{0, 1, 2, 2, 1, 0},
                         TextureMap{{"a.png", 1}, {"dir\\b.png", 6}});
  mc.meshes.emplace_back();  // an empty mesh between the sections
  mc.animDuration = 48.0f;
  mc.TicksPerSecond = 24.0;
  mc.rootNode.name = "Root";
  mc.rootNode.transformation[0] = 1.0f;
  mc.rootNode.children.resize(2);
  mc.rootNode.childrenCount = 2;
  mc.rootNode.children[0].name = std::string("Arm\0x", 5);
  mc.rootNode.children[0].transformation[12] = 3.0f;
  mc.rootNode.children[0].children.resize(1);
  mc.rootNode.children[0].childrenCount = 1;
  mc.rootNode.children[0].children[0].name = "Hand";
  mc.rootNode.children[1].name = "";
  Bone arm;
  arm.m_Name = "Arm";
  arm.m_ID = 0;
  arm.m_Positions = {{{1, 2, 3}, 0.0f}, {{4, 5, 6}, 24.0f}};
  arm.m_Rotations = {{{0, 0, 0, 1}, 0.0f}};
  arm.m_Scales = {};
  arm.m_PosKeyMaxTime = 24.0f;
  Bone hand;
  hand.m_Name = "Hand";
  hand.m_ID = -7;
  hand.m_Scales = {{{2, 2, 2}, 48.0f}};
  hand.m_ScaleKeyMaxTime = 48.0f;
  mc.bones = {arm, hand};
  mc.boneInfoMap["Arm"] = BoneInfo{0, {}};
  mc.boneInfoMap["Hand"] = BoneInfo{1, {}};
  mc.boneInfoMap["Hand"].offset[5] = -1.0f;
  return mc;
}

ModelContainer StaticContainer() {
  ModelContainer mc = AnimatedContainer();
  mc.isAnimatedModel = false;
  mc.flipUVs = false;
  return mc;
}

TEST(ReaderRoundTrip, InMemoryModelsComeBackExactly) {
  for (const ModelContainer& mc : {StaticContainer(), AnimatedContainer(), ModelContainer{}}) {
    SCOPED_TRACE(mc.isAnimatedModel ? "animated" : "static");
    ExpectSameModel(mc, ReadOrFail(SerializeOrFail(mc)));
  }
}

// The examples, compiled by the real binary, against the container an
// in-process import of the same model builds.
TEST(ReaderRoundTrip, CompiledExamplesComeBackExactly) {
  const struct {
    const char* model;
    const char* animated;
    const char* flip;
    const char* output;
  } cases[] = {{"crate.obj", "0", "0", "crate.staticbin"},
               {"crate.obj", "0", "1", "crate.staticbin"},
               {"walker.gltf", "1", "0", "walker.animbin"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    ScratchDir dir;
    fs::copy(ExamplePath(c.model), dir.path / c.model);
    if (fs::exists(ExamplePath("crate.mtl"))) fs::copy(ExamplePath("crate.mtl"), dir.path / "crate.mtl");
    ASSERT_EQ(RunVarndel({c.animated, c.flip, c.model}, dir.path).exitCode, 0);

    // Imported as the binary was given it: relative, in its directory, so
    // that the stored texture paths agree.
    ModelContainer mc;
    const char* argv[] = {"Varndel", c.animated, c.flip, c.model};
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path);
    {
      CaptureStdout quiet;
      EXPECT_EQ(ParseArguments(4, argv, mc), kSuccess);
      EXPECT_EQ(LoadModel(mc), kSuccess);
    }
    fs::current_path(cwd);
    varndel::Model model;
    varndel::ReadError error;
    ASSERT_TRUE(varndel::ReadModelFile((dir.path / c.output).string(), model, &error))
        << varndel::FormatReadError(error);
    ExpectSameModel(mc, model);
  }
}

// Every proper prefix of a real file fails cleanly, inside the prefix, naming
// a field; one extra byte fails at the old end.
TEST(ReaderDamage, EveryTruncationAndTrailingByteIsAnError) {
  ScratchDir dir;
  for (const ModelContainer& mc : {StaticContainer(), AnimatedContainer()}) {
    const std::string bytes = SerializeOrFail(mc);
    for (size_t length = 0; length < bytes.size(); ++length) {
      varndel::Model model;
      varndel::ReadError error;
      ASSERT_FALSE(varndel::ReadModel(bytes.data(), length, model, &error)) << "length " << length;
      EXPECT_LE(error.offset, length);
      EXPECT_FALSE(error.field.empty()) << "length " << length;
      EXPECT_TRUE(model.meshes.empty() && model.animation.nodes.empty());
      ExpectOneVerdict(bytes.substr(0, length), dir.path / "cut.bin");
    }
    varndel::Model model;
    varndel::ReadError error;
    const std::string longer = bytes + '\0';
    ASSERT_FALSE(varndel::ReadModel(longer.data(), longer.size(), model, &error));
    EXPECT_EQ(varndel::FormatReadError(error), "offset " + std::to_string(bytes.size()) +
                                                   ", end: 1 byte follow the last section, where the file must end");
  }
}

// A static header, then the bytes of one mesh section starting with the counts given.
Bytes StaticHeader(uint64_t meshes) {
  Bytes b;
  b.u8(0).u8(0).u64(meshes).u16(0);
  return b;
}

// An animated file without meshes up to its hierarchy.
Bytes AnimatedPrefix() {
  Bytes b;
  b.u8(1).u8(0).u64(0).u16(0).f32(10.0f).f64(25.0);
  return b;
}

Bytes& NodeRecord(Bytes& b, const std::string& name, uint32_t children) {
  b.zeros(64).u32(static_cast<uint32_t>(name.size())).raw(name).u32(children);
  return b;
}

TEST(ReaderDamage, HostileFieldsNameOffsetFieldAndReason) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* expected;
  };
  Bytes bigMesh = StaticHeader(1);
  bigMesh.u32(4000000000u).zeros(84);  // a 100-byte file
  Bytes bigIndices = StaticHeader(1);
  bigIndices.u32(0).u32(4000000000u).zeros(10);
  Bytes longPath = StaticHeader(1);
  longPath.u32(0).u32(0).u16(1).u16(65535).raw("a.png").u8(1);
  Bytes manyChildren = AnimatedPrefix();
  NodeRecord(manyChildren, "Root", 4294967295u).u8(0).u8(0);
  Bytes missingChild = AnimatedPrefix();
  NodeRecord(missingChild, "Root", 1);
  NodeRecord(missingChild, "A", 1).u8(0).u8(0);
  Bytes negativeKeys = AnimatedPrefix();
  NodeRecord(negativeKeys, "Root", 0).u8(1).i32(-1).zeros(30);
  Bytes manyKeys = AnimatedPrefix();
  NodeRecord(manyKeys, "Root", 0).u8(1).i32(0).i32(0x7fffffff).zeros(40);
  Bytes longNodeName = AnimatedPrefix();
  longNodeName.zeros(64).u32(4294967295u).zeros(10);
  Bytes manyBones = AnimatedPrefix();
  NodeRecord(manyBones, "Root", 0).u8(255).u8(0);

  const Case cases[] = {
      {"empty file", "", "offset 0, IsAnimatedModel: needs 1 byte but only 0 bytes remain"},
      {"kind byte 2", std::string("\x02\x00", 2) + std::string(10, '\0'),
       "offset 0, IsAnimatedModel: is 2 but must be 0 or 1"},
      {"flip byte 7", std::string("\x00\x07", 2) + std::string(10, '\0'), "offset 1, FlipUVs: is 7 but must be 0 or 1"},
      {"mesh count", StaticHeader(~uint64_t{0}).data,
       "offset 2, meshes: announces 18446744073709551615 meshes of at least 10 bytes each but only 2 bytes remain"},
      {"4 billion vertices in 100 bytes", bigMesh.data,
       "offset 12, meshes[0].vertices: announces 4000000000 vertices of 88 bytes each but only 84 bytes remain"},
      {"4 billion indices", bigIndices.data,
       "offset 16, meshes[0].indices: announces 4000000000 indices of 4 bytes each but only 10 bytes remain"},
      {"texture path longer than the file", longPath.data,
       "offset 22, meshes[0].textures[0].path: announces a length of 65535 bytes but only 6 bytes remain"},
      {"4 billion children", manyChildren.data,
       "offset 96, nodes[0].childrenCount: announces 4294967295 further nodes of at least 72 bytes each but only 2 "
       "bytes remain"},
      {"a child that the file lacks", missingChild.data,
       "offset 169, nodes[1].childrenCount: announces 1 further node of at least 72 bytes each but only 2 bytes "
       "remain"},
      {"negative key count", negativeKeys.data, "offset 101, bones[0].m_NumPositions: is -1 but must not be negative"},
      {"2 billion rotation keys", manyKeys.data,
       "offset 105, bones[0].m_Rotations: announces 2147483647 keys of 20 bytes each but only 40 bytes remain"},
      {"node name longer than the file", longNodeName.data,
       "offset 88, nodes[0].name: announces a length of 4294967295 bytes but only 10 bytes remain"},
      {"255 bones in 2 bytes", manyBones.data,
       "offset 100, bones: announces 255 bones of at least 30 bytes each but only 1 byte remains"},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    varndel::Model model;
    varndel::ReadError error;
    EXPECT_FALSE(varndel::ReadModel(c.bytes.data(), c.bytes.size(), model, &error)) << c.name;
    EXPECT_EQ(varndel::FormatReadError(error), c.expected) << c.name;
    SCOPED_TRACE(c.name);
    ExpectOneVerdict(c.bytes, dir.path / "hostile.bin");
  }
}

// A chain a million nodes deep is read without recursion, with its parents;
// the same chain with one child too few announced at the bottom fails.
TEST(ReaderDamage, MillionLevelChain) {
  constexpr uint32_t kDepth = 1000000;
  Bytes chain = AnimatedPrefix();
  for (uint32_t i = 0; i < kDepth; ++i) NodeRecord(chain, "n", i + 1 < kDepth ? 1 : 0);
  chain.u8(0).u8(0);

  const varndel::Model model = ReadOrFail(chain.data);
  ASSERT_EQ(model.animation.nodes.size(), kDepth);
  EXPECT_EQ(model.animation.nodes[0].parent, -1);
  EXPECT_EQ(model.animation.nodes[kDepth - 1].parent, static_cast<int32_t>(kDepth - 2));

  std::string cut = chain.data;
  const size_t lastChildCount = cut.size() - 2 - 4;
  cut[lastChildCount] = 1;  // the deepest node now announces a child the file lacks
  varndel::Model broken;
  varndel::ReadError error;
  EXPECT_FALSE(varndel::ReadModel(cut.data(), cut.size(), broken, &error));
  EXPECT_EQ(error.field, "nodes[999999].childrenCount");
  EXPECT_EQ(error.offset, lastChildCount);
}

TEST(ReaderFile, UnreadablePathsFailAtOffsetZero) {
  ScratchDir dir;
  varndel::Model model;
  varndel::ReadError error;
  EXPECT_FALSE(varndel::ReadModelFile((dir.path / "missing.staticbin").string(), model, &error));
  EXPECT_EQ(error.offset, 0u);
  EXPECT_NE(error.message.find("no such file"), std::string::npos) << error.message;
  EXPECT_FALSE(varndel::ReadModelFile(dir.path.string(), model, &error));
  EXPECT_NE(error.message.find("is a directory"), std::string::npos) << error.message;
  EXPECT_FALSE(varndel::ReadModel(nullptr, 0, model, nullptr));
}

}  // namespace
