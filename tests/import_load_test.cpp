// Scene import: Assimp flags, reading model files, scene checks, the node
// walk and mesh extraction.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <functional>

#include "model/model.h"
#include "tests/import_scene_builder.h"
#include "tests/test_support.h"

namespace {

TEST(ImportFlags, AddsFlipUVsOnlyWhenAsked) {
  EXPECT_EQ(ImportFlags(false), 73u);
  EXPECT_EQ(ImportFlags(true), 8388681u);
}

TEST(ToColumnMajor, TransposesAssimpsRowMajorMatrix) {
  const aiMatrix4x4 m(1, 2, 3, 4,  // a1..a4
                      5, 6, 7, 8,  // b1..b4
                      9, 10, 11, 12, 13, 14, 15, 16);
  const Mat4 expected{1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 4, 8, 12, 16};
  EXPECT_EQ(ToColumnMajor(m), expected);

  aiMatrix4x4 translation;
  aiMatrix4x4::Translation(aiVector3D(1, 2, 3), translation);
  const Mat4 t = ToColumnMajor(translation);
  EXPECT_EQ((std::array<float, 3>{t[12], t[13], t[14]}), (std::array<float, 3>{1, 2, 3}));
}

float MarkerOf(const Mesh& mesh) { return mesh.vertices.at(0).position[0]; }

TEST(ConvertScene, WalksDepthFirstMeshesBeforeChildrenOncePerReference) {
  // root: mesh 0; children a (meshes 1, 2), a null entry, b (mesh 0 again).
  // Mesh 3 is referenced by no node and is null: never looked at.
  aiNode* a = MakeNode("a", {1, 2});
  aiNode* b = MakeNode("b", {0});
  ScenePtr scene(
      MakeScene(MakeNode("root", {0}, {a, nullptr, b}), {MakeMesh(0, 1), MakeMesh(1, 1), MakeMesh(2, 1), nullptr}));
  ModelContainer mc;
  mc.inputFile = "Models/Hero.fbx";
  mc.modelDirectory = "stale";

  ASSERT_EQ(ConvertScene(*scene, mc), 0);
  std::vector<float> order;
  for (const Mesh& mesh : mc.meshes) order.push_back(MarkerOf(mesh));
  EXPECT_EQ(order, (std::vector<float>{0, 1, 2, 0}));
  EXPECT_EQ(mc.modelDirectory, "Models");
}

TEST(ConvertScene, CopiesVertexAttributesAndZerosMissingOnes) {
  aiMesh* full = MakeMesh(0, 2);
  full->mNormals = new aiVector3D[2]{{0, 0, 1}, {0, 1, 0}};
  full->mTextureCoords[0] = new aiVector3D[2]{{0.25f, 0.75f, 9}, {1, 0, 9}};  // third component unused
  full->mNumUVComponents[0] = 3;
  full->mTangents = new aiVector3D[2]{{1, 0, 0}, {0, 0, 1}};
  full->mBitangents = new aiVector3D[2]{{0, 1, 0}, {1, 0, 0}};
  aiMesh* bare = MakeMesh(1, 2);
  bare->mTextureCoords[1] = new aiVector3D[2]{{5, 5, 0}, {5, 5, 0}};  // only channel 0 counts
  bare->mTangents = new aiVector3D[2]{{1, 0, 0}, {1, 0, 0}};          // useless without bitangents
  ScenePtr scene(MakeScene(MakeNode("root", {0, 1}), {full, bare}));
  ModelContainer mc;

  ASSERT_EQ(ConvertScene(*scene, mc), 0);
  ASSERT_EQ(mc.meshes.size(), 2u);
  const std::vector<Vertex>& f = mc.meshes[0].vertices;
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[1].position, (Vec3{0, 1, 0}));
  EXPECT_EQ(f[1].normal, (Vec3{0, 1, 0}));
  EXPECT_EQ(f[0].texCoords, (Vec2{0.25f, 0.75f}));
  EXPECT_EQ(f[1].tangent, (Vec3{0, 0, 1}));
  EXPECT_EQ(f[1].bitangent, (Vec3{1, 0, 0}));
  for (const Vertex& v : mc.meshes[1].vertices) {
    EXPECT_EQ(v.normal, (Vec3{0, 0, 0}));
    EXPECT_EQ(v.texCoords, (Vec2{0, 0}));
    EXPECT_EQ(v.tangent, (Vec3{0, 0, 0}));
    EXPECT_EQ(v.bitangent, (Vec3{0, 0, 0}));
  }
}

