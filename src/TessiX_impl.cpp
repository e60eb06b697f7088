#include "src/TessiX_impl.h"

#include <Poco/Timestamp.h>
#include <snappy-c.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "logutil.h"
#include "shared-types/mopra_types.h"
#include "src/jni/jni_module.h"
#include "src/jni/jni_util.h"
#include "src/xcheck.h"
#include "src/xlabs.h"
#include "src/xlive.h"
#include "src/xpage.h"
#include "src/xpool.h"
#include "wexception.h"

// ---------------------------------------------------------------------------------------
// Module state and functions.

namespace {

// The log level and the information text.
tjni::Module moduleState("TessiX", "1.0.0", "Tessi, WNfQueue for Toka libraries");

// Dump callback: "key=value | " appended to the xstring behind context.
void appendProperty(void* context, const char* key, const char* value) {
  xstring& out = *static_cast<xstring*>(context);
  out.append(key);
  out.push_back('=');
  out.append(value);
  out.append(" | ");
}

// Traverse callback: " * ", the pool's dump, "\n".
void appendPool(void* context, xpool* pool) {
  xstring& out = *static_cast<xstring*>(context);
  out.append(" * ");
  xpool_dump_info(pool, &appendProperty, context);
  out.push_back('\n');
}

void appendSection(xstring& result, xstring& scratch, xpage_allocator* pages, xlabs* labs) {
  scratch.clear();
  xpage_allocator_dump_info(pages, &appendProperty, &scratch);
  scratch.push_back('\n');
  xlabs_dump_info(labs, &appendProperty, &scratch);
  scratch.push_back('\n');
  xlabs_traverse_pools(labs, &appendPool, &scratch);
  result.append(scratch);
  result.push_back('\n');
}

}  // namespace

void tessix__setLogLevel(int level) { moduleState.setLogLevel(level); }

int tessix__getLogLevel() { return moduleState.logLevel(); }

bool tessix__errOn() { return moduleState.errOn(); }

bool tessix__infOn() { return moduleState.infOn(); }

bool tessix__dbgOn() { return moduleState.dbgOn(); }

xstring tessix__info() {
  const std::string& text = moduleState.info();
  return xstring(text.data(), text.size());
}

int tessix__initialize(int n) {
  init_xallocator();
  tessi::TableItem::INIT_POOL();
  tessi::TableLocks::construct(n < 0 ? 0 : static_cast<uint64_t>(n));
  return 1;
}

void tessix__uninitialize() {
  // Stopping under live objects would leave their pooled memory on freed pages: refused.
  const int64_t live = xlive_count();
  if (live > 0) {
    __printLogErr("tessix__uninitialize",
                  "%lld caches or queues are still alive: the allocator keeps running",
                  static_cast<long long>(live));
    return;
  }
  uninit_xallocator();
}

xstring tessix__memstat(int kind) {
  xstring result;
  if (kind < 0 || kind > 3) return result;
  xstring scratch;
  if (kind == 0 || kind == 3) {
    appendSection(result, scratch, default_xhugepage_allocator, default_xhugelabs);
  }
  if (kind == 0 || kind == 2) {
    appendSection(result, scratch, default_xbigpage_allocator, default_xbiglabs);
  }
  if (kind == 0 || kind == 1) {
    appendSection(result, scratch, default_xpage_allocator, default_xlabs);
  }
  return result;
}

// ---------------------------------------------------------------------------------------
// TessiGeneric.

