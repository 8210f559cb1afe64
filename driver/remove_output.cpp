#include <filesystem>

#include "model/model.h"

void RemoveOutputFile() { RemoveOutputFile(modelContainer); }

// A missing file is no error; a file that cannot be deleted throws.
void RemoveOutputFile(const ModelContainer& mc) { std::filesystem::remove(OutputPathOf(mc)); }
