// Fuzz target: the serialized list decoder. A decoded list serializes back to its input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "shared-types/WCypher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> list{"stale"};
  const int rc = wcypher::deserialize0(list, in);
  if (rc == 0) {
    std::string again;
    FUZZ_CHECK(wcypher::serialize0(again, list, 0) == 0);
    if (list.empty())
      FUZZ_CHECK(in.empty() || in == std::string(4, '\0'));
    else
      FUZZ_CHECK(again == in);
  } else {
    FUZZ_CHECK(rc == -3);
    size_t bytes = 0;
    for (const auto& item : list) bytes += 4 + item.size();
    FUZZ_CHECK(bytes + 4 <= size || list.empty());
  }
  return 0;
}