TEST(ConvertScene, AppendsIndicesFaceAfterFaceAsTheyCome) {
  // A triangle, a line, a point, and indices beyond the vertex count: kept.
  ScenePtr scene(MakeScene(MakeNode("root", {0}), {MakeMesh(0, 6, {{0, 1, 2}, {3, 4}, {5}, {9, 7, 8}})}));
  ModelContainer mc;
  ASSERT_EQ(ConvertScene(*scene, mc), 0);
  EXPECT_EQ(mc.meshes.at(0).indices, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 9, 7, 8}));
}

// A scene with everything a partial conversion would leave traces of:
// an animation, a texture, bones. root holds mesh 0, its child "child" mesh 1.
aiScene* MakeRichScene() {
  aiMesh* first = MakeMesh(0, 3, {{0, 1, 2}});
  SetBones(*first, {MakeBone("hip", {{0, 1.0f}})});
  aiMesh* second = MakeMesh(1, 3, {{0, 1, 2}});
  aiScene* scene = MakeScene(MakeNode("root", {0}, {MakeNode("child", {1})}), {first, second});
  AddTexture(*scene->mMaterials[0], aiTextureType_DIFFUSE, 0, "wood.png");
  SetAnimations(*scene, {MakeAnimation(10, 25, {MakeChannel("hip", {{1.0, aiVector3D(1, 2, 3)}})})});
  return scene;
}

struct BrokenScene {
  const char* what;
  std::function<void(aiScene&)> breakIt;
  const char* message;
};

aiNode& Child(aiScene& s) { return *s.mRootNode->mChildren[0]; }

const BrokenScene kBrokenScenes[] = {
    {"mesh index out of range", [](aiScene& s) { Child(s).mMeshes[0] = 5; },
     "Scene is unusable! Node child references mesh 5, but the scene has 2 meshes.\n"},
    {"material index out of range", [](aiScene& s) { s.mMeshes[1]->mMaterialIndex = 3; },
     "Scene is unusable! Mesh 1 uses material 3, but the scene has 1 materials.\n"},
    {"null mesh",
     [](aiScene& s) {
       delete s.mMeshes[1];
       s.mMeshes[1] = nullptr;
     },
     "Scene is unusable! Mesh 1 is missing.\n"},
    {"null material",
     [](aiScene& s) {
       delete s.mMaterials[0];
       s.mMaterials[0] = nullptr;
     },
     "Scene is unusable! Material 0 is missing.\n"},
    {"null mesh array",
     [](aiScene& s) {
       for (unsigned m = 0; m < s.mNumMeshes; ++m) delete s.mMeshes[m];
       delete[] s.mMeshes;
       s.mMeshes = nullptr;
     },
     "Scene is unusable! Node root references mesh 0, but the scene has 0 meshes.\n"},
    {"null vertex positions",
     [](aiScene& s) {
       delete[] s.mMeshes[1]->mVertices;
       s.mMeshes[1]->mVertices = nullptr;
     },
     "Scene is unusable! Mesh 1 lacks vertex positions (vertex count 3).\n"},
    {"null face list",
     [](aiScene& s) {
       delete[] s.mMeshes[1]->mFaces;
       s.mMeshes[1]->mFaces = nullptr;
     },
     "Scene is unusable! Mesh 1 lacks its face list (face count 1).\n"},
    {"null face indices",
     [](aiScene& s) {
       delete[] s.mMeshes[1]->mFaces[0].mIndices;
       s.mMeshes[1]->mFaces[0].mIndices = nullptr;
     },
     "Scene is unusable! Face 0 of mesh 1 lacks its index list (index count 3).\n"},
    {"null node mesh list",
     [](aiScene& s) {
       delete[] Child(s).mMeshes;
       Child(s).mMeshes = nullptr;
     },
     "Scene is unusable! Node child lacks its mesh index list (mesh count 1).\n"},
    {"no root node",
     [](aiScene& s) {
       delete s.mRootNode;
       s.mRootNode = nullptr;
     },
     "Scene is unusable! The scene has no root node.\n"},
};

