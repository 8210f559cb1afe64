// Files whose counts and nesting no writer would produce: the verifier must
// neither crash, hang, recurse by their depth nor allocate by their counts.
#include "tests/verify_helpers.h"

static const Mat4 kIdentity = Node("").transformation;

static Bytes AnimatedHeader() {
  Bytes b;
  b.u8(1).u8(0).u64(0).u16(0);  // animated, no meshes, no textures
  b.f32(0).f64(0);              // animDuration, TicksPerSecond
  return b;
}

static Bytes& NodeRecord(Bytes& b, const std::string& name, uint32_t childrenCount) {
  return b.put(kIdentity).u32(static_cast<uint32_t>(name.size())).raw(name).u32(childrenCount);
}

// A root with one bone of one position key; nothing else.
static ModelContainer OneBoneModel() {
  ModelContainer mc;
  mc.isAnimatedModel = true;
  mc.rootNode = Node("Root");
  Bone bone;
  bone.m_Positions = {{{1, 2, 3}, 0}};
  bone.m_NumPositions = 1;
  bone.m_Name = "B";
  mc.bones = {bone};
  return mc;
}

constexpr size_t kSmallBudget = 64 << 20;

TEST(VerifyHostile, HugeChildrenCountReadsOnlyTheRecordsPresent) {
  ModelContainer mc;
  mc.isAnimatedModel = true;
  mc.rootNode = Node("Root", 0, {Node("Hips"), Node("Tail")});
  Bytes file = AnimatedHeader();
  NodeRecord(file, "Root", 0xFFFFFFFFu);
  NodeRecord(file, "Hips", 0);
  NodeRecord(file, "Tail", 0);
  file.u8(0).u8(0);  // taken for a third child: the count says there are more
  const Report report = VerifyImageWithin(mc, file.data, kSmallBudget);
  EXPECT_EQ(
      report.text,
      ExpectedReport().header().animation({.hierarchy = "MISMATCH!!! rootNode.childrenCount does not match!\n"}).end());
}

TEST(VerifyHostile, HugeNodeNameLengthReadsOnlyTheBytesPresent) {
  Bytes file = AnimatedHeader();
  file.put(kIdentity).u32(0xFFFFFFFFu).raw("Root").zeros(3).raw("rest of the file");
  const Report report = VerifyImageWithin(OneBoneModel(), file.data, kSmallBudget);
  EXPECT_EQ(report.text, ExpectedReport()
                             .header()
                             .animation({.boneCount = "MISMATCH!!! numBones does not match! MC: 1 VS BIN: 0\n"})
                             .end());
}

TEST(VerifyHostile, KeyCounts) {
  Bytes prefix = AnimatedHeader();
  NodeRecord(prefix, "Root", 0).u8(1);
  // Two billion keys announced, one present.
  Bytes huge = prefix;
  huge.i32(0x7FFFFFFF).floats({1, 2, 3, 0});
  Report report = VerifyImageWithin(OneBoneModel(), huge.data, kSmallBudget);
  EXPECT_EQ(report.text, ExpectedReport()
                             .header()
                             .animation({.bones = "MISMATCH!!! bone[0] m_NumPositions does not match! MC: 1 VS BIN: "
                                                  "2147483647\n"
                                                  "MISMATCH!!! bone[0] m_Positions vector does not match!\n"
                                                  "MISMATCH!!! bone[0] m_Name length does not match! MC: 1 VS BIN: 0\n"
                                                  "MISMATCH!!! bone[0] m_Name does not match! MC: B VS BIN: \n"})
                             .end());
  // A negative count announces no keys; the rest of the record follows at once.
  Bytes negative = prefix;
  negative.i32(-1).i32(0).i32(0).floats({0, 0, 0}).u16(1).raw("B").i32(0).u8(0);
  report = VerifyImageWithin(OneBoneModel(), negative.data, kSmallBudget);
  EXPECT_EQ(report.text,
            ExpectedReport()
                .header()
                .animation({.bones = "MISMATCH!!! bone[0] m_NumPositions does not match! MC: 1 VS BIN: -1\n"
                                     "MISMATCH!!! bone[0] m_Positions vector does not match!\n"})
                .end());
}

// depth nodes, each the only child of the one before, built bottom-up so that
// nothing recurses.
static HierarchyNode Chain(size_t depth) {
  HierarchyNode node = Node("n");
  for (size_t i = 1; i < depth; ++i) {
    HierarchyNode parent = Node("n");
    parent.children.push_back(std::move(node));
    parent.childrenCount = 1;
    node = std::move(parent);
  }
  return node;
}

TEST(VerifyHostile, MillionLevelHierarchyIsReadAndComparedWithoutRecursion) {
  ModelContainer mc;
  mc.isAnimatedModel = true;
  mc.rootNode = Chain(1'000'000);
  std::string image = ImageOf(mc);
  Report report = VerifyImageWithin(mc, image, 512 << 20);
  EXPECT_EQ(report.text, ExpectedReport().header().animation().end());
  EXPECT_FALSE(report.mismatch);

  // The deepest record is the last one: matrix, name length, "n", count, then
  // the two one-byte counts.
  Patch(image, image.size() - 2 - 4 - 1 - 4 - 64, 2.0f);
  report = VerifyImageWithin(mc, image, 512 << 20);
  EXPECT_EQ(report.text, ExpectedReport()
                             .header()
                             .animation({.hierarchy = "MISMATCH!!! rootNode.transformation does not match!\n"})
                             .end());
}
