// Large grid models for the benchmarks, as binary PLY: columns x rows
// vertices joined by quads, which the import triangulates.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

// Writes the grid to path. properties names each vertex's float properties
// in file order; vertex(column, row, values) fills one vertex's values. A quad
// runs (c, r), (c + 1, r), (c + 1, r + 1), (c, r + 1), or the other way round
// with reversed set.
template <typename VertexFunction>
void WritePlyGrid(const std::filesystem::path& path, int columns, int rows,
                  std::initializer_list<const char*> properties, bool reversed, VertexFunction vertex) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "ply\nformat binary_little_endian 1.0\n"
      << "element vertex " << columns * rows << "\n";
  for (const char* property : properties) out << "property float " << property << "\n";
  out << "element face " << (columns - 1) * (rows - 1) << "\n"
      << "property list uchar int vertex_indices\nend_header\n";
  std::vector<float> values(properties.size());
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      vertex(c, r, values.data());
      out.write(reinterpret_cast<const char*>(values.data()), std::streamsize(values.size() * sizeof(float)));
    }
  }
  for (int r = 0; r + 1 < rows; ++r) {
    for (int c = 0; c + 1 < columns; ++c) {
      const int32_t i = r * columns + c;
      const uint8_t n = 4;
      const int32_t quad[4] = {i, reversed ? i + columns : i + 1, i + 1 + columns, reversed ? i + 1 : i + columns};
      out.write(reinterpret_cast<const char*>(&n), 1);
      out.write(reinterpret_cast<const char*>(quad), sizeof quad);
    }
  }
}
