// xlru_table::warmup: stores the handle's entry as clean (never linked dirty). With the key
// present and force false, out (when given) gets the present entry and nothing is stored.
// Evicts outside the table lock after storing. Part of xlru_table_impl.h.
#ifndef TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_WARMUP_H
#define TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_WARMUP_H

XLRU_TABLE_TEMPLATE
bool XLRU_TABLE::warmup(table_item* out, table_item& data, bool force) {
  XCHECK(!data.is_null(), "!data.is_null()");
  _deferred later;  // the replaced entry is released after the lock
  _table_lock lock(_lock, LockType::WRITE);
  const uint64_t h = HASH(data.get_ptr());  // the index hasher runs under the table lock
  _find_results r;
  _find_for_add(r, data.get_ptr(), h);
  if (r.main.found != nullptr && !force) {
    if (out == nullptr) return false;
    _ItemEntry* present = static_cast<_ItemEntry*>(sh_shobject(r.main.found));
    lock.unlock();
    _reset_hashed(*out, present, h);
    return false;
  }
  if (r.main.found != nullptr) {
    _ItemEntry* old = _E(r.main.found);
    _unlink_lru(old);
    _unlink_dirty(_changed(), old);
    _ItemEntry* e = _take(data);
    later.hold(old);
    xassoc_replace(_main, &r.main, e);
    _link_lru(e);
  } else {
    _ItemEntry* e = _take(data);
    xassoc_insert(_main, &r.main, e);
    _sync_count();
    _link_lru(e);
  }
  lock.unlock();
  evict_lru();
  return true;
}

#endif  // TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_WARMUP_H
