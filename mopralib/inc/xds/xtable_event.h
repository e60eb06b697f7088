// Event classes of the tables: hooks a table may call around its operations, and back-end
// lookups for a read-through table.
//
// xtable_null_event<_Value> does nothing in its hooks and answers false to both lookups.
// The tables of this system hold no event handler, so none of these is ever called; the
// class names the hooks a handler would offer. Stateless; thread-safe.
#ifndef TOKA_MOPRALIB_INC_XDS_XTABLE_EVENT_H
#define TOKA_MOPRALIB_INC_XDS_XTABLE_EVENT_H

template <typename _Value>
struct xtable_null_event {
  void before_add(const _Value&) {}
  void on_add(const _Value&) {}
  void before_update(const _Value&) {}
  void on_update(const _Value&) {}
  void before_add_or_update(const _Value&) {}
  void on_add_or_update(const _Value&) {}
  void before_remove(const _Value&) {}
  void on_remove(const _Value&) {}
  void on_first_dirty() {}
  void on_evict(const _Value&) {}
  void on_warmup(const _Value&) {}
  // Back-end read of a key into value; false: not found.
  template <typename _Key>
  bool bk_get(const _Key&, _Value&) {
    return false;
  }
  // Back-end existence of a key (or of a value's key); false: absent.
  template <typename _Key>
  bool bk_has(const _Key&) {
    return false;
  }
};

#endif  // TOKA_MOPRALIB_INC_XDS_XTABLE_EVENT_H
