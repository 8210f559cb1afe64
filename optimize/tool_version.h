// The --version text of the tools around the compiler: the tool's version
// and those of the libraries that decide what the tools write (Assimp, for
// the compiler's stages; meshoptimizer, for the optimisation step). The
// build passes VARNDEL_VERSION and VARNDEL_ASSIMP_VERSION to each tool.
#pragma once

#include <string>

namespace varndel {

// The meshoptimizer the optimisation step was built with, as "major.minor".
// Defined beside that step, so the tools need not see meshoptimizer's headers.
std::string MeshoptimizerVersionText();

inline std::string ToolVersionText(const std::string& tool) {
  return tool + " " VARNDEL_VERSION "\nAssimp " VARNDEL_ASSIMP_VERSION "\nmeshoptimizer " + MeshoptimizerVersionText() +
         "\n";
}

}  // namespace varndel
