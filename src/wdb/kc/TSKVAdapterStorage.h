// Typed adapter over a byte-buffer store, its cursor and the pooled-string serializer.
//
// TSKVAdapterStorage turns an ISKVStorage into a typed AStorage whose keys and values pass
// through serializer classes (RefStringSerializer for pooled strings: the strings' own bytes
// go to the inner store uncopied, returned buffers are copied into strings and given back at
// once through the inner store's freeData). The adapter owns the inner store when built with
// owns = true and deletes it with itself; a null inner store answers every operation
// without touching memory (RC_NULL_PTR, null, true, 0). TSKVAdapterCursor does the same for
// cursors; the raw cursor's buffers stay the raw cursor's.
// Threads: no state beyond the fixed inner pointer and no lock; the inner store guards itself.
#ifndef TOKA_SRC_WDB_KC_TSKVADAPTERSTORAGE_H
#define TOKA_SRC_WDB_KC_TSKVADAPTERSTORAGE_H

#include <cstddef>
#include <cstdint>

#include "src/wdb/kc/ISKVStorage.h"

namespace wdb {

// Serializer over a string type: serialize points at the string's own bytes (valid while the
// string lives unchanged); the buffer constructor wraps bytes without copying or owning them.
template <typename S>
class RefStringSerializer {
 public:
  RefStringSerializer() : _buffer(nullptr), _length(0) {}
  RefStringSerializer(const void* buffer, size_t length)
      : _buffer(static_cast<const char*>(buffer)), _length(length) {}

  size_t serialize(const S& s) {
    _buffer = s.data();
    _length = s.size();
    return _length;
  }
  const void* getBuffer() const { return _buffer; }
  size_t getLength() const { return _length; }
  // Replaces out with a copy of the wrapped bytes; 0 (an empty value) counts as failure.
  size_t deserialize(S& out) const {
    S tmp(_buffer != nullptr ? _buffer : "", _length);
    out.swap(tmp);
    return _length;
  }

 private:
  const char* _buffer;
  size_t _length;
};

template <typename K, typename V, typename KS, typename VS>
class TSKVAdapterCursor : public ICursor<K, V> {
 public:
  TSKVAdapterCursor(ISKVCursor* inner, bool owns) : innerCursor(inner), ownsInner(owns) {}
  ~TSKVAdapterCursor() override {
    if (ownsInner && innerCursor != nullptr) delete innerCursor;
  }

  int next(K& key, V& value) override {
    if (innerCursor == nullptr) return RC_NULL_PTR;
    void* kb = nullptr;
    size_t kl = 0;
    void* vb = nullptr;
    size_t vl = 0;
    const int r = innerCursor->next0(&kb, &kl, &vb, &vl);
    if (kb != nullptr && KS(kb, kl).deserialize(key) == 0) return RC_INVALID_DATA;
    if (vb != nullptr && VS(vb, vl).deserialize(value) == 0) return RC_INVALID_DATA;
    return r;
  }

 private:
  TSKVAdapterCursor(const TSKVAdapterCursor&) = delete;
  TSKVAdapterCursor& operator=(const TSKVAdapterCursor&) = delete;

  ISKVCursor* innerCursor;
  bool ownsInner;
};

template <typename K, typename V, typename Item, typename KS, typename VS>
class TSKVAdapterStorage : public AStorage<K, V, Item> {
 public:
  TSKVAdapterStorage(ISKVStorage* inner, bool owns) : innerStorage(inner), ownsInner(owns) {}
  ~TSKVAdapterStorage() override {
    if (ownsInner && innerStorage != nullptr) delete innerStorage;
  }

  ISKVStorage* getInnerStorage() const { return innerStorage; }

  ITransaction* makeTransaction() const override {
    return innerStorage ? innerStorage->makeTransaction() : nullptr;
  }
  ICursor<K, V>* makeCursor(ITransaction* tx) const override {
    if (innerStorage == nullptr) return nullptr;
    return new TSKVAdapterCursor<K, V, KS, VS>(innerStorage->makeSKVCursor(tx), true);
  }
  int flush() override { return innerStorage ? innerStorage->flush() : RC_NULL_PTR; }
  bool empty() const override { return innerStorage ? innerStorage->empty() : true; }
  uint64_t size() const override { return innerStorage ? innerStorage->size() : 0; }
  uint64_t maxSize() const override { return innerStorage ? innerStorage->maxSize() : 0; }
  void clear() override {
    if (innerStorage) innerStorage->clear();
  }

  int putTx(ITransaction* tx, const K& key, const V& value, int policy) override {
    if (innerStorage == nullptr) return RC_NULL_PTR;
    KS ks;
    ks.serialize(key);
    VS vs;
    vs.serialize(value);
    return innerStorage->putTx0(tx, ks.getBuffer(), ks.getLength(), vs.getBuffer(), vs.getLength(),
                                policy);
  }
  int removeTx(ITransaction* tx, const K& key) override {
    if (innerStorage == nullptr) return RC_NULL_PTR;
    KS ks;
    ks.serialize(key);
    return innerStorage->removeTx0(tx, ks.getBuffer(), ks.getLength());
  }
  int existTx(ITransaction* tx, const K& key) const override {
    if (innerStorage == nullptr) return RC_NULL_PTR;
    KS ks;
    ks.serialize(key);
    return innerStorage->existTx0(tx, ks.getBuffer(), ks.getLength());
  }
  // A missing record leaves value as it was; an empty value gives RC_INVALID_DATA.
  int getTx(ITransaction* tx, V& value, const K& key) const override {
    if (innerStorage == nullptr) return RC_NULL_PTR;
    KS ks;
    ks.serialize(key);
    ValueBuffer buffer(*innerStorage);
    const int r = innerStorage->getTx0(tx, buffer.out(), buffer.outLength(), ks.getBuffer(),
                                       ks.getLength());
    return _deliver(r, buffer, value);
  }
  // As getTx; the record is removed by the inner store even when its value was empty.
  int popTx(ITransaction* tx, V& value, const K& key) override {
    if (innerStorage == nullptr) return RC_NULL_PTR;
    KS ks;
    ks.serialize(key);
    ValueBuffer buffer(*innerStorage);
    const int r = innerStorage->popTx0(tx, buffer.out(), buffer.outLength(), ks.getBuffer(),
                                       ks.getLength());
    return _deliver(r, buffer, value);
  }

 private:
  TSKVAdapterStorage(const TSKVAdapterStorage&) = delete;
  TSKVAdapterStorage& operator=(const TSKVAdapterStorage&) = delete;

  int _deliver(int r, const ValueBuffer& buffer, V& value) const {
    if (buffer.data() == nullptr) return r;
    const size_t n = VS(buffer.data(), buffer.length()).deserialize(value);
    return n == 0 ? RC_INVALID_DATA : r;
  }

  ISKVStorage* innerStorage;
  bool ownsInner;
};

// The pooled-string instantiation used by the system.
typedef RefStringSerializer<xstring> XStringSerializer;
typedef TSKVAdapterStorage<xstring, xstring, SKVItem, XStringSerializer, XStringSerializer>
    SKVAdapterStorage;
typedef TSKVAdapterCursor<xstring, xstring, XStringSerializer, XStringSerializer> SKVAdapterCursor;

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_TSKVADAPTERSTORAGE_H
