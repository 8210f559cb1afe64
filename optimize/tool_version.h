// The --version text of the tools around the compiler: the tool's version
// and those of the libraries that decide what the tools write (Assimp, for
// the compiler's stages; meshoptimizer, for the optimisation step). The
// build passes VARNDEL_VERSION and VARNDEL_ASSIMP_VERSION to each tool.
#pragma once

#include <meshoptimizer.h>

#include <string>

namespace varndel {

inline std::string ToolVersionText(const std::string& tool) {
  // MESHOPTIMIZER_VERSION is major * 1000 + minor * 10 (180: 0.18).
  return tool + " " VARNDEL_VERSION "\nAssimp " VARNDEL_ASSIMP_VERSION "\nmeshoptimizer " +
         std::to_string(MESHOPTIMIZER_VERSION / 1000) + "." + std::to_string(MESHOPTIMIZER_VERSION % 1000 / 10) + "\n";
}

}  // namespace varndel
