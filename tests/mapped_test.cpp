// The mapped view and the in-place file reader against ReadModel: the same
// verdict on compiled fixtures and seeds, on files larger than the file
// reader's buffer, and on what is no regular file.
#include <gtest/gtest.h>
#include <varndel/mapped.h>
#include <varndel/reader.h>
#include <varndel/writer.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tests/read_agreement.h"
#include "tests/test_support.h"

namespace {

// Every fixture compiled static and animated, and the fuzz seeds (compiled
// examples): accepted alike, with the same values.
TEST(MappedModel, AgreesWithReadModelOnCompiledFixturesAndSeeds) {
  ScratchDir dir;
  fs::copy(VARNDEL_FIXTURES, dir.path / "in", fs::copy_options::recursive);
  size_t compiled = 0;
  for (const auto& entry : fs::directory_iterator(dir.path / "in")) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".mtl" || extension == ".png" || extension == ".py") continue;
    for (const char* animated : {"0", "1"}) {
      const std::string output = entry.path().stem().string() + (animated[0] == '1' ? ".animbin" : ".staticbin");
      if (RunVarndel({animated, "0", entry.path().filename().string()}, dir.path / "in").exitCode != 0) continue;
      SCOPED_TRACE(output);
      EXPECT_TRUE(ExpectOneVerdict(ReadFile(dir.path / "in" / output), dir.path / "copy.bin"));
      ++compiled;
    }
  }
  EXPECT_GE(compiled, 10u);
  const fs::path corpus = fs::path(VARNDEL_FIXTURES).parent_path().parent_path() / "fuzz" / "corpus";
  for (const char* target : {"reader", "inspect"}) {
    for (const auto& entry : fs::directory_iterator(corpus / target)) {
      SCOPED_TRACE(entry.path().string());
      EXPECT_TRUE(ExpectOneVerdict(ReadFile(entry.path()), dir.path / "copy.bin"));
    }
  }
}

// 200 meshes with long texture paths, one path and one vertex block larger
// than the file reader's buffer: fields straddle every refill. Cuts through
// the whole file agree as well, and the view reads records at odd addresses.
TEST(MappedModel, AgreesOnAFileLargerThanTheReadBuffer) {
  varndel::Model model;
  for (int m = 0; m < 200; ++m) {
    varndel::MeshData& mesh = model.meshes.emplace_back();
    mesh.vertices.resize(m == 7 ? 1500 : 3);
    for (size_t v = 0; v < mesh.vertices.size(); ++v) mesh.vertices[v].position = {float(m), float(v), -1.0f};
    mesh.indices = {0, 1, 2, uint32_t(m)};
    mesh.textures.push_back({std::string(m == 11 ? 40000 : 300 + m, 'a' + m % 26), 1});
    mesh.textures.push_back({"z" + std::to_string(m), 6});
  }
  model.textureCount = 400;
  const std::string bytes = varndel::WriteModel(model);
  ASSERT_GT(bytes.size(), size_t{3} << 16);
  ScratchDir dir;
  ASSERT_TRUE(ExpectOneVerdict(bytes, dir.path / "big.bin"));
  for (size_t length = 0; length < bytes.size(); length += 4093) {
    SCOPED_TRACE(length);
    ExpectOneVerdict(bytes.substr(0, length), dir.path / "cut.bin");
  }

  const std::string shifted = "x" + bytes;
  varndel::MappedModel view;
  ASSERT_TRUE(view.Open(shifted.data() + 1, bytes.size()));
  EXPECT_EQ(varndel::WriteModel(ModelShownBy(view)), bytes);
}

