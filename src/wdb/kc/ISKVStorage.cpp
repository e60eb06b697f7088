#include "src/wdb/kc/ISKVStorage.h"

#include <cstdlib>

#include "src/wdb/kc/TSKVAdapterStorage.h"
#include "src/xlabs.h"

namespace wdb {

bool valueBuffersUnpooled() noexcept { return find_xlabs_default(1) == nullptr; }

void* newValueBuffer(size_t size, bool unpooled) noexcept {
  if (!unpooled) return xa_malloc(size);
  void* p = std::malloc(size > 0 ? size : 1);
  if (p == nullptr || xa_unpooled_record(p)) return p;
  std::free(p);
  return nullptr;
}

void releaseValueBuffer(void* data) noexcept {
  if (data == nullptr) return;
  // Unpooled buffers exist only once the allocator has stopped; until one is recorded, the
  // registry answers from one flag, so a pooled release takes no lock.
  if (!xa_unpooled_forget(data)) {
    xa_free(data);
    return;
  }
  std::free(data);
}

ITransaction::~ITransaction() {}

ScopeTransaction::~ScopeTransaction() {
  if (tx == nullptr) return;
  if (ok) {
    tx->commit();
  } else {
    tx->rollback();
  }
  if (owns) delete tx;
}

ISKVCursor::~ISKVCursor() {}

ISKVStorage::~ISKVStorage() {}

ICursor<xstring, xstring>* ISKVStorage::makeCursor(ITransaction* tx) const {
  // No store makes a raw cursor; one that did would be read through the typed adapter cursor.
  ISKVCursor* raw = makeSKVCursor(tx);
  if (raw == nullptr) return nullptr;
  return new SKVAdapterCursor(raw, true);
}

int ISKVStorage::putTx(ITransaction* tx, const xstring& key, const xstring& value, int policy) {
  return putTx0(tx, key.data(), key.size(), value.data(), value.size(), policy);
}

int ISKVStorage::removeTx(ITransaction* tx, const xstring& key) {
  return removeTx0(tx, key.data(), key.size());
}

int ISKVStorage::existTx(ITransaction* tx, const xstring& key) const {
  return existTx0(tx, key.data(), key.size());
}

namespace {

// The value becomes the buffer's bytes, or empty when no buffer came back.
int deliver(int r, const ValueBuffer& buffer, xstring& value) {
  if (buffer.data() != nullptr) {
    value.assign(buffer.chars(), buffer.length());
  } else {
    value.clear();
  }
  return r;
}

}  // namespace

int ISKVStorage::popTx(ITransaction* tx, xstring& value, const xstring& key) {
  ValueBuffer buffer(*this);
  const int r = popTx0(tx, buffer.out(), buffer.outLength(), key.data(), key.size());
  return deliver(r, buffer, value);
}

int ISKVStorage::getTx(ITransaction* tx, xstring& value, const xstring& key) const {
  ValueBuffer buffer(*this);
  const int r = getTx0(tx, buffer.out(), buffer.outLength(), key.data(), key.size());
  return deliver(r, buffer, value);
}

}  // namespace wdb
