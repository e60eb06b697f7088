// Reference-counted objects and the notification interface.
#include <gtest/gtest.h>

#include <Poco/AutoPtr.h>

#include <atomic>
#include <thread>
#include <typeinfo>
#include <vector>

#include "src/wdb/INotification.h"

namespace {

int g_destroyed = 0;

class TestNotif : public wdb::INotification {
 public:
  ~TestNotif() override { ++g_destroyed; }
  INotification* clone() override { return new TestNotif; }
  int notifTypeID() const override { return 42; }
  wdb::OpType opType() const override { return wdb::OT_NOTIFY; }
  int opCount() const override { return 1; }
};

class DerivedNotif : public TestNotif {};

}  // namespace

TEST(RefCounted, CountDuplicateRelease) {
  g_destroyed = 0;
  TestNotif* n = new TestNotif;
  EXPECT_EQ(n->referenceCount(), 1);
  n->duplicate();
  EXPECT_EQ(n->referenceCount(), 2);
  n->release();
  EXPECT_EQ(g_destroyed, 0);
  EXPECT_EQ(n->referenceCount(), 1);
  n->release();
  EXPECT_EQ(g_destroyed, 1);
}

TEST(RefCounted, HeldByPocoAutoPtr) {
  g_destroyed = 0;
  {
    Poco::AutoPtr<wdb::INotification> a(new TestNotif);  // takes the first reference
    Poco::AutoPtr<wdb::INotification> b(a);
    EXPECT_EQ(a->referenceCount(), 2);
    Poco::AutoPtr<wdb::INotification> c(a->clone());
    EXPECT_EQ(c->referenceCount(), 1);
  }
  EXPECT_EQ(g_destroyed, 2);
}

TEST(RefCounted, ConcurrentDuplicateAndReleaseDestroyOnce) {
  g_destroyed = 0;
  TestNotif* n = new TestNotif;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    n->duplicate();
    threads.emplace_back([n] {
      for (int i = 0; i < 10000; ++i) {
        n->duplicate();
        n->release();
      }
      n->release();
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(g_destroyed, 0);
  n->release();
  EXPECT_EQ(g_destroyed, 1);
}

TEST(Notification, NameIsTheMostDerivedTypeAndHooksDoNothing) {
  Poco::AutoPtr<wdb::INotification> n(new DerivedNotif);
  EXPECT_EQ(n->name(), typeid(DerivedNotif).name());
  n->beforeProc(nullptr);
  n->afterProc(&n);
  EXPECT_EQ(n->notifTypeID(), 42);
  EXPECT_EQ(n->opType(), 3);
  EXPECT_EQ(n->opCount(), 1);
}

TEST(RefCountedDeathTest, ReleaseBelowZeroAborts) {
  // The only reference is dropped through a spare one taken from a never-counted object.
  struct Spare : wdb::RefCountedObject {
    void doRelease() const override {}  // keep the storage so a second release is checked
  };
  EXPECT_DEATH(
      {
        Spare s;
        s.release();
        s.release();
      },
      "released more often");
}
