// Times varndel-inspect's info and check on a compiled file of about 336 MB
// (one grid mesh of 2000 x 1500 vertices and 6 million triangles) against a
// plain read of the same file and against the reader alone. The file stays
// in the temporary directory so that the binary can be measured on it too
// (peak memory with /usr/bin/time -v).
#include <benchmark/benchmark.h>
#include <varndel/mapped.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "inspect/report.h"

namespace {

constexpr uint32_t kColumns = 2000;
constexpr uint32_t kRows = 1500;

template <typename T>
void Put(std::ofstream& out, const T& value) {
  out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

// The static file layout written row by row, so that generating it needs no
// more memory than one row: header, one mesh (vertices, indices, no
// textures).
const std::string& GridFile() {
  static const std::string path = [] {
    const std::string file = (std::filesystem::temp_directory_path() / "varndel-bench-inspect.staticbin").string();
    const uint64_t triangles = 2ull * (kColumns - 1) * (kRows - 1);
    const uint64_t expectedSize = 12 + 4 + 88ull * kColumns * kRows + 4 + 12 * triangles + 2;
    std::error_code ignored;
    if (std::filesystem::file_size(file, ignored) == expectedSize) return file;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    Put(out, uint8_t{0});   // static
    Put(out, uint8_t{0});   // flipUVs
    Put(out, uint64_t{1});  // meshes
    Put(out, uint16_t{0});  // distinct textures
    Put(out, uint32_t{kColumns * kRows});
    std::vector<varndel::Vertex> row(kColumns);
    for (uint32_t r = 0; r < kRows; ++r) {
      for (uint32_t c = 0; c < kColumns; ++c) {
        varndel::Vertex& v = row[c];
        v.position = {float(c), float(r), 0};
        v.normal = {0, 0, 1};
        v.texCoords = {float(c) / kColumns, float(r) / kRows};
        v.tangent = {1, 0, 0};
        v.bitangent = {0, 1, 0};
      }
      out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size() * sizeof(varndel::Vertex)));
    }
    Put(out, uint32_t(3 * triangles));
    std::vector<uint32_t> indices;
    for (uint32_t r = 0; r + 1 < kRows; ++r) {
      indices.clear();
      for (uint32_t c = 0; c + 1 < kColumns; ++c) {
        const uint32_t i = r * kColumns + c;
        for (uint32_t corner : {i, i + 1, i + 1 + kColumns, i, i + 1 + kColumns, i + kColumns}) {
          indices.push_back(corner);
        }
      }
      out.write(reinterpret_cast<const char*>(indices.data()), std::streamsize(indices.size() * sizeof(uint32_t)));
    }
    Put(out, uint16_t{0});  // mesh textures
    if (!out) std::cerr << "cannot write " << file << "\n";
    return file;
  }();
  return path;
}

void SetBytes(benchmark::State& state) {
  state.counters["MB"] = double(std::filesystem::file_size(GridFile())) / 1e6;
}

// The bytes into memory and nothing else: the floor for every command.
void PlainRead(benchmark::State& state) {
  GridFile();  // generated outside the timing
  for (auto _ : state) {
    std::ifstream in(GridFile(), std::ios::binary);
    std::string bytes(std::filesystem::file_size(GridFile()), '\0');
    in.read(bytes.data(), std::streamsize(bytes.size()));
    benchmark::DoNotOptimize(bytes.data());
  }
  SetBytes(state);
}

void ReaderOnly(benchmark::State& state) {
  GridFile();  // generated outside the timing
  for (auto _ : state) {
    varndel::Model model;
    if (!varndel::ReadModelFile(GridFile(), model)) state.SkipWithError("unreadable");
    benchmark::DoNotOptimize(model.meshes.data());
  }
  SetBytes(state);
}

void Info(benchmark::State& state) {
  GridFile();  // generated outside the timing
  for (auto _ : state) {
    varndel::MappedModel view;
    if (!view.Open(GridFile())) state.SkipWithError("unreadable");
    std::ostringstream out;
    inspect::WriteInfo(out, GridFile(), view, 0, inspect::Palette{});
    benchmark::DoNotOptimize(out.str().size());
  }
  SetBytes(state);
}

void Check(benchmark::State& state) {
  GridFile();  // generated outside the timing
  for (auto _ : state) {
    varndel::Model model;
    if (!varndel::ReadModelFile(GridFile(), model)) state.SkipWithError("unreadable");
    const std::vector<inspect::Finding> findings = inspect::CheckModel(model, GridFile());
    if (!findings.empty()) state.SkipWithError(findings.front().message.c_str());
  }
  SetBytes(state);
}

}  // namespace

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(ReaderOnly)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(Info)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(Check)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

BENCHMARK_MAIN();
