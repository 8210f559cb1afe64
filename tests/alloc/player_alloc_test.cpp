// Proves that playing allocates nothing: the global operator new is
// replaced by one that counts while counting is on. A program of its own, so
// that the replacement touches no other test.
#include <gtest/gtest.h>
#include <varndel/player.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <optional>
#include <vector>

#include "tests/generated_character.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* CountedAllocation(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

// Allocations made by body.
template <typename Body>
long AllocationsOf(Body&& body) {
  allocations = 0;
  counting = true;
  body();
  counting = false;
  return allocations.load();
}

}  // namespace

void* operator new(std::size_t size) { return CountedAllocation(size); }
void* operator new[](std::size_t size) { return CountedAllocation(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return CountedAllocation(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(PlayerAllocations, NoneAcross1000EvaluateAndSkinVerticesCalls) {
  const varndel::Animation animation = MakeCharacter();  // 30 s at 30 ticks per second
  const varndel::MeshData mesh = MakeCharacterMesh(2000);
  std::optional<varndel::AnimationPlayer> made;
  // Construction is where allocation belongs; seeing it proves the counter works.
  ASSERT_GT(AllocationsOf([&] { made.emplace(animation); }), 0);
  varndel::AnimationPlayer& player = *made;
  std::vector<varndel::Mat4> palette(player.BoneCount());
  std::vector<varndel::Vec3> positions(mesh.vertices.size()), normals(mesh.vertices.size());
  const long playing = AllocationsOf([&] {
    for (int frame = 0; frame < 1000; ++frame) {
      // Forward at 60 frames per second, with a jump back every 100 frames.
      const float ticks = frame % 100 == 99 ? 3.0f : float(frame) * 0.5f;
      player.Evaluate(ticks, palette.data());
      player.SkinVertices(mesh, palette.data(), positions.data(), normals.data());
    }
  });
  EXPECT_EQ(playing, 0);
  EXPECT_NE(positions[0], mesh.vertices[0].position);  // the loop did pose the mesh
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
