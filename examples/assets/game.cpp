// The example game's loader: reads every model the build compiled.
#include <varndel/reader.h>

#include <cstdio>

int main() {
  const char* const models[] = {GAME_MODELS};
  int failures = 0;
  for (const char* path : models) {
    varndel::Model model;
    varndel::ReadError error;
    if (!varndel::ReadModelFile(path, model, &error)) {
      std::fprintf(stderr, "game: %s: %s\n", path, varndel::FormatReadError(error).c_str());
      ++failures;
      continue;
    }
    std::printf("loaded %s: %zu meshes, %zu nodes\n", path, model.meshes.size(), model.animation.nodes.size());
  }
  return failures == 0 ? 0 : 1;
}
