#include "model/model.h"

ModelContainer modelContainer;

HierarchyNode::~HierarchyNode() {
  std::vector<HierarchyNode> pending = std::move(children);
  while (!pending.empty()) {
    HierarchyNode node = std::move(pending.back());
    pending.pop_back();
    for (HierarchyNode& child : node.children) pending.push_back(std::move(child));
    node.children.clear();  // node now dies without recursing
  }
}
