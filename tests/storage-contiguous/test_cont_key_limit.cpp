// A contiguous store in a process that has used up its thread-specific keys (Kyoto Cabinet
// takes two per open database): a put that needs a new partition fails with a line naming
// the cause, no record is lost, and a database closed elsewhere makes room again. Runs in
// a child process, since it uses up the process's keys.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/storage-contiguous/cont_test_util.h"
#include "tests/support/death_child.h"

using namespace conttest;

namespace {

std::string key(int i) {
  char k[16];
  std::snprintf(k, sizeof k, "k%05d", i);
  return k;
}

void scenario() {
  TmpDir dir, other;
  testing::internal::CaptureStdout();
  std::unique_ptr<wdb::SKV_ContMKCStg> store = makeStore(dir, 1000, 2);
  CHECK_OR_EXIT(store->open(kMode) == 0, 2);
  int next = 0;
  for (; next < 4; ++next) CHECK_OR_EXIT(put(*store, key(next), "v" + key(next)) == 0, 3);
  CHECK_OR_EXIT(waitKeyMax(*store), 4);
  // Every other key of the process taken by databases held open.
  std::vector<std::unique_ptr<wdb::SKV_KCStg>> fillers;
  for (int i = 0; i < 4000; ++i) {
    std::unique_ptr<wdb::SKV_KCStg> db(new wdb::SKV_KCStg());
    db->setDBPath(xs(other.file("f-" + std::to_string(i) + ".kch")));
    db->setTuneOptions("#bnum=64");
    int r = 0;
    stderrOf([&]() { r = db->open(kMode); });
    if (r < 0) break;
    fillers.push_back(std::move(db));
  }
  CHECK_OR_EXIT(!fillers.empty() && fillers.size() < 512, 5);
  // The newest partition is full: the next key above the largest needs a new one.
  int r = 0;
  const std::string err = stderrOf([&]() { r = put(*store, key(next), "v" + key(next)); });
  CHECK_OR_EXIT(r < 0, 6);
  CHECK_OR_EXIT(err.find("[ERR] wdb::SKV_KCStg::open: Fail open DB for want of thread-specific "
                         "keys (Kyoto Cabinet takes two per open database and the process has "
                         "used them up; close databases or open fewer at once): \"") !=
                    std::string::npos,
                7);
  for (int i = 0; i < next; ++i) CHECK_OR_EXIT(get(*store, key(i)) == "v" + key(i), 8);
  // Room again: the put goes through and every record is there.
  fillers.resize(fillers.size() - 2);
  CHECK_OR_EXIT(put(*store, key(next), "v" + key(next)) == 0, 9);
  ++next;
  for (int i = 0; i < next; ++i) CHECK_OR_EXIT(get(*store, key(i)) == "v" + key(i), 10);
  store->close();
  fillers.clear();
  std::unique_ptr<wdb::SKV_ContMKCStg> again = makeStore(dir, 1000, 2);
  CHECK_OR_EXIT(again->open(kMode) == 0, 11);
  for (int i = 0; i < next; ++i) CHECK_OR_EXIT(get(*again, key(i)) == "v" + key(i), 12);
  again->close();
  testing::internal::GetCapturedStdout();
  _exit(0);
}

TEST(ContKeyLimit, PutNeedingAPartitionAtTheLimitNamesTheCauseAndLosesNothing) {
  EXPECT_EXIT(scenario(), testing::ExitedWithCode(0), "");
}

}  // namespace
