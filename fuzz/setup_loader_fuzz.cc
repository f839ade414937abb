// Feeds arbitrary bytes to the setup-file loader. Whatever loads must save and load again to the
// very same setup, and saving that must give the very same text; a refusal must say why. Anything
// else aborts.
//
// Build with clang and run for ten minutes from a copy of the seeds (fuzz-corpus/ is ignored):
//   export CXX=clang++
//   scripts/build.sh build-fuzz -DAXIS_FUZZ=ON -DAXIS_BUILD_TESTS=OFF -DAXIS_BUILD_BENCH=OFF
//   mkdir -p fuzz-corpus && cp fuzz/corpus/* fuzz-corpus/
//   build-fuzz/bin/setup_loader_fuzz -dict=fuzz/setup.dict -max_total_time=600 fuzz-corpus
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/setup_file.h"

namespace {

[[noreturn]] void Mismatch(const char* what, const std::string& detail) {
  std::fprintf(stderr, "setup round trip broken: %s\n%s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const axis::LoadResult first = axis::LoadSetupText(text, "fuzz");
  if (!first) {
    if (first.error.empty()) Mismatch("a refused input came without a reason", "");
    return 0;
  }
  const std::string saved = axis::SetupToText(*first.setup);
  const axis::LoadResult second = axis::LoadSetupText(saved, "saved");
  if (!second) Mismatch("the saved text does not load", second.error + "\n" + saved);
  const std::string difference = axis::FirstDifference(*first.setup, *second.setup);
  if (!difference.empty()) Mismatch("the reloaded setup differs", difference);
  if (axis::SetupToText(*second.setup) != saved) Mismatch("saving again changed the text", saved);
  return 0;
}
