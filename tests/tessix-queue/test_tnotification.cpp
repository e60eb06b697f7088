// The queue's notification type: ids, clone, pooled memory and the moved payload.
#include <gtest/gtest.h>

#include <Poco/AutoPtr.h>

#include <string>
#include <typeinfo>

#include "src/wdb/TNotification.h"

using wdb::INotification;
using wdb::QueueNotification;

namespace {

struct Payload {
  int n;
};
typedef wdb::TNotification_1_ref<INotification, 7, wdb::OT_PUT,
                                 wdb::TNotification_FixOpCountFunc<5>, Payload>
    PayloadRef;
// A referencing notification lives wherever its owner puts it.
class StackRef : public PayloadRef {
 public:
  explicit StackRef(const Payload* p) : PayloadRef(p) {}
  ~StackRef() override {}
};

// Chunks of the pool in use, from its dump.
uint64_t usedChunks(xpool* pool) {
  struct Counts {
    uint64_t total = 0, free = 0;
  } c;
  xpool_dump_info(
      pool,
      [](void* ctx, const char* key, const char* value) {
        Counts* c = static_cast<Counts*>(ctx);
        if (std::string(key) == "total_chunks") c->total = std::stoull(value);
        if (std::string(key) == "free_chunks") c->free = std::stoull(value);
      },
      &c);
  return c.total - c.free;
}

TEST(TNotification, QueueTypeAnswersItsIds) {
  QueueNotification* nf = QueueNotification::CTOR(xstring("abc"));
  ASSERT_NE(nf, nullptr);
  EXPECT_EQ(nf->notifTypeID(), 1001);
  EXPECT_EQ(nf->opType(), 3);
  EXPECT_EQ(nf->opCount(), 1);
  EXPECT_EQ(nf->referenceCount(), 1);
  EXPECT_EQ(nf->value(), "abc");
  EXPECT_EQ(nf->name(), typeid(QueueNotification).name());
  nf->beforeProc(nullptr);
  nf->afterProc(nullptr);
  nf->release();
}

TEST(TNotification, CloneCopiesTheValueWithCountOne) {
  const char raw[] = {'a', '\0', 'b'};
  Poco::AutoPtr<QueueNotification> nf(QueueNotification::CTOR(xstring(raw, sizeof raw)));
  nf->duplicate();  // a second holder does not pass to the clone
  Poco::AutoPtr<INotification> copy(nf->clone());
  ASSERT_FALSE(copy.isNull());
  EXPECT_EQ(copy->referenceCount(), 1);
  EXPECT_EQ(nf->referenceCount(), 2);
  nf->release();
  const QueueNotification* c = dynamic_cast<const QueueNotification*>(copy.get());
  ASSERT_NE(c, nullptr);
  EXPECT_NE(c, nf.get());
  EXPECT_EQ(c->value(), xstring(raw, sizeof raw));
  EXPECT_NE(c->value().data(), nf->value().data());
}

TEST(TNotification, MovedPayloadKeepsItsBuffer) {
  xstring payload(std::string(1000, 'x'));
  const char* bytes = payload.data();
  QueueNotification* nf = QueueNotification::CTOR(std::move(payload));
  ASSERT_NE(nf, nullptr);
  EXPECT_EQ(nf->value().data(), bytes);  // taken over, not copied
  EXPECT_EQ(nf->value().size(), 1000u);
  nf->release();
}

TEST(TNotification, InstancesComeFromThePool) {
  xlabs* set = find_xlabs_default(sizeof(QueueNotification));
  ASSERT_NE(set, nullptr);
  xpool* pool = xlabs_get_pool(set, sizeof(QueueNotification));
  ASSERT_NE(pool, nullptr);
  const uint64_t before = usedChunks(pool);
  QueueNotification* nf = QueueNotification::CTOR(xstring(""));
  EXPECT_EQ(usedChunks(pool), before + 1);
  Poco::AutoPtr<INotification> holder(nf, true);
  nf->release();
  EXPECT_EQ(usedChunks(pool), before + 1);
  holder.reset();  // the last reference frees it through DTOR
  EXPECT_EQ(usedChunks(pool), before);
}

TEST(TNotification, ReferenceTemplate) {
  Payload p{42};
  StackRef ref(&p);
  EXPECT_EQ(ref.notifTypeID(), 7);
  EXPECT_EQ(ref.opType(), wdb::OT_PUT);
  EXPECT_EQ(ref.opCount(), 5);
  EXPECT_EQ(&ref.value(), &p);
  Poco::AutoPtr<INotification> copy(ref.clone());
  const PayloadRef::inst_type* inst = dynamic_cast<const PayloadRef::inst_type*>(copy.get());
  ASSERT_NE(inst, nullptr);
  EXPECT_EQ(inst->value().n, 42);
  EXPECT_NE(&inst->value(), &p);
  EXPECT_EQ(inst->notifTypeID(), 7);
  EXPECT_EQ(inst->opCount(), 5);
}

}  // namespace
