// Fuzz target: the envelope decoder. Byte 0 selects the method (0, 2, 255 or the byte
// itself) and whether the rest is a token (bit 7 clear) or a payload that is sealed,
// scrambled and Base64-encoded here first, so that decompression, the list decoder and
// the version and time checks are reached too. Byte 1 is the hash kind, byte 2 the
// secret length (mod 33), then the secret and the token or payload.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "shared-types/WCypher.h"
#include "shared-types/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int methods[4] = {0, 2, 255, data[0] & 0x7f};
  const int method = methods[(data[0] >> 5) & 3];
  const bool wrap = (data[0] & 0x80) != 0;
  const int kind = data[1];
  const int flags = (kind << 8) | method;
  size_t secret_len = data[2] % 33;
  if (secret_len > size - 3) secret_len = size - 3;
  const std::string secret(reinterpret_cast<const char*>(data + 3), secret_len);
  std::string in(reinterpret_cast<const char*>(data + 3 + secret_len), size - 3 - secret_len);
  if (wrap) {
    std::string sealed;
    wcypher::attach_hashed_secret0(sealed, in, secret, kind, 0);
    wcypher::noise(sealed);
    encodeBase64(in, sealed, 0, (data[0] & 1) != 0);
  }

  for (uint64_t max_age : {uint64_t{0}, uint64_t{60}}) {
    std::vector<std::string> parts{"stale"};
    const int rc = wcypher::wma_decode0(parts, in, secret, flags, max_age);
    FUZZ_CHECK(rc == 0 || rc == -3 || rc == -5 || rc == -7 || rc == -9 || rc == -12 || rc == -13 ||
               rc == -15);
    if (rc != 0 && rc != -13) FUZZ_CHECK(parts.empty());
    if (max_age == 0) FUZZ_CHECK(rc != -13);
    if (rc == 0 && max_age == 0 && (method == 0 || method == 2 || method == 255)) {
      // What decodes re-encodes and decodes to the same parts. (An empty sealed payload
      // decodes with any method, but only these methods encode.)
      std::string token;
      FUZZ_CHECK(wcypher::wma_encode0(token, parts, secret, flags, 0) == 0);
      std::vector<std::string> back;
      FUZZ_CHECK(wcypher::wma_decode0(back, token, secret, flags, 60) == 0);
      FUZZ_CHECK(back == parts);
    }
  }
  return 0;
}
