#include <meshoptimizer.h>

#include <string>

namespace varndel {

std::string MeshoptimizerVersionText() {
  // MESHOPTIMIZER_VERSION is major * 1000 + minor * 10 (180: 0.18).
  return std::to_string(MESHOPTIMIZER_VERSION / 1000) + "." + std::to_string(MESHOPTIMIZER_VERSION % 1000 / 10);
}

}  // namespace varndel
