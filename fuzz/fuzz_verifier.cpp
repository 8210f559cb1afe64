// libFuzzer target: arbitrary bytes as the compiled file that the read-back
// verifier checks against one fixed small animated container. The verifier
// opens its file by path, as it opens the real output; each input goes into
// one in-memory file (memfd), reopened through /proc/self/fd, so an input
// costs no disk I/O. The report is formatted in full and then discarded.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>

#include "fuzz/fuzz_container.h"
#include "model/model.h"

namespace {

// Accepts and drops everything written to it.
class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

int inputFile = -1;
std::string inputPath;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  inputFile = memfd_create("varndel-fuzz-input", 0);
  if (inputFile < 0) {
    std::perror("memfd_create");
    std::abort();
  }
  inputPath = "/proc/self/fd/" + std::to_string(inputFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ModelContainer container = MakeFuzzContainer();
  if (ftruncate(inputFile, 0) != 0 || pwrite(inputFile, data, size, 0) != static_cast<ssize_t>(size)) {
    std::perror("writing the input file");
    std::abort();
  }
  NullBuffer discard;
  std::ostream report(&discard);
  VerifyModelFile(inputPath, container, report);
  return 0;
}
