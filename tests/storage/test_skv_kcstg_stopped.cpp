// wdb::SKV_KCStg after the pooled allocator has stopped: a value that cannot be delivered
// is not deleted. Its own binary: the stop cannot be undone in a process.
#include <gtest/gtest.h>

#include <string>

#include "src/wdb/kc/SKV_KCStg.h"
#include "src/xlabs.h"
#include "tests/support/tmpdir.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {
// Pooled strings must be gone before the allocator stops: the store's path and tuning are
// released once the database is open.
class Store : public wdb::SKV_KCStg {
 public:
  void dropStrings() {
    xstring().swap(dbPath);
    xstring().swap(tuneOptions);
  }
};
}  // namespace

TEST(KCStgAllocatorStopped, PopKeepsTheRecordItCannotDeliver) {
  TmpDir dir;
  const std::string path = dir.file("db.kch");
  Store store;
  store.setDBPath(path.c_str());
  CaptureStdout();
  ASSERT_EQ(store.open(23), 0);
  GetCapturedStdout();
  ASSERT_EQ(store.putTx0(nullptr, "k", 1, "value", 5, 1), 0);
  store.dropStrings();

  uninit_xallocator();

  void* data = reinterpret_cast<void*>(0x1);
  size_t len = 42;
  CaptureStderr();
  EXPECT_EQ(store.popTx0(nullptr, &data, &len, "k", 1), -2);
  EXPECT_EQ(store.getTx0(nullptr, &data, &len, "k", 1), -2);
  EXPECT_EQ(GetCapturedStderr(),
            "[ERR] wdb::SKV_KCStg::popTx0: Fail allocate value buffer\n"
            "[ERR] wdb::SKV_KCStg::getTx0: Fail allocate value buffer\n");
  EXPECT_EQ(data, reinterpret_cast<void*>(0x1));  // outputs left as they were
  EXPECT_EQ(len, 42u);
  EXPECT_EQ(store.existTx0(nullptr, "k", 1), 0);  // the record is still there
  EXPECT_EQ(store.getTx0(nullptr, &data, &len, "absent", 6), -9);
  EXPECT_EQ(store.close(), 0);
}

// A store opened after the stop reads into system buffers: every value it accepts comes
// back, and freeData releases those buffers (the leak checker sees them go).
TEST(KCStgAllocatorStopped, StoreOpenedAfterTheStopReadsWhatItAccepts) {
  init_xallocator();  // stopped once, also when this test runs alone
  uninit_xallocator();
  ASSERT_EQ(xa_malloc(8), nullptr);
  TmpDir dir;
  wdb::SKV_KCStg store;
  store.setDBPath(dir.file("after.kch").c_str());
  CaptureStdout();
  ASSERT_EQ(store.open(23), 0);
  GetCapturedStdout();
  ASSERT_EQ(store.putTx0(nullptr, "k", 1, "value", 5, 1), 0);
  ASSERT_EQ(store.putTx0(nullptr, "e", 1, "", 0, 1), 0);

  struct Case {
    const char* key;
    bool pop;
    int rc;
    const char* value;  // null: no buffer
  } cases[] = {
      {"k", false, 0, "value"},  {"e", false, 0, ""},      {"k", true, 0, "value"},
      {"k", false, -9, nullptr}, {"k", true, -9, nullptr},
  };
  for (const Case& c : cases) {
    void* data = nullptr;
    size_t len = 0;
    const int rc = c.pop ? store.popTx0(nullptr, &data, &len, c.key, 1)
                         : store.getTx0(nullptr, &data, &len, c.key, 1);
    EXPECT_EQ(rc, c.rc) << c.key << c.pop;
    if (c.value == nullptr) {
      EXPECT_EQ(data, nullptr);
      continue;
    }
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(data), len), c.value);
    EXPECT_EQ(static_cast<const char*>(data)[len], '\0');
    store.freeData(data);
  }
  EXPECT_EQ(store.existTx0(nullptr, "k", 1), -9);  // the pop removed it
  xstring value;
  EXPECT_EQ(store.get(value, xstring("e")), 0);  // the string form over the raw one
  EXPECT_EQ(store.close(), 0);
}
