// The fuzz targets' seeds, and the inputs the fuzzers found, replayed through
// the normal and sanitizer builds.
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
