// xlru_table::add: stores the handle's entry when its key is absent (a pending delete of the
// key is dropped first), links it at the LRU head and, with dirty tracking, as an add; then
// evicts outside the table lock. Part of xlru_table_impl.h.
#ifndef TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_ADD_H
#define TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_ADD_H

XLRU_TABLE_TEMPLATE
bool XLRU_TABLE::add(table_item& data) {
  XCHECK(!data.is_null(), "!data.is_null()");
  _table_lock lock(_lock, LockType::WRITE);
  const uint64_t h = HASH(data.get_ptr());  // the index hasher runs under the table lock
  _find_results r;
  _find_for_add(r, data.get_ptr(), h);
  if (r.main.found != nullptr) return false;
  const bool dirty = _dirty_on();
  _ItemEntry* e = _take(data);
  xassoc_insert(_main, &r.main, e);
  _sync_count();
  _link_lru(e);
  if (dirty) _link_dirty(_changed(), e, ADD);
  if (_is_dumping()) _log(ADD, e);
  lock.unlock();
  evict_lru();
  return true;
}

#endif  // TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_ADD_H
