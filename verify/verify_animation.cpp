// The animation sections of the read-back: duration, tick rate, node
// hierarchy, bone tracks and bone-info entries.
#include <cmath>
#include <limits>

#include "verify/read_back.h"

constexpr float kFloatEpsilon = std::numeric_limits<float>::epsilon();     // 2^-23
constexpr double kDoubleEpsilon = std::numeric_limits<double>::epsilon();  // 2^-52

// At least epsilon apart; a NaN on either side never differs.
static bool FloatsDiffer(float own, float read) { return std::fabs(own - read) >= kFloatEpsilon; }
static bool DoublesDiffer(double own, double read) { return std::fabs(own - read) >= kDoubleEpsilon; }

bool MatrixDiffers(const Mat4& a, const Mat4& b) {
  for (size_t i = 0; i < a.size(); ++i) {
    if (!(a[i] == b[i])) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Hierarchy

static void ReadNodeRecord(FileReader& reader, HierarchyNode& node) {
  node.transformation = ReadValue<Mat4>(reader);
  const auto nameLength = ReadValue<uint32_t>(reader);
  node.name = ReadName(reader, nameLength);
  node.childrenCount = ReadValue<uint32_t>(reader);
}

// An explicit stack instead of recursion: a file can nest records far deeper
// than the call stack allows.
void ReadHierarchyNode(FileReader& reader, HierarchyNode& node) {
  ReadNodeRecord(reader, node);
  // The node whose children are being read, above its ancestors. Pointers
  // stay valid: only the last node's children list ever grows.
  std::vector<HierarchyNode*> filling{&node};
  while (!filling.empty()) {
    HierarchyNode& parent = *filling.back();
    // Once the file is used up, every further child would read as a default
    // node; those stay implicit, so a huge childrenCount costs nothing.
    if (parent.children.size() < parent.childrenCount && reader.remaining > 0) {
      HierarchyNode& child = parent.children.emplace_back();
      ReadNodeRecord(reader, child);
      filling.push_back(&child);
    } else {
      filling.pop_back();
    }
  }
}

static bool CompareNodeFields(const HierarchyNode& fileNode, const HierarchyNode& containerNode, std::ostream& out) {
  bool differs = false;
  if (MatrixDiffers(fileNode.transformation, containerNode.transformation)) {
    out << "MISMATCH!!! rootNode.transformation does not match!" << std::endl;
    differs = true;
  }
  if (fileNode.name.size() != containerNode.name.size()) {
    out << "MISMATCH!!! rootNode.name size does not match!" << std::endl;
    differs = true;
  }
  if (fileNode.name != containerNode.name) {
    out << "MISMATCH!!! rootNode.name does not match!" << std::endl;
    differs = true;
  }
  if (fileNode.childrenCount != containerNode.childrenCount) {
    out << "MISMATCH!!! rootNode.childrenCount does not match!" << std::endl;
    differs = true;
  }
  return differs;
}

// Pre-order with an explicit stack: a node's tests, then each child's subtree
// in order, as the recursive walk would print them.
bool CompareHierarchyNode(const HierarchyNode& fileNode, const HierarchyNode& containerNode, std::ostream& out) {
  // Children the file announced but no longer holds read as default nodes.
  static const HierarchyNode kUnreadNode;
  struct NodePair {
    const HierarchyNode* file;
    const HierarchyNode* container;
  };
  std::vector<NodePair> pending{{&fileNode, &containerNode}};
  bool differs = false;
  while (!pending.empty()) {
    const NodePair pair = pending.back();
    pending.pop_back();
    if (CompareNodeFields(*pair.file, *pair.container, out)) differs = true;
    // Children on one side only have no counterpart to compare with.
    const size_t compared = std::min<size_t>(pair.file->childrenCount, pair.container->children.size());
    for (size_t i = compared; i-- > 0;) {
      const HierarchyNode* fileChild = i < pair.file->children.size() ? &pair.file->children[i] : &kUnreadNode;
      pending.push_back({fileChild, &pair.container->children[i]});
    }
  }
  return differs;
}

// ---------------------------------------------------------------------------
// Bones

// Values exactly equal (NaN never is), times less than 2^-23 apart (a NaN
// difference counts as less).
static bool KeysEqual(const PositionKey& a, const PositionKey& b) {
  return a.position == b.position && !FloatsDiffer(a.timeStamp, b.timeStamp);
}
static bool KeysEqual(const RotationKey& a, const RotationKey& b) {
  return a.orientation == b.orientation && !FloatsDiffer(a.timeStamp, b.timeStamp);
}
static bool KeysEqual(const ScaleKey& a, const ScaleKey& b) {
  return a.scale == b.scale && !FloatsDiffer(a.timeStamp, b.timeStamp);
}

// A key list as announced: count keys, of which those past the end of the
// file read as zero keys. A negative count announces none.
template <typename Key>
struct ReadKeyList {
  uint64_t count = 0;
  std::vector<Key> present;
};

template <typename Key>
static ReadKeyList<Key> ReadKeys(FileReader& reader, int32_t count) {
  ReadKeyList<Key> list;
  list.count = count < 0 ? 0 : static_cast<uint64_t>(count);
  list.present = ReadRecords<Key>(reader, list.count);
  return list;
}

// Same length and equal key by key; stops at the first unequal pair.
template <typename Key>
static bool KeyListsEqual(const ReadKeyList<Key>& read, const std::vector<Key>& own) {
  if (read.count != own.size()) return false;
  for (uint64_t i = 0; i < read.count; ++i) {
    if (!KeysEqual(RecordAt(read.present, i), own[i])) return false;
  }
  return true;
}

// Prints "MISMATCH!!! bone[<b>" and the text, and sets the run's flag.
struct BoneLine {
  std::ostream& out;
  unsigned b;
  bool& mismatch;
  std::ostream& operator()(const char* text) const {
    mismatch = true;
    return out << "MISMATCH!!! bone[" << b << text;
  }
};

// One key kind: its count, then the list read by that count. own is null for
// records beyond the container's bones, which are only read.
template <typename Key>
static void VerifyKeys(FileReader& reader, const BoneLine& line, const std::vector<Key>* own, int32_t ownCount,
                       const char* countText, const char* listText) {
  const auto count = ReadValue<int32_t>(reader);
  if (own && count != ownCount) line(countText) << ownCount << " VS BIN: " << count << std::endl;
  const auto keys = ReadKeys<Key>(reader, count);
  if (own && !KeyListsEqual(keys, *own)) line(listText) << std::endl;
}

static void VerifyMaxTime(FileReader& reader, const BoneLine& line, const float* own, const char* text) {
  const auto time = ReadValue<float>(reader);
  if (own && FloatsDiffer(*own, time)) line(text) << *own << " VS BIN: " << time << std::endl;
}

// Reads bone record b and compares it with bone, which is null for records
// beyond the container's bones: those are only read, to stay in position.
static void VerifyBone(FileReader& reader, unsigned b, const Bone* bone, std::ostream& out, bool& mismatch) {
  const BoneLine line{out, b, mismatch};
  VerifyKeys(reader, line, bone ? &bone->m_Positions : nullptr, bone ? bone->m_NumPositions : 0,
             "] m_NumPositions does not match! MC: ", "] m_Positions vector does not match!");
  VerifyKeys(reader, line, bone ? &bone->m_Rotations : nullptr, bone ? bone->m_NumRotations : 0,
             "] m_NumRotations does not match! MC: ", "] m_Rotations vector does not match!");
  VerifyKeys(reader, line, bone ? &bone->m_Scales : nullptr, bone ? bone->m_NumScalings : 0,
             "] m_NumScalings does not match! MC: ", "] m_Scales vector does not match!");

  // These three texts have no "] ": the index runs into the field name.
  VerifyMaxTime(reader, line, bone ? &bone->m_PosKeyMaxTime : nullptr, "m_PosKeyMaxTime does not match! MC: ");
  VerifyMaxTime(reader, line, bone ? &bone->m_RotKeyMaxTime : nullptr, "m_RotKeyMaxTime does not match! MC: ");
  VerifyMaxTime(reader, line, bone ? &bone->m_ScaleKeyMaxTime : nullptr, "m_ScaleKeyMaxTime does not match! MC: ");

  const auto nameLength = ReadValue<uint16_t>(reader);
  if (bone && nameLength != static_cast<uint16_t>(bone->m_Name.size())) {
    line("] m_Name length does not match! MC: ") << bone->m_Name.size() << " VS BIN: " << nameLength << std::endl;
  }
  const std::string name = ReadName(reader, nameLength);
  if (bone && name != bone->m_Name) {
    line("] m_Name does not match! MC: ") << bone->m_Name << " VS BIN: " << name << std::endl;
  }

  const auto id = ReadValue<int32_t>(reader);
  if (bone && id != bone->m_ID) line("] m_ID does not match! MC: ") << bone->m_ID << " VS BIN: " << id << std::endl;
}

static void VerifyBoneInfo(FileReader& reader, const BoneInfoMap& boneInfoMap, std::ostream& out, bool& mismatch) {
  const auto nameLength = ReadValue<uint16_t>(reader);
  const std::string name = ReadName(reader, nameLength);
  const auto found = boneInfoMap.find(name);  // never inserts
  if (found == boneInfoMap.end()) {
    out << "MISMATCH!!! Unable to find bone info entry with name " << name << std::endl;
    mismatch = true;
  }
  // Read even when not found, so that the next entry starts in the right place.
  const auto id = ReadValue<int32_t>(reader);
  if (found != boneInfoMap.end() && found->second.ID != id) {
    out << "MISMATCH!!! bone info [" << name << "] ID does not match! MC: " << found->second.ID << " VS BIN: " << id
        << std::endl;
    mismatch = true;
  }
  const auto offset = ReadValue<Mat4>(reader);
  if (found != boneInfoMap.end() && MatrixDiffers(offset, found->second.offset)) {
    out << "MISMATCH!!! bone info [" << name << "] offset does not match!" << std::endl;
    mismatch = true;
  }
}

// ---------------------------------------------------------------------------

void VerifyAnimationSections(FileReader& reader, const ModelContainer& mc, std::ostream& out, bool& mismatch) {
  const auto duration = ReadValue<float>(reader);
  if (FloatsDiffer(mc.animDuration, duration)) {
    PrintMismatch(out, mismatch, "MISMATCH!!! animDuration does not match! MC: ", mc.animDuration, duration);
  }
  const auto ticksPerSecond = ReadValue<double>(reader);
  if (DoublesDiffer(mc.TicksPerSecond, ticksPerSecond)) {
    PrintMismatch(out, mismatch, "MISMATCH!!! TicksPerSecond does not match! MC: ", mc.TicksPerSecond, ticksPerSecond);
  }

  HierarchyNode root;
  ReadHierarchyNode(reader, root);
  const bool hierarchyDiffers = CompareHierarchyNode(root, mc.rootNode, out);
  if (hierarchyDiffers) mismatch = true;
  // This status line reports the hierarchy alone, not the run so far.
  PrintStatusLine(out, "anim hierarchy", hierarchyDiffers);
  out << "\033[31m";

  const auto numBones = ReadValue<uint8_t>(reader);
  if (numBones != mc.bones.size()) {
    PrintMismatch(out, mismatch, "MISMATCH!!! numBones does not match! MC: ", mc.bones.size(), unsigned{numBones});
  }
  out << "\033[95m";
  for (unsigned b = 0; b < numBones; ++b) {
    VerifyBone(reader, b, b < mc.bones.size() ? &mc.bones[b] : nullptr, out, mismatch);
  }
  out << "\033[31m";

  const auto numBoneInfos = ReadValue<uint8_t>(reader);
  if (numBoneInfos != mc.boneInfoMap.size()) {
    PrintMismatch(out, mismatch, "MISMATCH!!! numBoneInfos does not match! MC: ", mc.boneInfoMap.size(),
                  unsigned{numBoneInfos});
  }
  for (unsigned entry = 0; entry < numBoneInfos; ++entry) VerifyBoneInfo(reader, mc.boneInfoMap, out, mismatch);
  PrintStatusLine(out, "bone", mismatch);
}