namespace tessi {

namespace {

const int kKeyLocks = 10000;

int64_t nowMicros() { return Poco::Timestamp().epochMicroseconds(); }
int64_t nowSeconds() { return nowMicros() / 1000000; }

// The expiry a put stores: clamped to [1, 0xFFFFFFFF] seconds, so that a negative expire
// gives a time in the past instead of wrapping into the future (and never "none").
uint32_t clampExpiry(int64_t seconds) {
  if (seconds < 1) return 1;
  if (seconds > int64_t(0xFFFFFFFF)) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(seconds);
}

// Lookups take the key in place: no pooled copy per call.
std::string_view keyView(const char* key, int keyLen) {
  return std::string_view(key, keyLen > 0 ? static_cast<size_t>(keyLen) : 0);
}

}  // namespace

bool TessiGeneric::Scratch::allocate(size_t length) {
  reset();
  if (length <= 0xFFFFFFFFu) {
    _data = xa_new<char>(length);
    _pooled = _data != nullptr;
  }
  if (_data == nullptr) _data = static_cast<char*>(std::malloc(length == 0 ? 1 : length));
  return _data != nullptr;
}

void TessiGeneric::Scratch::reset() {
  if (_data == nullptr) return;
  if (_pooled) {
    xa_delete(_data);
  } else {
    std::free(_data);
  }
  _data = nullptr;
  _pooled = false;
}

TessiGeneric::TessiGeneric(int64_t tblSize, int64_t lruSize)
    : _compressMed(0), _thresholdComp(128), _expTime(3600), _tblSize(tblSize), _lruSize(lruSize) {
  if (tblSize < 2 || tblSize > kMaxTblSize) {
    throw wexception("tblSize must be between 2 and 268435456");
  }
  if (lruSize < 1) throw wexception("lruSize must be at least 1");
  tessix__initialize(kKeyLocks);
  _table.reset(
      new TessiTable(static_cast<uint64_t>(tblSize), static_cast<uint64_t>(lruSize), false, true));
}

TessiGeneric::~TessiGeneric() {}

void TessiGeneric::setExpTime(int value) {
  if (value < 0) {
    if (tessix__errOn()) __printLogErr("setExpTime", "%s", "value is negative!");
    return;
  }
  _expTime.store(value, std::memory_order_relaxed);
}

void TessiGeneric::setCompressMed(int value) {
  if (value < 0 || value > 2) {
    if (tessix__errOn()) __printLogErr("setCompressMed", "%s", "value is not valid!");
    return;
  }
  _compressMed.store(value, std::memory_order_relaxed);
}

void TessiGeneric::setThresholdComp(int value) {
  if (value < 0) {
    if (tessix__errOn()) __printLogErr("setThresholdComp", "%s", "value is negative!");
    return;
  }
  _thresholdComp.store(value, std::memory_order_relaxed);
}

uint64_t TessiGeneric::size() const { return _table->size(); }

void TessiGeneric::clear() { _table->clear(); }

void TessiGeneric::_ctorItem(TableItem& item, const char* key, int keyLen, const char* value,
                             int valueLen, bool flag, int expire) {
  XCHECK(key != nullptr && keyLen >= 1, "a cache item needs a key");
  item.ctor0();
  Tessi_Value& v = item.data();
  v.key.assign(key, static_cast<size_t>(keyLen));
  if (!flag) v.flags = 1;
  if (expire != 0) {
    v.expiry = clampExpiry((nowMicros() + int64_t(expire) * 1000000) / 1000000);
  }
  if (value != nullptr && valueLen >= 1) {
    const size_t length = static_cast<size_t>(valueLen);
    if (length > static_cast<uint32_t>(_thresholdComp.load(std::memory_order_relaxed)) &&
        _compressMed.load(std::memory_order_relaxed) == 1) {
      Scratch buffer;
      if (!buffer.allocate(snappy_max_compressed_length(length))) {
        if (tessix__infOn()) {
          __printLogInf("ctorItem", "%s", "Could not allocate memory for compression!");
        }
      } else {
        size_t compressed = snappy_max_compressed_length(length);
        if (snappy_compress(value, length, buffer.get(), &compressed) == SNAPPY_OK) {
          v.data.assign(buffer.get(), compressed);
          v.compressMed = 1;
        } else if (tessix__infOn()) {
          __printLogInf("ctorItem", "%s", "compression fail!");
        }
      }
    }
    if (v.compressMed == 0) v.data.assign(value, length);
  }
  item.set_mutex();
}

bool TessiGeneric::put(const char* key, int keyLen, const char* value, int valueLen, bool flag,
                       int expire, int mode) {
  TableItem item;
  _ctorItem(item, key, keyLen, value, valueLen, flag, expire);
  switch (mode) {
    case mopra::PutPolicy::ADD:
      if (_table->add(item)) return true;
      if (tessix__infOn()) __printLogInf("put", "\"%s\" Already exist!", item.data().key.c_str());
      return false;
    case mopra::PutPolicy::UPDATE:
      if (_table->update(item)) return true;
      if (tessix__infOn()) __printLogInf("put", "\"%s\" Not exist!", item.data().key.c_str());
      return false;
    case mopra::PutPolicy::ADD_OR_UDP: _table->add_or_update(item); return true;
    default:
      if (tessix__infOn()) {
        __printLogInf("put", "\"%s\" Invalid parameter!", item.data().key.c_str());
      }
      return false;
  }
}

bool TessiGeneric::_canExtract(TableItem& item, bool removeExpired) {
  const Tessi_Value& v = item.data();
  if (v.data.empty()) return false;
  if (v.expiry != 0 && nowSeconds() >= int64_t(v.expiry)) {
    if (removeExpired) _table->remove_if_same(item);
    return false;
  }
  if ((v.flags & 3) != 0) return false;
  return true;
}

bool TessiGeneric::_decompress(const TableItem& item, Scratch& buffer, size_t* length) {
  const Tessi_Value& v = item.data();
  *length = 0;
  if (v.compressMed != 1) {
    if (tessix__infOn()) __printLogInf("decompress", "%s", "Unsupport decompress method!");
    return false;
  }
  size_t n = 0;
  if (snappy_uncompressed_length(v.data.data(), v.data.size(), &n) != SNAPPY_OK) {
    if (tessix__infOn()) __printLogInf("decompress", "%s", "Could not get decompressed length!");
    return false;
  }
  // One byte more than the decompressed length, for the NUL after the text.
  if (n == SIZE_MAX || !buffer.allocate(n + 1)) {
    if (tessix__infOn()) {
      __printLogInf("decompress", "%s", "Could not allocate memory for decompression!");
    }
    return false;
  }
  size_t out = n;
  if (snappy_uncompress(v.data.data(), v.data.size(), buffer.get(), &out) != SNAPPY_OK) {
    if (tessix__infOn()) __printLogInf("decompress", "%s", "decompression fail!");
    buffer.reset();
    return false;
  }
  buffer.get()[out] = '\0';
  *length = out;
  return true;
}

jobject TessiGeneric::_extract(JNIEnv* env, TableItem& item, bool asString, bool removeExpired) {
  if (!_canExtract(item, removeExpired)) return nullptr;
  return _result(env, item, asString);
}

jobject TessiGeneric::_result(JNIEnv* env, const TableItem& item, bool asString) {
  const Tessi_Value& v = item.data();
  // A string ends at the first NUL of the value.
  if (v.compressMed == 0) return tjni::newResult(env, v.data.c_str(), v.data.size(), asString);
  size_t n = 0;
  Scratch buffer;
  if (!_decompress(item, buffer, &n) || n == 0) return nullptr;
  return tjni::newResult(env, buffer.get(), n, asString);
}

jobject TessiGeneric::get(JNIEnv* env, const char* key, int keyLen, bool asString) {
  TableItem item;
  if (!_table->get_key(item, keyView(key, keyLen))) return nullptr;
  TableItem::scope_write_lock lock(item, true);
  return _extract(env, item, asString, true);
}

// The item leaves the table only once its Java result exists: when the VM cannot make the
// result (its OutOfMemoryError stays pending) the item stays as it was, flags, expiry and
// LRU place included. An unreadable or expired item is removed and answered with null.
// Under the key lock the entry is read, then removed if the table still holds this very
// entry. When another thread removed or replaced it meanwhile (puts take no key lock), the
// result is dropped and the pop takes the key's present entry out of the table first, so
// that no writer can overtake it again: at most two results are built per pop.
jobject TessiGeneric::pop(JNIEnv* env, const char* key, int keyLen, bool asString) {
  const std::string_view k = keyView(key, keyLen);
  {
    TableItem item;
    if (!_table->peek_key(item, k)) return nullptr;
    TableItem::scope_read_lock lock(item, true);
    if (!_canExtract(item, false)) {
      if (_table->remove_if_same(item)) return nullptr;
    } else {
      jobject result = _result(env, item, asString);
      if (result == nullptr) return nullptr;  // the item stays
      if (_table->remove_if_same(item)) return result;
      env->DeleteLocalRef(result);
    }
  }
  return _popTakenOut(env, k, asString);
}

// The entry leaves the table before its result is made; when the result cannot be made, it
// goes back (at the LRU head, with its flags and expiry) unless the key was stored again
// meanwhile, in which case the newer item stays and this one is dropped.
jobject TessiGeneric::_popTakenOut(JNIEnv* env, std::string_view key, bool asString) {
  TableItem item;
  if (!_table->pop_key(item, key)) return nullptr;
  TableItem::scope_read_lock lock(item, true);
  if (!_canExtract(item, false)) return nullptr;
  jobject result = _result(env, item, asString);
  if (result == nullptr) _table->add(item);
  return result;
}

bool TessiGeneric::remove(const char* key, int keyLen) {
  return _table->remove_key(keyView(key, keyLen));
}

bool TessiGeneric::exist(const char* key, int keyLen, bool check) {
  const std::string_view k = keyView(key, keyLen);
  if (!check) return _table->has_key(k);
  TableItem item;
  if (!_table->get_key(item, k)) return false;
  TableItem::scope_write_lock lock(item, true);
  return _canExtract(item, true);
}

int TessiGeneric::getItemFlag(const char* key, int keyLen) {
  TableItem item;
  if (!_table->get_key(item, keyView(key, keyLen))) return -1;
  TableItem::scope_read_lock lock(item, true);
  return item.data().flags;
}

bool TessiGeneric::setItemFlag(const char* key, int keyLen, int value, int op) {
  TableItem item;
  if (!_table->get_key(item, keyView(key, keyLen))) return false;
  TableItem::scope_write_lock lock(item, true);
  int16_t& flags = item.data().flags;
  const int16_t low = static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF));
  switch (op) {
    case mopra::BitwiseCommand::C_SET: flags = low; return true;
    case mopra::BitwiseCommand::C_AND: flags = static_cast<int16_t>(flags & low); return true;
    case mopra::BitwiseCommand::C_OR: flags = static_cast<int16_t>(flags | low); return true;
    case mopra::BitwiseCommand::C_XOR: flags = static_cast<int16_t>(flags ^ low); return true;
    case mopra::BitwiseCommand::C_NOT: flags = static_cast<int16_t>(~flags); return true;
    default: return false;
  }
}

int TessiGeneric::getItemTimeExp(const char* key, int keyLen) {
  TableItem item;
  if (!_table->get_key(item, keyView(key, keyLen))) return -1;
  TableItem::scope_read_lock lock(item, true);
  // 32-bit arithmetic: the difference wraps like the stored expiry does.
  return static_cast<int32_t>(item.data().expiry - static_cast<uint32_t>(nowSeconds()));
}

bool TessiGeneric::extItemTimeExp(const char* key, int keyLen, int delta) {
  TableItem item;
  if (!_table->get_key(item, keyView(key, keyLen))) return false;
  TableItem::scope_write_lock lock(item, true);
  uint32_t& expiry = item.data().expiry;
  expiry += static_cast<uint32_t>(delta);  // 32-bit arithmetic: may wrap into the past
  return true;
}

}  // namespace tessi
