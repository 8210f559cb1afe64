// The loading table shared by varndel_loading_bench and the harness built
// against the installed package (bench/installed): each way of loading a
// file runs in a fresh process of its own (this program again), so that its
// memory is fresh and its peak RSS its own. Uses the public headers only.
// POSIX only.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <varndel/mapped.h>
#include <varndel/reader.h>
#include <varndel/writer.h>

namespace loading_table {

inline volatile float sink;

// Writes model's file image to name in the temporary directory; its path.
inline std::string WriteTemporaryModel(const std::string& name, const varndel::Model& model) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  const std::string bytes = varndel::WriteModel(model);
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
  return path;
}

// The floor: the whole file into fresh memory that nothing has touched.
inline void PlainRead(const std::string& path) {
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

inline void ReadFile(const std::string& path) {
  varndel::Model model;
  if (!varndel::ReadModelFile(path, model)) std::abort();
  sink = float(model.meshes.size());
}

// How ReadModelFile worked before it read in place.
inline void WholeThenReadModel(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  varndel::Model model;
  if (!varndel::ReadModel(bytes.data(), bytes.size(), model)) std::abort();
  sink = float(model.meshes.size());
}

inline void OpenView(const std::string& path) {
  varndel::MappedModel view;
  if (!view.Open(path)) std::abort();
  sink = float(view.meshes().size());
}

inline void OpenViewTouchVertices(const std::string& path) {
  varndel::MappedModel view;
  if (!view.Open(path)) std::abort();
  float sum = 0;
  for (const varndel::MappedMesh& mesh : view.meshes())
    for (size_t i = 0; i < mesh.vertexCount(); ++i) sum += mesh.vertex(i).position[0];
  sink = sum;
}

inline void Nothing(const std::string&) {}

struct Way {
  const char* name;
  void (*load)(const std::string&);
};

// The first way is the floor the ratio column divides by; "nothing" comes
// last and gives the peak RSS of a process that loads nothing.
inline const std::vector<Way>& Ways() {
  static const std::vector<Way> ways = {{"plain read()", PlainRead},
                                        {"ReadModelFile", ReadFile},
                                        {"whole file, then ReadModel", WholeThenReadModel},
                                        {"MappedModel::Open", OpenView},
                                        {"Open + touch every vertex", OpenViewTouchVertices},
                                        {"nothing", Nothing}};
  return ways;
}

struct Figures {
  double wallMilliseconds;
  double cpuMilliseconds;  // user and system time of the process
  double peakMegabytes;    // VmHWM: ru_maxrss would carry the parent's over exec
};

inline double CpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

inline double PeakMegabytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;  // kB
  return 0;
}

// In the child (argv: self --child WAY PATH): loads, writes its figures to
// stdout and returns the exit code. Otherwise -1.
inline int RunChild(int argc, char** argv) {
  if (argc != 4 || std::string(argv[1]) != "--child") return -1;
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = CpuMilliseconds();
  Ways().at(std::stoul(argv[2])).load(argv[3]);
  const Figures figures{std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
                        CpuMilliseconds() - cpuStart, PeakMegabytes()};
  return write(1, &figures, sizeof figures) == sizeof figures ? 0 : 1;
}

inline Figures MeasureOnce(const char* self, size_t way, const std::string& path) {
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

// Prints the table for files (name, path), best of runs each. The ratio is
// of wall time: on a virtual machine the CPU time of a process need not
// count the page faults that a read() takes inside the kernel (on the
// development machine a 1 MB read showed 0.8 to 3.2 ms of CPU from run to
// run against a steady 3 ms of wall time), so only wall time compares the
// ways fairly.
inline void PrintTable(const char* self, const std::vector<std::pair<std::string, std::string>>& files, int runs) {
  const size_t wayCount = Ways().size() - 1;  // without "nothing"
  std::printf("| file | MB | way | wall ms | x read() | CPU ms | peak RSS MB |\n");
  std::printf("|---|---:|---|---:|---:|---:|---:|\n");
  const double alone = MeasureOnce(self, wayCount, "").peakMegabytes;
  for (const auto& [name, path] : files) {
    const double megabytes = double(std::filesystem::file_size(path)) / 1e6;
    // Runs interleaved, so that a busy moment of the machine hits every way;
    // the best time of each, and its largest peak.
    std::vector<Figures> best(wayCount, Figures{1e300, 1e300, 0});
    for (int r = 0; r < runs; ++r)
      for (size_t w = 0; w < wayCount; ++w) {
        const Figures figures = MeasureOnce(self, w, path);
        best[w].wallMilliseconds = std::min(best[w].wallMilliseconds, figures.wallMilliseconds);
        best[w].cpuMilliseconds = std::min(best[w].cpuMilliseconds, figures.cpuMilliseconds);
        best[w].peakMegabytes = std::max(best[w].peakMegabytes, figures.peakMegabytes);
      }
    for (size_t w = 0; w < wayCount; ++w)
      std::printf("| %s | %.1f | %s | %.2f | %.2f | %.2f | %.1f |\n", name.c_str(), megabytes, Ways()[w].name,
                  best[w].wallMilliseconds, best[w].wallMilliseconds / best[0].wallMilliseconds,
                  best[w].cpuMilliseconds, best[w].peakMegabytes);
    std::fflush(stdout);
  }
  std::printf("\nBest of %d runs each. Peak RSS of the process doing nothing: %.1f MB.\n", runs, alone);
}

}  // namespace loading_table
