// xlru_table::update: replaces the entry of the handle's key when the key is present and
// has no pending delete; the new entry becomes the most recently used and, with dirty
// tracking, keeps the old entry's change kind (else update). Never evicts. Part of
// xlru_table_impl.h.
#ifndef TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_UPDATE_H
#define TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_UPDATE_H

XLRU_TABLE_TEMPLATE
bool XLRU_TABLE::update(table_item& data) {
  XCHECK(!data.is_null(), "!data.is_null()");
  _deferred later;  // the replaced entry is released after the lock
  _table_lock lock(_lock, LockType::WRITE);
  const uint64_t h = HASH(data.get_ptr());  // the index hasher runs under the table lock
  _find_results r;
  _find(r, data.get_ptr(), h);
  if (r.del.found != nullptr || r.main.found == nullptr) return false;
  const bool dirty = _dirty_on();
  _ItemEntry* old = _E(r.main.found);
  const uint8_t kind = old->dirty != CLEAN ? old->dirty : uint8_t(UPDATE);
  // Unlinked before the new entry is prepared: the handle may hold the very same entry.
  _unlink_lru(old);
  _unlink_dirty(_changed(), old);
  _ItemEntry* e = _take(data);
  later.hold(old);
  xassoc_replace(_main, &r.main, e);  // releases the old entry's index reference
  _link_lru(e);
  if (dirty) _link_dirty(_changed(), e, kind);
  if (_is_dumping()) _log(UPDATE, e);
  return true;
}

#endif  // TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_UPDATE_H
