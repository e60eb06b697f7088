// Fuzzes the reader of "partition-<i>" meta values: any bytes either fail (0) or decode to a
// path and keyMin that the writer turns back into a value the reader reads identically.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "src/wdb/kc/SKV_ContMKCStg_priv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xstring path = "p", keyMin = "k";
  const uint32_t n = wdb::decodeMetaEntry(data, size, &path, &keyMin);
  if (n == 0) {
    FUZZ_CHECK(path == "p" && keyMin == "k");  // a failed read leaves the outputs
    return 0;
  }
  FUZZ_CHECK(n <= size);
  const xstring again = wdb::encodeMetaEntry(path, keyMin);
  FUZZ_CHECK(again.size() == 15 + path.size() + keyMin.size());
  xstring path2, keyMin2;
  FUZZ_CHECK(wdb::decodeMetaEntry(again.data(), again.size(), &path2, &keyMin2) == again.size());
  FUZZ_CHECK(path2 == path && keyMin2 == keyMin);
  return 0;
}
