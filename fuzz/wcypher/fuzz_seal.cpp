// Fuzz target: opening the hashed-secret seal. Byte 0 is the hash kind (signed), byte 1
// the secret length (mod 41), then the secret and the sealed bytes. An opened seal seals
// back to the same bytes; sealing the input opens to it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "shared-types/WCypher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int kind = static_cast<int8_t>(data[0]);
  size_t secret_len = data[1] % 41;
  if (secret_len > size - 2) secret_len = size - 2;
  const std::string secret(reinterpret_cast<const char*>(data + 2), secret_len);
  const std::string in(reinterpret_cast<const char*>(data + 2 + secret_len), size - 2 - secret_len);

  std::string out = "stale";
  const int rc = wcypher::detach_hashed_secret0(out, in, secret, kind, 0);
  if (rc == 0) {
    if (!out.empty()) {
      std::string again;
      FUZZ_CHECK(wcypher::attach_hashed_secret0(again, out, secret, kind, 0) == 0);
      FUZZ_CHECK(again == in);
    }
  } else {
    FUZZ_CHECK(rc == -15 && out.empty());
  }

  std::string sealed, opened;
  FUZZ_CHECK(wcypher::attach_hashed_secret0(sealed, in, secret, kind, 0) == 0);
  if (!in.empty()) {
    FUZZ_CHECK(wcypher::detach_hashed_secret0(opened, sealed, secret, kind, 0) == 0);
    FUZZ_CHECK(opened == in);
  }
  return 0;
}
