// The table lock guard: its states, the refused and allowed relocks, and that both kinds
// take the mutex exclusively.
#include <gtest/gtest.h>

#include <thread>

#include "mopralib/inc/xds/ScopeRWLock.h"

namespace {

bool free_for_others(Poco::FastMutex& m) {
  bool got = false;
  std::thread t([&] {
    got = m.tryLock();
    if (got) m.unlock();
  });
  t.join();
  return got;
}

TEST(ScopeRWLock, ConstructorKinds) {
  Poco::FastMutex m;
  struct Case {
    int kind, state;
  } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 0}, {-1, 0}};
  for (const Case& c : cases) {
    {
      ScopeRWLock<Poco::FastMutex> g(m, c.kind);
      EXPECT_EQ(c.state, g.state()) << c.kind;
      EXPECT_EQ(c.state == 0, free_for_others(m)) << c.kind;
    }
    EXPECT_TRUE(free_for_others(m)) << "released by the destructor, kind " << c.kind;
  }
}

TEST(ScopeRWLock, RelockOnlyWhenAsked) {
  Poco::FastMutex m;
  ScopeRWLock<Poco::FastMutex> g(m, LockType::READ);
  EXPECT_TRUE(g.LockRead(false));  // already reading
  EXPECT_FALSE(g.LockWrite(false));
  EXPECT_EQ(1, g.state());
  EXPECT_FALSE(free_for_others(m));
  EXPECT_TRUE(g.LockWrite(true));
  EXPECT_EQ(2, g.state());
  EXPECT_TRUE(g.LockWrite(false));
  EXPECT_FALSE(g.LockRead(false));
  EXPECT_EQ(2, g.state());
  EXPECT_TRUE(g.LockRead(true));
  EXPECT_EQ(1, g.state());
  EXPECT_FALSE(free_for_others(m));
  EXPECT_TRUE(g.Unlock());
  EXPECT_FALSE(g.Unlock());
  EXPECT_EQ(0, g.state());
  EXPECT_TRUE(free_for_others(m));
  EXPECT_TRUE(g.LockWrite(false));  // from unlocked either kind locks
  EXPECT_FALSE(free_for_others(m));
}

TEST(ScopeRWLock, ReadersExcludeEachOther) {
  Poco::FastMutex m;
  ScopeRWLock<Poco::FastMutex> r(m, LockType::READ);
  bool second_reader_got_in = true;
  std::thread t([&] { second_reader_got_in = m.tryLock(); });
  t.join();
  EXPECT_FALSE(second_reader_got_in);
}

}  // namespace
