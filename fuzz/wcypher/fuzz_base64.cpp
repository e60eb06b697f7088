// Fuzz target: Base64 decoding of the codecs' alphabet. What decodes re-encodes and
// decodes to the same bytes; the wrapper agrees with decodeBase64.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "shared-types/WCypher.h"
#include "shared-types/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  std::string out = "untouched";
  const bool ok = decodeBase64(out, in, size);
  if (size % 4 == 1) {
    FUZZ_CHECK(!ok && out == "untouched");
  }
  if (out != "untouched") FUZZ_CHECK(out.size() <= size / 4 * 3 + 2);
  if (ok) {
    for (bool pad : {false, true}) {
      std::string text, back;
      encodeBase64(text, out, 0, pad);
      FUZZ_CHECK(text.size() <= size || pad);
      FUZZ_CHECK(decodeBase64(back, text, 0) && back == out);
    }
  }
  std::string wrapped;
  const int rc = wcypher::base64_decode0(wrapped, in, 0);
  FUZZ_CHECK(rc == 0 || rc == -7);
  FUZZ_CHECK((rc == 0) == (ok || size == 0));
  if (rc == 0 && size != 0) FUZZ_CHECK(wrapped == out);
  return 0;
}
