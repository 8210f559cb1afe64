// The library report against drawing its pictures alone, in one process and
// with the same threads: the report's whole work per file (read, json's
// figures, check, textures, LODs, pictures as PNG data) plus the page, against
// reading each file and drawing and encoding the same pictures. Not a test.
// Usage: varndel_report_figures <jobs> <library-dir> [repeats]
#include <varndel/reader.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "inspect/library_report.h"
#include "inspect/render/render.h"

namespace {

double Seconds(const std::function<void()>& work, int repeats) {
  double best = 1e30;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

void InParallel(size_t jobs, size_t count, const std::function<void(size_t)>& each) {
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i = next++; i < count; i = next++) each(i);
  };
  std::vector<std::thread> threads;
  for (size_t t = 1; t < jobs; ++t) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <jobs> <library-dir> [repeats]\n", argv[0]);
    return 2;
  }
  const size_t jobs = std::max(1, std::atoi(argv[1]));
  const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  std::vector<inspect::LibraryFile> files;
  std::string error;
  if (!inspect::FindCompiledFiles({argv[2]}, files, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  const inspect::PictureOptions options;  // what the report draws by default

  size_t pageBytes = 0;
  const double report = Seconds(
      [&] {
        std::vector<nlohmann::json> entries(files.size());
        InParallel(jobs, files.size(), [&](size_t i) { entries[i] = inspect::DescribeLibraryFile(files[i], options); });
        pageBytes = inspect::WriteReportPage(nlohmann::json{{"files", std::move(entries)}}).size();
      },
      repeats);
  const double pictures = Seconds(
      [&] {
        InParallel(jobs, files.size(), [&](size_t i) {
          varndel::Model model;
          if (!varndel::ReadModelFile(files[i].path, model)) return;
          render::Request request;
          request.width = options.width;
          request.height = options.height;
          request.frames = model.animated ? options.frames : 0;
          request.pixelTests = options.pixelTests;
          std::vector<std::string> warnings;
          std::string png;
          render::EncodePng(render::DrawPicture(model, files[i].path, request, warnings), png);
        });
      },
      repeats);
  std::printf("%zu files, -j %zu: report %.3f s, pictures alone %.3f s, ratio %.2f; page %.1f MiB\n", files.size(),
              jobs, report, pictures, report / pictures, double(pageBytes) / (1 << 20));
  return 0;
}
