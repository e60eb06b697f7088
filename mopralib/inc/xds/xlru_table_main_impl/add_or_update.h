// xlru_table::add_or_update: stores the handle's entry, inserting it (kind add-or-update)
// or replacing the present entry (keeping its change kind); evicts, outside the table
// lock, only after an insertion. Part of xlru_table_impl.h.
#ifndef TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_ADD_OR_UPDATE_H
#define TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_ADD_OR_UPDATE_H

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::add_or_update(table_item& data) {
  XCHECK(!data.is_null(), "!data.is_null()");
  _deferred later;  // the replaced entry is released after the lock
  _table_lock lock(_lock, LockType::WRITE);
  const uint64_t h = HASH(data.get_ptr());  // the index hasher runs under the table lock
  _find_results r;
  _find_for_add(r, data.get_ptr(), h);
  const bool dirty = _dirty_on();
  const bool inserted = r.main.found == nullptr;
  uint8_t kind = ADD_OR_UPDATE;
  _ItemEntry* e;
  if (inserted) {
    e = _take(data);
    xassoc_insert(_main, &r.main, e);
    _sync_count();
  } else {
    _ItemEntry* old = _E(r.main.found);
    if (old->dirty != CLEAN) kind = old->dirty;
    _unlink_lru(old);
    _unlink_dirty(_changed(), old);
    e = _take(data);
    later.hold(old);
    xassoc_replace(_main, &r.main, e);
  }
  _link_lru(e);
  if (dirty) _link_dirty(_changed(), e, kind);
  if (_is_dumping()) _log(ADD_OR_UPDATE, e);
  lock.unlock();
  if (inserted) evict_lru();
}

#endif  // TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_ADD_OR_UPDATE_H
