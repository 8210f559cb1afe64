// Clips that show how the cost of key reduction grows: a smooth motion
// capture as a BVH import gives it (30 joints, a key of position and
// rotation on every joint at every frame, 120 fps), the same held still, and
// a deep chain of plain nodes under one animated root.
#pragma once

#include <varndel/reader.h>
#include <varndel/sample.h>

#include <cmath>
#include <string>

// 30 joints: a root, a spine of 4 with a head, and four limbs of 6 joints,
// each turning smoothly about its own axis (0.2 to 1.5 Hz); the root walks.
// amplitude 0: every key of a list the same.
inline varndel::Model MakeSmoothCapture(int frames, double amplitude = 1.0, int fps = 120) {
  const double kPi = 3.14159265358979;
  varndel::Model model;
  model.animated = true;
  varndel::Animation& animation = model.animation;
  animation.ticksPerSecond = fps;
  animation.duration = float(frames - 1);
  const auto addNode = [&animation](int parent, varndel::Vec3 offset) {
    varndel::Node node;
    node.name = "joint" + std::to_string(animation.nodes.size());
    node.parent = parent;
    node.transformation = varndel::ComposeTransform(offset, {0, 0, 0, 1}, {1, 1, 1});
    if (parent >= 0) ++animation.nodes[size_t(parent)].childCount;
    animation.nodes.push_back(node);
    return int(animation.nodes.size() - 1);
  };
  std::vector<varndel::Vec3> offsets;
  int spine = addNode(-1, {0, 90, 0});
  offsets.push_back({0, 90, 0});
  for (int s = 0; s < 5; ++s) {
    spine = addNode(spine, {0, 12, 0});
    offsets.push_back({0, 12, 0});
  }
  const varndel::Vec3 limbs[4] = {{15, 0, 0}, {-15, 0, 0}, {0, -20, 4}, {0, -20, -4}};
  for (int l = 0; l < 4; ++l) {
    int joint = l < 2 ? 4 : 0;
    for (int j = 0; j < 6; ++j) {
      joint = addNode(joint, limbs[l]);
      offsets.push_back(limbs[l]);
    }
  }
  for (size_t n = 0; n < animation.nodes.size(); ++n) {
    varndel::Track track;
    track.name = animation.nodes[n].name;
    track.id = int32_t(n);
    const double frequency = 0.2 + 1.3 * double(n % 7) / 6.0, phase = 0.7 * double(n);
    const int axis = int(n % 3);
    for (int k = 0; k < frames; ++k) {
      const double t = double(k) / fps;
      const double angle = amplitude * 0.5 * std::sin(2 * kPi * frequency * t + phase) + 0.0;
      varndel::Vec4 q{0, 0, 0, float(std::cos(angle / 2))};
      q[size_t(axis)] = float(std::sin(angle / 2));
      varndel::Vec3 position = offsets[n];
      if (n == 0) {
        position[2] = float(amplitude * 100 * std::sin(2 * kPi * 0.05 * t) + 0.0);  // never -0
        position[1] += float(amplitude * 3 * std::sin(4 * kPi * t) + 0.0);
      }
      track.positions.push_back({position, float(k)});
      track.rotations.push_back({q, float(k)});
    }
    track.scales.push_back({{1, 1, 1}, 0});
    track.positionMaxTime = track.rotationMaxTime = float(frames - 1);
    animation.tracks.push_back(std::move(track));
  }
  return model;
}

// nodes plain nodes in one chain, 1 unit apart; the root alone has a track,
// of keys position and rotation keys.
inline varndel::Model MakeDeepChain(int nodes, int keys) {
  varndel::Model model;
  model.animated = true;
  varndel::Animation& animation = model.animation;
  animation.ticksPerSecond = 30;
  animation.duration = float(keys - 1);
  for (int n = 0; n < nodes; ++n) {
    varndel::Node node;
    node.name = "n" + std::to_string(n);
    node.parent = n - 1;
    node.childCount = n + 1 < nodes ? 1 : 0;
    node.transformation = varndel::ComposeTransform({0, n == 0 ? 0.0f : 1.0f, 0}, {0, 0, 0, 1}, {1, 1, 1});
    animation.nodes.push_back(node);
  }
  varndel::Track track;
  track.name = "n0";
  for (int k = 0; k < keys; ++k) {
    const double angle = 0.3 * std::sin(0.4 * k);
    track.positions.push_back({{float(0.5 * k), 0, 0}, float(k)});
    track.rotations.push_back({{0, 0, float(std::sin(angle / 2)), float(std::cos(angle / 2))}, float(k)});
  }
  track.positionMaxTime = track.rotationMaxTime = float(keys - 1);
  animation.tracks.push_back(std::move(track));
  return model;
}
