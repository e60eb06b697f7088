// Builds pooled statics (namespace scope and function-local) and containers, and returns
// from main: the statics go first, then MopraX's exit handler stops the allocator. Exits 0
// with no leak report from the stop and no sanitizer report.
#include <cstdio>
#include <string>

#include "shared-types/MopraX_impl.h"
#include "shared-types/mopra_containers.h"

namespace {

mopra::string_vector g_names{"alpha", "beta"};
mopra::int_string_map g_map{{1, "one"}, {2, "two"}};

mopra::strholder_vector& cached_holders() {
  static mopra::strholder_vector holders;
  return holders;
}

}  // namespace

int main() {
  for (int i = 0; i < 1000; ++i) g_names.push_back(std::to_string(i));
  mopra::conv_list_str(cached_holders(), g_names);
  mopra::StrHolder out;
  if (mopra::serialize2(out, cached_holders(), 0) != 0) return 1;
  mopra::string_vector back;
  if (mopra::deserialize(back, out) != 0 || back != g_names) return 2;
  g_map[3] = mopra::info();
  std::printf("pooled containers built: %zu holders\n", cached_holders().size());
  std::fflush(stdout);  // the allocator's stop line follows on standard error
  return 0;
}
