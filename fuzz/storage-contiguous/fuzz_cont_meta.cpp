// Fuzzes the reader of "partition-<i>" meta values: any bytes either fail (0) or decode to a
// path and keyMin that the writer turns back into a value the reader reads identically.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "src/wdb/kc/SKV_ContMKCStg_priv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xstring path = "p", keyMin = "k";
  const uint32_t n = wdb::decodeMetaEntry(data, size, &path, &keyMin);
  if (n == 0) {
    if (path != "p" || keyMin != "k") std::abort();  // a failed read leaves the outputs
    return 0;
  }
  if (n > size) std::abort();
  const xstring again = wdb::encodeMetaEntry(path, keyMin);
  if (again.size() != 15 + path.size() + keyMin.size()) std::abort();
  xstring path2, keyMin2;
  if (wdb::decodeMetaEntry(again.data(), again.size(), &path2, &keyMin2) != again.size() ||
      path2 != path || keyMin2 != keyMin)
    std::abort();
  return 0;
}
