// Loading figures, side by side on three files: a 1024 x 600 grid (1.2 M
// triangles), a model of 200 meshes and the baked 60-bone, 10 s clip. Each
// way of loading runs in a child process of its own, so that its peak RSS is
// its own: a plain read() into fresh memory (the floor), ReadModelFile, the
// whole file then ReadModel (how ReadModelFile worked before it read in
// place), opening a MappedModel, and opening one and touching every vertex.
// Times are the best of several interleaved runs, each in a fresh process,
// with the file in the page cache.
// POSIX only. Usage: varndel_loading_bench [runs [file]], file a part of
// a file's name in the table ("clip") to time that file alone.
#include <fcntl.h>
#include <time.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <varndel/mapped.h>
#include <varndel/reader.h>
#include <varndel/writer.h>

#include "bench/baked_clip.h"

namespace {

// A w x h grid of vertices in one mesh, two triangles per cell.
varndel::MeshData Grid(uint32_t w, uint32_t h) {
  varndel::MeshData mesh;
  mesh.vertices.resize(size_t(w) * h);
  for (uint32_t r = 0; r < h; ++r)
    for (uint32_t c = 0; c < w; ++c) {
      varndel::Vertex& v = mesh.vertices[size_t(r) * w + c];
      v.position = {float(c), float(r), 0};
      v.normal = {0, 0, 1};
      v.texCoords = {float(c) / float(w), float(r) / float(h)};
    }
  for (uint32_t r = 0; r + 1 < h; ++r)
    for (uint32_t c = 0; c + 1 < w; ++c) {
      const uint32_t i = r * w + c;
      mesh.indices.insert(mesh.indices.end(), {i, i + 1, i + w, i + 1, i + w + 1, i + w});
    }
  return mesh;
}

std::string WriteBenchFile(const std::string& name, const varndel::Model& model) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  const std::string bytes = varndel::WriteModel(model);
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
  return path;
}

std::vector<std::pair<std::string, std::string>> BenchFiles() {
  varndel::Model grid;
  grid.meshes.push_back(Grid(1024, 600));
  varndel::Model meshes;
  for (int m = 0; m < 200; ++m) {
    meshes.meshes.push_back(Grid(64, 32));
    meshes.meshes.back().textures = {{"textures\\mesh" + std::to_string(m) + "_diffuse.png", 1},
                                     {"textures\\mesh" + std::to_string(m) + "_normals.png", 6}};
  }
  meshes.textureCount = 400;
  return {{"grid 1024x600", WriteBenchFile("varndel-bench-load-grid.staticbin", grid)},
          {"200 meshes", WriteBenchFile("varndel-bench-load-meshes.staticbin", meshes)},
          {"baked clip", WriteBenchFile("varndel-bench-load-clip.animbin", MakeBakedClip())}};
}

volatile float sink;

void PlainRead(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  struct stat status {};
  fstat(fd, &status);
  const size_t size = size_t(status.st_size);
  std::unique_ptr<char[]> bytes(new char[size]);  // fresh, not zero-filled
  for (size_t done = 0; done < size;) {
    const ssize_t got = read(fd, bytes.get() + done, size - done);
    if (got <= 0) std::abort();
    done += size_t(got);
  }
  close(fd);
  sink = float(bytes[size / 2]);
}

void ReadFile(const std::string& path) {
  varndel::Model model;
  if (!varndel::ReadModelFile(path, model)) std::abort();
  sink = float(model.meshes.size());
}

void WholeThenReadModel(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  varndel::Model model;
  if (!varndel::ReadModel(bytes.data(), bytes.size(), model)) std::abort();
  sink = float(model.meshes.size());
}

void OpenView(const std::string& path) {
  varndel::MappedModel view;
  if (!view.Open(path)) std::abort();
  sink = float(view.meshes().size());
}

void OpenViewTouchVertices(const std::string& path) {
  varndel::MappedModel view;
  if (!view.Open(path)) std::abort();
  float sum = 0;
  for (const varndel::MappedMesh& mesh : view.meshes())
    for (size_t i = 0; i < mesh.vertexCount(); ++i) sum += mesh.vertex(i).position[0];
  sink = sum;
}

void Nothing(const std::string&) {}

struct Way {
  const char* name;
  void (*load)(const std::string&);
};
const Way kWays[] = {{"plain read()", PlainRead},
                     {"ReadModelFile", ReadFile},
                     {"whole file, then ReadModel", WholeThenReadModel},
                     {"MappedModel::Open", OpenView},
                     {"Open + touch every vertex", OpenViewTouchVertices},
                     {"nothing", Nothing}};

struct Figures {
  double wallMilliseconds;
  double cpuMilliseconds;  // user and system time of the process
  double peakMegabytes;    // VmHWM: ru_maxrss would carry the parent's over exec
};

double CpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double PeakMegabytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;  // kB
  return 0;
}

// One load in a fresh process (this program again), so that its memory is
// fresh and its peak RSS its own.
Figures MeasureOnce(const char* self, size_t way, const std::string& path) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) std::abort();
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], 1);
    close(pipeEnds[0]);
    const std::string index = std::to_string(way);
    execl(self, self, "--child", index.c_str(), path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  Figures figures{};
  if (read(pipeEnds[0], &figures, sizeof figures) != sizeof figures) std::abort();
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child") {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuMilliseconds();
    kWays[std::stoul(argv[2])].load(argv[3]);
    const Figures figures{
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
        CpuMilliseconds() - cpuStart, PeakMegabytes()};
    return write(1, &figures, sizeof figures) == sizeof figures ? 0 : 1;
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const size_t kWayCount = std::size(kWays) - 1;  // without "nothing"
  std::printf("| file | MB | way | CPU ms | x read() | wall ms | peak RSS MB |\n");
  std::printf("|---|---:|---|---:|---:|---:|---:|\n");
  const auto files = BenchFiles();
  const double alone = MeasureOnce(argv[0], kWayCount, "").peakMegabytes;
  for (const auto& [name, path] : files) {
    if (argc > 2 && name.find(argv[2]) == std::string::npos) continue;
    const double megabytes = double(std::filesystem::file_size(path)) / 1e6;
    // Runs interleaved, so that a busy moment of the machine hits every way;
    // the best time of each, and its largest peak.
    std::vector<Figures> best(kWayCount, Figures{1e300, 1e300, 0});
    for (int r = 0; r < runs; ++r)
      for (size_t w = 0; w < kWayCount; ++w) {
        const Figures figures = MeasureOnce(argv[0], w, path);
        best[w].wallMilliseconds = std::min(best[w].wallMilliseconds, figures.wallMilliseconds);
        best[w].cpuMilliseconds = std::min(best[w].cpuMilliseconds, figures.cpuMilliseconds);
        best[w].peakMegabytes = std::max(best[w].peakMegabytes, figures.peakMegabytes);
      }
    for (size_t w = 0; w < kWayCount; ++w)
      std::printf("| %s | %.1f | %s | %.2f | %.2f | %.2f | %.1f |\n", name.c_str(), megabytes, kWays[w].name,
                  best[w].cpuMilliseconds, best[w].cpuMilliseconds / best[0].cpuMilliseconds,
                  best[w].wallMilliseconds, best[w].peakMegabytes);
    std::fflush(stdout);
  }
  std::printf("\nBest of %d runs each. Peak RSS of the process doing nothing: %.1f MB.\n", runs, alone);
  return 0;
}