// Every compiled file below $VARNDEL_SURVEY_DIR, as
// tools/survey_mapped_agreement.sh leaves them after compiling a corpus.
TEST(MappedModel, AgreesOnEveryFileOfASurvey) {
  const char* survey = std::getenv("VARNDEL_SURVEY_DIR");
  if (survey == nullptr) GTEST_SKIP() << "run by tools/survey_mapped_agreement.sh";
  ScratchDir dir;
  size_t accepted = 0;
  for (const auto& entry : fs::recursive_directory_iterator(survey)) {
    const std::string extension = entry.path().extension().string();
    if (extension != ".staticbin" && extension != ".animbin") continue;
    SCOPED_TRACE(entry.path().string());
    EXPECT_TRUE(ExpectOneVerdict(ReadFile(entry.path()), dir.path / "copy.bin"));
    ++accepted;
  }
  std::printf("%zu files read alike four ways\n", accepted);
  EXPECT_GT(accepted, 0u);
}

// What is no regular file is refused before mapping, with ReadModelFile's
// reason; a view outlives the name of its file and survives a move.
TEST(MappedModel, RefusesWhatIsNoRegularFileAndOwnsItsMapping) {
  ScratchDir dir;
  std::vector<fs::path> refused = {dir.path / "missing.staticbin", dir.path};
#ifndef _WIN32
  ASSERT_EQ(mkfifo((dir.path / "pipe").c_str(), 0600), 0);
  refused.push_back(dir.path / "pipe");
  refused.push_back("/dev/null");
#endif
  for (const fs::path& path : refused) {
    SCOPED_TRACE(path.string());
    varndel::Model model;
    varndel::ReadError expected, error;
    EXPECT_FALSE(varndel::ReadModelFile(path.string(), model, &expected));
    varndel::MappedModel view;
    EXPECT_FALSE(view.Open(path.string(), &error));
    EXPECT_EQ(varndel::FormatReadError(error), varndel::FormatReadError(expected));
    EXPECT_EQ(error.offset, 0u);
    EXPECT_TRUE(error.field.empty());
  }

  varndel::Model model;
  model.meshes.emplace_back().vertices.resize(2);
  model.meshes[0].indices = {1, 0, 1};
  const std::string bytes = varndel::WriteModel(model);
  WriteFile(dir.path / "m.staticbin", bytes);
  varndel::MappedModel opened;
  ASSERT_TRUE(opened.Open((dir.path / "m.staticbin").string()));
  fs::remove(dir.path / "m.staticbin");
  const void* vertices = opened.meshes()[0].vertexData();
  varndel::MappedModel moved = std::move(opened);
  EXPECT_FALSE(opened.isOpen());
  ASSERT_EQ(moved.meshes().size(), 1u);
  EXPECT_EQ(moved.meshes()[0].vertexData(), vertices);
  EXPECT_EQ(moved.meshes()[0].index(2), 1u);
  EXPECT_EQ(varndel::WriteModel(ModelShownBy(moved)), bytes);
}

#ifdef __linux__
// Bytes of the file at path that the page cache holds.
size_t CachedBytes(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  struct stat status {};
  fstat(fd, &status);
  const size_t size = size_t(status.st_size), page = size_t(sysconf(_SC_PAGESIZE));
  void* map = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  std::vector<unsigned char> resident((size + page - 1) / page);
  mincore(map, size, resident.data());
  munmap(map, size);
  close(fd);
  size_t cached = 0;
  for (const unsigned char flags : resident) cached += (flags & 1) * page;
  return cached;
}

// Opening a file that is not in the page cache reads its headers, not its
// blocks: no read-ahead while the walk skips from header to header.
TEST(MappedModel, OpeningAColdFileReadsItsHeadersOnly) {
  varndel::Model model;
  for (int m = 0; m < 8; ++m) model.meshes.emplace_back().vertices.resize(24000);  // 2 MB each
  ScratchDir dir;
  const fs::path path = dir.path / "cold.staticbin";
  WriteFile(path, varndel::WriteModel(model));
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(fdatasync(fd), 0);
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  close(fd);
  if (CachedBytes(path) > (size_t{64} << 10)) GTEST_SKIP() << "this file system keeps the file in memory";

  varndel::MappedModel view;
  ASSERT_TRUE(view.Open(path.string()));
  EXPECT_LE(CachedBytes(path), size_t{512} << 10) << "of " << fs::file_size(path) << " bytes";
}
#endif

}  // namespace
