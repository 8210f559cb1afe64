// Runs work on a thread with a large reserved stack. Assimp's importers and
// post-processing steps recurse over the scene's node tree, so a hostile file
// nesting tens of thousands of nodes overflows the main thread's few
// megabytes; the address space reserved here is committed only as it is used.
#pragma once

#include <cstddef>
#include <functional>

// Bytes of address space reserved for the stack.
inline constexpr size_t kLargeStackBytes = size_t{512} << 20;

// Calls work on a thread whose stack reserves kLargeStackBytes (less when the
// address space is limited, down to a few megabytes), waits for it and
// returns its result; an exception it throws is rethrown here. Called on
// such a thread already, or when no thread can be started at all, it calls
// work directly.
int RunOnLargeStack(const std::function<int()>& work);
