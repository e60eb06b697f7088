// Fuzz target: hex decoding. Decoded bytes re-encode to the input in lower case.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "shared-types/WCypher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  std::string lower = in;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string out = "untouched";
  const int rc = wcypher::unhexing0(out, in, size % 7);
  std::string again;
  if (rc == 0) {
    FUZZ_CHECK(out.size() * 2 == size);
    wcypher::hexing0(again, out, 0);
    FUZZ_CHECK(again == lower);
  } else {
    FUZZ_CHECK(rc == -11);
    if (size % 2 != 0) {
      FUZZ_CHECK(out == "untouched");
    } else {
      // The bytes of the pairs before the bad one.
      FUZZ_CHECK(out.size() * 2 < size);
      wcypher::hexing0(again, out, 0);
      FUZZ_CHECK(lower.compare(0, again.size(), again) == 0);
    }
  }
  return 0;
}
