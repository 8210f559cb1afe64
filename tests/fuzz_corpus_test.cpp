// The fuzz targets' seeds, and the inputs the fuzzers found, replayed through
// the normal and sanitizer builds.
#include <varndel/reader.h>

#include "fuzz/fuzz_container.h"
#include "tests/verify_helpers.h"

static fs::path CorpusPath(const std::string& target) {
  return fs::path(VARNDEL_FIXTURES).parent_path().parent_path() / "fuzz" / "corpus" / target;
}

TEST(FuzzCorpus, VerifierSeedIsTheFixedContainersMatchingImage) {
  // Mutations of a matching file reach the comparisons that only run while
  // counts agree.
  const ModelContainer mc = MakeFuzzContainer();
  const std::string image = ImageOf(mc);
  EXPECT_EQ(ReadFile(CorpusPath("verifier") / "container"), image);
  const Report report = VerifyImage(mc, image);
  EXPECT_FALSE(report.mismatch) << report.text;
}

TEST(FuzzCorpus, ReaderAndInspectorSeedsAreFilesTheReaderAccepts) {
  // Compiled examples, static and animated; a seed the reader refused would
  // start every mutation at the first error (and the inspector's target
  // would never get past the reader).
  size_t seeds = 0;
  for (const char* target : {"reader", "inspect"}) {
    for (const auto& entry : fs::directory_iterator(CorpusPath(target))) {
      const std::string bytes = ReadFile(entry.path());
      varndel::Model model;
      varndel::ReadError error;
      EXPECT_TRUE(varndel::ReadModel(bytes.data(), bytes.size(), model, &error))
          << target << "/" << entry.path().filename() << ": " << varndel::FormatReadError(error);
      ++seeds;
    }
  }
  EXPECT_GE(seeds, 14u);
}
