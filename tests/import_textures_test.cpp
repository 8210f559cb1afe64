// Material textures: paths moved into the model directory, visit order,
// de-duplication across the run.
#include <gtest/gtest.h>

#include "model/model.h"
#include "tests/import_scene_builder.h"

namespace {

struct PathCase {
  std::string modelDirectory;
  std::string materialPath;
  std::string stored;
};

const PathCase kPathCases[] = {
    {"D:/models", "textures/wood.png", "D:/models\\wood.png"},
    {"D:/models", "textures\\wood.png", "D:/models\\wood.png"},
    {"D:/models", "C:\\abs\\dir/wood.png", "D:/models\\wood.png"},
    {"D:/models/", "wood.png", "D:/models/wood.png"},
    {"models\\", "wood.png", "models\\wood.png"},
    {"D:\\", "wood.png", "D:\\wood.png"},
    {"/", "/art/wood.png", "/wood.png"},
    {"D:", "wood.png", "D:wood.png"},
    {"", "E:/art/wood.png", "wood.png"},
    {"", "E:wood.png", "wood.png"},  // the prefix is the root, not part of the name
    // A drive prefix after the last separator stays with the name.
    {"Models", "art/E:wood.png", "E:wood.png"},
    {"", "art/E:wood.png", "E:wood.png"},
    {"E:/models", "art/E:wood.png", "E:/models\\wood.png"},
    {"E:", "art/E:wood.png", "E:wood.png"},
    {"e:/models", "art/E:wood.png", "E:wood.png"},                          // drive letters compared by case
    {"models", "textures/", "models\\"},                                    // no file name at all
    {"models", std::string("tex/wood.png\0junk", 17), "models\\wood.png"},  // up to the first NUL
};

TEST(CollectMaterialTextures, StoresTheFileNameJoinedOntoTheModelDirectory) {
  for (const PathCase& c : kPathCases) {
    SCOPED_TRACE(c.modelDirectory + " + " + c.materialPath);
    aiMaterial material;
    AddTexture(material, aiTextureType_DIFFUSE, 0, c.materialPath);
    ModelContainer mc;
    mc.modelDirectory = c.modelDirectory;
    EXPECT_EQ(CollectMaterialTextures(material, mc), (TextureMap{{c.stored, 1}}));
    EXPECT_EQ(mc.loadedTextures, std::vector<std::string>{c.stored});
  }
}

TEST(CollectMaterialTextures, VisitsFiveTypesInFixedOrderAndKeepsTheFirstTypeOfAPath) {
  aiMaterial material;
  AddTexture(material, aiTextureType_NORMALS, 0, "n.png");
  AddTexture(material, aiTextureType_AMBIENT, 0, "shared.png");  // also diffuse: type 1 wins
  AddTexture(material, aiTextureType_HEIGHT, 0, "B.png");
  AddTexture(material, aiTextureType_SPECULAR, 0, "a.png.dds");
  AddTexture(material, aiTextureType_DIFFUSE, 0, "b.png");
  AddTexture(material, aiTextureType_DIFFUSE, 1, "shared.png");
  AddTexture(material, aiTextureType_DIFFUSE, 2, "a.png");
  AddTexture(material, aiTextureType_EMISSIVE, 0, "ignored.png");
  ModelContainer mc;

  const TextureMap textures = CollectMaterialTextures(material, mc);
  // Byte-wise order: upper case before lower case, a prefix before its extensions.
  using Entries = std::vector<std::pair<std::string, uint32_t>>;
  const Entries expected{{"B.png", 5}, {"a.png", 1}, {"a.png.dds", 2}, {"b.png", 1}, {"n.png", 6}, {"shared.png", 1}};
  EXPECT_EQ(Entries(textures.begin(), textures.end()), expected);
  EXPECT_EQ(mc.loadedTextures,
            (std::vector<std::string>{"b.png", "shared.png", "a.png", "a.png.dds", "B.png", "n.png"}));
}

TEST(ConvertScene, GivesEveryMeshAllItsTexturesAndListsEachPathOnce) {
  // Meshes 0 and 1 share material 0; mesh 2's material names the same file in
  // another directory, plus one new file. A path from an earlier run part is
  // already in the model's list, and still goes into the mesh's map.
  ScenePtr scene(MakeScene(MakeNode("root", {0, 1, 2}), {MakeMesh(0, 1), MakeMesh(1, 1), MakeMesh(2, 1, {}, 1)}, 2));
  AddTexture(*scene->mMaterials[0], aiTextureType_DIFFUSE, 0, "a/wood.png");
  AddTexture(*scene->mMaterials[0], aiTextureType_SPECULAR, 0, "old.png");
  AddTexture(*scene->mMaterials[1], aiTextureType_DIFFUSE, 0, "b/wood.png");
  AddTexture(*scene->mMaterials[1], aiTextureType_NORMALS, 0, "normal.png");
  ModelContainer mc;
  mc.inputFile = "art/crate.obj";
  mc.loadedTextures = {"art\\old.png"};

  ASSERT_EQ(ConvertScene(*scene, mc), 0);
  ASSERT_EQ(mc.meshes.size(), 3u);
  const TextureMap shared{{"art\\old.png", 2}, {"art\\wood.png", 1}};
  EXPECT_EQ(mc.meshes[0].textures, shared);
  EXPECT_EQ(mc.meshes[1].textures, shared);
  EXPECT_EQ(mc.meshes[2].textures, (TextureMap{{"art\\normal.png", 6}, {"art\\wood.png", 1}}));
  EXPECT_EQ(mc.loadedTextures, (std::vector<std::string>{"art\\old.png", "art\\wood.png", "art\\normal.png"}));
}

}  // namespace
