// libFuzzer target: arbitrary bytes as a compiled model file for the reader
// library. Besides the sanitizers' findings it checks what the reader
// promises: a refused file leaves the model empty and names an offset within
// the input; an accepted hierarchy is exactly the pre-order tree its child
// counts describe.
#include <varndel/reader.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

static void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "reader broke its contract: %s\n", what);
  std::abort();
}

static void CheckRefusal(const varndel::Model& model, const varndel::ReadError& error, size_t size) {
  Require(error.offset <= size, "error offset past the end of the input");
  Require(!error.message.empty(), "error without a message");
  Require(!varndel::FormatReadError(error).empty(), "empty formatted error");
  Require(!model.animated && !model.flipUVs && model.textureCount == 0 && model.meshes.empty(),
          "refused file left a header or meshes behind");
  const varndel::Animation& animation = model.animation;
  Require(animation.nodes.empty() && animation.tracks.empty() && animation.boneInfos.empty() &&
              animation.duration == 0.0f && animation.ticksPerSecond == 0.0,
          "refused file left animation data behind");
}

// Replays the pre-order walk: each node must be the next child of the deepest
// ancestor that still has children to come.
static void CheckHierarchy(const std::vector<varndel::Node>& nodes) {
  Require(!nodes.empty(), "animated model without a root node");
  Require(nodes[0].parent == -1, "root with a parent");
  struct Open {
    size_t index;
    uint32_t remaining;
  };
  std::vector<Open> open{{0, nodes[0].childCount}};
  for (size_t i = 1; i < nodes.size(); ++i) {
    while (!open.empty() && open.back().remaining == 0) open.pop_back();
    Require(!open.empty(), "more nodes than the child counts announce");
    Require(nodes[i].parent == static_cast<int32_t>(open.back().index), "parent index off the pre-order walk");
    --open.back().remaining;
    open.push_back({i, nodes[i].childCount});
  }
  for (const Open& node : open) Require(node.remaining == 0, "fewer nodes than the child counts announce");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varndel::Model model;
  varndel::ReadError error;
  if (!varndel::ReadModel(data, size, model, &error)) {
    CheckRefusal(model, error, size);
    return 0;
  }
  if (model.animated) {
    CheckHierarchy(model.animation.nodes);
  } else {
    Require(model.animation.nodes.empty() && model.animation.tracks.empty() && model.animation.boneInfos.empty(),
            "static model with animation data");
  }
  return 0;
}
