// Read access to Assimp structures, shared by the import stages.
#pragma once

#include <assimp/scene.h>

#include <cstring>
#include <span>
#include <string>

// Names end at their first NUL; the length field is not trusted.
inline std::string TextOf(const aiString& s) { return std::string(s.data, strnlen(s.data, MAXLEN)); }

// A node's child list; entries may be null and are skipped by every walk.
inline std::span<aiNode* const> ChildrenOf(const aiNode& node) {
  if (node.mChildren == nullptr) return {};
  return {node.mChildren, node.mNumChildren};
}