TEST(ConvertScene, RefusesBrokenScenesWithoutTouchingTheContainer) {
  for (const BrokenScene& c : kBrokenScenes) {
    SCOPED_TRACE(c.what);
    ScenePtr scene(MakeRichScene());
    {
      ModelContainer intact;  // the rich scene itself converts
      ASSERT_EQ(ConvertScene(*scene, intact), 0);
    }
    c.breakIt(*scene);
    ModelContainer mc;
    mc.isAnimatedModel = true;
    mc.inputFile = "Models/hero.fbx";
    mc.modelDirectory = "before";
    mc.loadedTextures = {"old.png"};
    mc.boneCounter = 7;

    CaptureStdout out;
    EXPECT_EQ(ConvertScene(*scene, mc), 4);
    EXPECT_EQ(out.text(), Error(c.message));
    EXPECT_EQ(mc.modelDirectory, "before");
    EXPECT_TRUE(mc.meshes.empty());
    EXPECT_EQ(mc.loadedTextures, std::vector<std::string>{"old.png"});
    EXPECT_EQ(mc.boneCounter, 7);
    EXPECT_TRUE(mc.boneInfoMap.empty());
    EXPECT_TRUE(mc.bones.empty());
    EXPECT_EQ(mc.animDuration, 0.0f);
    EXPECT_TRUE(mc.rootNode.name.empty());
  }
}

// Runs work on a thread with a small stack, so that recursion over a deep
// tree fails here whatever the process's stack limit is.
void RunOnSmallStack(const std::function<void()>& work) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 512 * 1024);
  pthread_t thread;
  auto trampoline = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

TEST(ConvertScene, HandlesNodeChainsDeeperThanTheStack) {
  constexpr int kDepth = 100000;
  aiNode* leaf = MakeNode("leaf", {0});
  aiNode* top = leaf;
  for (int i = 0; i < kDepth - 1; ++i) top = MakeNode("n", {}, {top});
  ScenePtr scene(MakeScene(top, {MakeMesh(7, 1)}));
  SetAnimations(*scene, {MakeAnimation(1, 1, {})});

  int code = -1;
  size_t meshes = 0;
  int depth = 0;
  std::string deepest;
  RunOnSmallStack([&] {
    ModelContainer mc;
    mc.isAnimatedModel = true;
    code = ConvertScene(*scene, mc);
    meshes = mc.meshes.size();
    for (const HierarchyNode* node = &mc.rootNode;; node = &node->children[0]) {
      ++depth;
      if (node->children.empty()) {
        deepest = node->name;
        break;
      }
    }
  });  // mc is torn down on the small stack as well
  DeleteNodesIteratively(scene->mRootNode);
  scene->mRootNode = nullptr;

  EXPECT_EQ(code, 0);
  EXPECT_EQ(meshes, 1u);
  EXPECT_EQ(depth, kDepth);
  EXPECT_EQ(deepest, "leaf");
}

// ---------------------------------------------------------------------------
// Reading model files

TEST(LoadModel, MissingFileLogsAssimpErrorAndChangesNothing) {
  ModelContainer mc;
  mc.inputFile = "no_such_dir/missing.obj";
  mc.givenInputFile = "no_such_dir/missing.OBJ";
  CaptureStdout out;
  EXPECT_EQ(LoadModel(mc), 4);
  const std::string text = out.text();
  const std::string prefix = Error("Assimp read file error! ");
  EXPECT_EQ(text.substr(0, prefix.size()), prefix);
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;  // one line
  EXPECT_TRUE(mc.modelDirectory.empty());
  EXPECT_TRUE(mc.meshes.empty());
}

TEST(LoadModel, QuadArrivesTriangulatedWithGeneratedNormalsTangentsAndFlippedUVs) {
  for (const bool flip : {false, true}) {
    SCOPED_TRACE(flip ? "flipUVs" : "no flip");
    ModelContainer mc;
    mc.flipUVs = flip;
    mc.inputFile = FixturePath("quad.obj").string();
    ASSERT_EQ(LoadModel(mc), 0);
    ASSERT_EQ(mc.meshes.size(), 1u);
    const Mesh& mesh = mc.meshes[0];
    ASSERT_EQ(mesh.indices.size(), 6u);
    for (uint32_t index : mesh.indices) EXPECT_LT(index, mesh.vertices.size());
    for (const Vertex& v : mesh.vertices) {
      // The UVs equal the positions, so every vertex shows whether the flip happened.
      const float v2 = flip ? 1 - v.position[1] : v.position[1];
      EXPECT_EQ(v.texCoords, (Vec2{v.position[0], v2}));
      EXPECT_EQ(v.normal, (Vec3{0, 0, 1}));
      EXPECT_EQ(v.tangent, (Vec3{1, 0, 0}));
      EXPECT_EQ(v.boneIDs, (std::array<int32_t, 4>{-1, -1, -1, -1}));
    }
    EXPECT_EQ(mc.modelDirectory, FixturePath("").parent_path().string());
    EXPECT_EQ(mesh.textures, (TextureMap{{mc.modelDirectory + "\\wood.png", 1}}));
    EXPECT_EQ(mc.loadedTextures.size(), 1u);
  }
}

