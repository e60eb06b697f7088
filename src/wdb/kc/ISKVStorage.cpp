#include "src/wdb/kc/ISKVStorage.h"

#include "src/wdb/kc/TSKVAdapterStorage.h"

namespace wdb {

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

int ISKVStorage::popTx(ITransaction* tx, xstring& value, const xstring& key) {
  void* buf = nullptr;
  size_t len = 0;
  const int r = popTx0(tx, &buf, &len, key.data(), key.size());
  if (buf != nullptr) {
    try {
      value.assign(static_cast<const char*>(buf), len);
    } catch (...) {
      freeData(buf);
      throw;
    }
    freeData(buf);
  } else {
    value.clear();
  }
  return r;
}

int ISKVStorage::getTx(ITransaction* tx, xstring& value, const xstring& key) const {
  void* buf = nullptr;
  size_t len = 0;
  const int r = getTx0(tx, &buf, &len, key.data(), key.size());
  if (buf != nullptr) {
    try {
      value.assign(static_cast<const char*>(buf), len);
    } catch (...) {
      freeData(buf);
      throw;
    }
    freeData(buf);
  } else {
    value.clear();
  }
  return r;
}

}  // namespace wdb
