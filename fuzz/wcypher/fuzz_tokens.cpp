// Fuzz target: the integer token decoders (versions 1 and 2). The first 8 bytes are the
// key, the rest is the token text; an accepted token is what the encoder makes.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "shared-types/WCypher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int64_t key = 0;
  if (size >= 8) {
    std::memcpy(&key, data, 8);
    data += 8;
    size -= 8;
  }
  const std::string in(reinterpret_cast<const char*>(data), size);
  std::string lower = in;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

  int64_t v1 = 0x5a5a5a5a;
  const int rc1 = wcypher::denoise64(v1, in, key);
  FUZZ_CHECK(rc1 == 0 || rc1 == -1 || rc1 == -2 || rc1 == -11);
  if (rc1 == 0) {
    std::string again;
    wcypher::noise64(again, v1, key);
    FUZZ_CHECK(again == lower);
  } else {
    FUZZ_CHECK(v1 == 0x5a5a5a5a);
  }

  int64_t v2 = 0x5a5a5a5a;
  const int rc2 = wcypher::denoise64v2(v2, in, key);
  FUZZ_CHECK(rc2 == 0 || rc2 == -1 || rc2 == -2 || rc2 == -11);
  if (rc2 == 0) {
    std::string again;
    wcypher::noise64v2(again, v2, key);
    FUZZ_CHECK(again == lower);
  } else {
    FUZZ_CHECK(v2 == 0x5a5a5a5a);
  }
  return 0;
}
