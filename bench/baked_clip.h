// A baked character clip, as an exporter writes one: 60 bones of a
// humanoid (spine, head, arms with fingers, legs), 10 s of keys at 30 fps
// on every bone and every kind (positions and scales baked constant where
// the rig does not move them), smooth motion (a 1 Hz walk of arms and legs,
// a slower sway of spine and head, fingers curling), small noise on the
// head and both hands, and a skinned mesh: a ring of vertices around each
// bone, bound to it and its parent.
#pragma once

#include <varndel/reader.h>
#include <varndel/sample.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

inline varndel::Model MakeBakedClip(int seconds = 10, int fps = 30) {
  struct Bone {
    std::string name;
    int parent;
    varndel::Vec3 offset;  // from the parent, metres
    double amplitude;      // radians about x
    double frequency;      // Hz
    double phase;          // radians
    bool noisy;
  };
  std::vector<Bone> bones;
  const auto add = [&bones](std::string name, int parent, varndel::Vec3 offset, double amplitude, double frequency,
                            double phase = 0, bool noisy = false) {
    bones.push_back({std::move(name), parent, offset, amplitude, frequency, phase, noisy});
    return int(bones.size() - 1);
  };
  const double kPi = 3.14159265358979;
  const int pelvis = add("pelvis", -1, {0, 1.0f, 0}, 0.05, 1.0);
  int spine = pelvis;
  for (int s = 0; s < 3; ++s) spine = add("spine" + std::to_string(s), spine, {0, 0.15f, 0}, 0.04, 0.25, s);
  const int neck = add("neck", spine, {0, 0.12f, 0}, 0.05, 0.2);
  const int head = add("head", neck, {0, 0.1f, 0}, 0.08, 0.2, 1, true);
  add("head_end", head, {0, 0.15f, 0}, 0, 0);
  add("jaw", head, {0, 0.02f, 0.06f}, 0.03, 0.5);
  for (const float side : {-1.0f, 1.0f}) {
    const std::string s = side < 0 ? "l_" : "r_";
    const double phase = side < 0 ? 0 : kPi;
    add(s + "eye", head, {0.03f * side, 0.07f, 0.08f}, 0.02, 0.3);
    const int clavicle = add(s + "clavicle", spine, {0.08f * side, 0.1f, 0}, 0.03, 1.0, phase);
    const int upper = add(s + "upperarm", clavicle, {0.12f * side, 0, 0}, 0.35, 1.0, phase);
    add(s + "upperarm_twist", upper, {0.14f * side, 0, 0}, 0, 0);
    const int fore = add(s + "forearm", upper, {0.28f * side, 0, 0}, 0.25, 1.0, phase + 0.5);
    add(s + "forearm_twist", fore, {0.13f * side, 0, 0}, 0.05, 1.0, phase);
    const int hand = add(s + "hand", fore, {0.26f * side, 0, 0}, 0.1, 1.0, phase + 1, true);
    for (int f = 0; f < 5; ++f) {
      int bone = hand;
      for (int j = 0; j < 2; ++j)
        bone = add(s + "finger" + std::to_string(f) + "_" + std::to_string(j), bone,
                   {(j == 0 ? 0.09f : 0.035f) * side, 0, 0.02f * float(f - 2)}, 0.2, 0.5, f);
    }
    const int thigh = add(s + "thigh", pelvis, {0.1f * side, -0.05f, 0}, 0.4, 1.0, phase + kPi);
    const int calf = add(s + "calf", thigh, {0, -0.45f, 0}, 0.35, 1.0, phase + kPi + 0.7);
    const int foot = add(s + "foot", calf, {0, -0.42f, 0}, 0.2, 1.0, phase + kPi + 1.2);
    add(s + "toe", foot, {0, -0.05f, 0.12f}, 0.15, 1.0, phase + kPi + 1.6);
  }
  while (bones.size() < 60) add("prop" + std::to_string(bones.size()), pelvis, {0.15f, 0, -0.1f}, 0.02, 0.1);

  varndel::Model model;
  model.animated = true;
  varndel::Animation& animation = model.animation;
  animation.ticksPerSecond = fps;
  animation.duration = float(seconds * fps);
  std::vector<int> childCount(bones.size());
  for (const Bone& bone : bones)
    if (bone.parent >= 0) ++childCount[size_t(bone.parent)];
  // Pre-order: the generator adds every child after its parent, but not
  // always right after it, so the nodes are written depth first.
  std::vector<int> order, stack{0};
  while (!stack.empty()) {
    const int b = stack.back();
    stack.pop_back();
    order.push_back(b);
    for (int c = int(bones.size()) - 1; c >= 0; --c)
      if (bones[size_t(c)].parent == b) stack.push_back(c);
  }
  std::vector<int> nodeOf(bones.size());
  for (size_t n = 0; n < order.size(); ++n) nodeOf[size_t(order[n])] = int(n);
  std::vector<varndel::Vec3> bindOrigin(bones.size());
  for (const int b : order) {
    const Bone& bone = bones[size_t(b)];
    varndel::Node node;
    node.name = bone.name;
    node.parent = bone.parent < 0 ? -1 : nodeOf[size_t(bone.parent)];
    node.childCount = uint32_t(childCount[size_t(b)]);
    node.transformation = varndel::ComposeTransform(bone.offset, {0, 0, 0, 1}, {1, 1, 1});
    bindOrigin[size_t(b)] = bone.offset;
    if (bone.parent >= 0)
      for (int k = 0; k < 3; ++k) bindOrigin[size_t(b)][k] += bindOrigin[size_t(bone.parent)][k];
    animation.nodes.push_back(node);
  }

  std::mt19937 random(26);
  std::normal_distribution<double> noise(0.0, 0.002);  // radians
  const int keys = seconds * fps + 1;
  for (const int b : order) {
    const Bone& bone = bones[size_t(b)];
    varndel::Track track;
    track.name = bone.name;
    track.id = nodeOf[size_t(b)];
    for (int k = 0; k < keys; ++k) {
      const double t = double(k) / fps;
      double angle = bone.amplitude * std::sin(2 * kPi * bone.frequency * t + bone.phase);
      if (bone.noisy) angle += noise(random);
      varndel::Vec3 position = bone.offset;
      if (b == 0) {  // walks forward and bobs
        position[2] = float(1.2 * t);
        position[1] += float(0.03 * std::sin(4 * kPi * t));
      }
      track.positions.push_back({position, float(k)});
      track.rotations.push_back({{float(std::sin(angle / 2)), 0, 0, float(std::cos(angle / 2))}, float(k)});
      track.scales.push_back({{1, 1, 1}, float(k)});
    }
    track.positionMaxTime = track.rotationMaxTime = track.scaleMaxTime = float(keys - 1);
    animation.tracks.push_back(std::move(track));
  }
  for (size_t b = 0; b < bones.size(); ++b) {
    const varndel::Vec3& o = bindOrigin[b];
    animation.boneInfos.push_back(
        {bones[b].name, nodeOf[b], varndel::ComposeTransform({-o[0], -o[1], -o[2]}, {0, 0, 0, 1}, {1, 1, 1})});
  }
  std::sort(animation.boneInfos.begin(), animation.boneInfos.end(),
            [](const varndel::BoneInfoEntry& a, const varndel::BoneInfoEntry& b) { return a.name < b.name; });

  varndel::MeshData& mesh = model.meshes.emplace_back();
  for (size_t b = 1; b < bones.size(); ++b) {
    const varndel::Vec3& from = bindOrigin[size_t(bones[b].parent)];
    const varndel::Vec3& to = bindOrigin[b];
    for (int ring = 0; ring < 2; ++ring) {
      for (int i = 0; i < 8; ++i) {
        const double a = 2 * kPi * i / 8, along = ring == 0 ? 0.25 : 0.75;
        varndel::Vertex v;
        for (int k = 0; k < 3; ++k) v.position[k] = float(from[k] + (to[k] - from[k]) * along);
        v.position[0] += float(0.03 * std::cos(a));
        v.position[2] += float(0.03 * std::sin(a));
        v.normal = {float(std::cos(a)), 0, float(std::sin(a))};
        v.boneIDs = {nodeOf[b], nodeOf[size_t(bones[b].parent)], -1, -1};
        v.weights = {float(along), float(1 - along), 0, 0};
        mesh.vertices.push_back(v);
      }
    }
    const uint32_t base = uint32_t(mesh.vertices.size() - 16);
    for (uint32_t i = 0; i < 8; ++i) {
      const uint32_t j = (i + 1) % 8;
      mesh.indices.insert(mesh.indices.end(), {base + i, base + j, base + 8 + i, base + j, base + 8 + j, base + 8 + i});
    }
  }
  return model;
}