TEST(LoadModel, OpensTheGivenPathWhenTheLowerCasedOneIsMissing) {
  struct Case {
    std::string given;
    int code;
  };
#ifdef _WIN32
  const int lowerCasedAlone = 0;  // file names match in any case
#else
  const int lowerCasedAlone = 4;
#endif
  for (const Case& c : {Case{FixturePath("Upper.OBJ").string(), 0}, Case{"", lowerCasedAlone}}) {
    SCOPED_TRACE(c.given);
    ModelContainer mc;
    mc.inputFile = FixturePath("Upper.obj").string();
    mc.givenInputFile = c.given;
    CaptureStdout quiet;
    EXPECT_EQ(LoadModel(mc), c.code);
    EXPECT_EQ(mc.meshes.size(), c.code == 0 ? 1u : 0u);
  }
}

TEST(LoadModel, ReadsSkinnedAnimatedGltf) {
  ModelContainer mc;
  mc.isAnimatedModel = true;
  mc.inputFile = FixturePath("skinned.gltf").string();
  ASSERT_EQ(LoadModel(mc), 0);

  ASSERT_EQ(mc.meshes.size(), 2u);
  EXPECT_EQ(mc.meshes[0].indices.size(), 6u);
  EXPECT_EQ(mc.meshes[1].indices.size(), 3u);
  // Body (joints Hip, Spine): the lower edge follows Hip alone, the upper
  // edge shares Hip and Spine.
  const std::vector<Vertex>& body = mc.meshes[0].vertices;
  ASSERT_EQ(body.size(), 4u);
  using Slots = std::array<int32_t, 4>;
  for (const Vertex& v : body) {
    const bool lower = v.position[1] == 0;
    EXPECT_EQ(v.boneIDs, lower ? (Slots{0, -1, -1, -1}) : (Slots{0, 1, -1, -1}));
    EXPECT_EQ(v.weights, lower ? (Vec4{1, 0, 0, 0}) : (Vec4{0.5f, 0.5f, 0, 0}));
  }
  // The map holds both meshes' joints, numbered in the order first met.
  ASSERT_EQ(mc.boneInfoMap.size(), 3u);
  EXPECT_EQ(mc.boneInfoMap.at("Hip").ID, 0);
  EXPECT_EQ(mc.boneInfoMap.at("Spine").ID, 1);
  EXPECT_EQ(mc.boneInfoMap.at("Head").ID, 2);
  EXPECT_EQ(mc.boneInfoMap.at("Head").offset[13], -2.0f);  // inverse bind: Head sits at y = 2

  ASSERT_EQ(mc.bones.size(), 3u);
  std::vector<std::string> tracks;
  for (const Bone& bone : mc.bones) {
    tracks.push_back(bone.m_Name);
    EXPECT_EQ(bone.m_NumPositions, static_cast<int32_t>(bone.m_Positions.size()));
    EXPECT_EQ(bone.m_NumRotations, static_cast<int32_t>(bone.m_Rotations.size()));
    EXPECT_EQ(bone.m_NumScalings, static_cast<int32_t>(bone.m_Scales.size()));
    if (bone.m_Name != "Spine") continue;
    // The middle rotation key turns 45 degrees about Z; stored x, y, z, w.
    ASSERT_EQ(bone.m_Rotations.size(), 3u);
    EXPECT_NEAR(bone.m_Rotations[1].orientation[2], 0.38268343f, 1e-6f);
    EXPECT_NEAR(bone.m_Rotations[1].orientation[3], 0.92387953f, 1e-6f);
    EXPECT_EQ(bone.m_RotKeyMaxTime, bone.m_Rotations[2].timeStamp);
  }
  std::sort(tracks.begin(), tracks.end());  // channel order is Assimp's choice
  EXPECT_EQ(tracks, (std::vector<std::string>{"Head", "Hip", "Spine"}));
  EXPECT_GT(mc.animDuration, 0.0f);
  EXPECT_GT(mc.TicksPerSecond, 0.0);

  EXPECT_EQ(mc.rootNode.name, "Walker");
  ASSERT_EQ(mc.rootNode.childrenCount, 3u);
  const HierarchyNode& hip = mc.rootNode.children[0];
  EXPECT_EQ(hip.name, "Hip");
  ASSERT_EQ(hip.childrenCount, 1u);
  EXPECT_EQ(hip.children[0].name, "Spine");
  EXPECT_EQ(hip.children[0].transformation[13], 1.0f);  // translation (0, 1, 0)
}

}  // namespace
