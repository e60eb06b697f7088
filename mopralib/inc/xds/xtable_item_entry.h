// Entry records of the tables: one value with the links a table keeps on it.
//
//   xtable_item_entry    next (hash-chain link, first: link offset 0), value
//   xcomplete_item_entry + dirty_next, dirty_prev, dirty (0 clean, 1 add, 2 update,
//                          3 add-or-update, 4 delete), evictable
//   xlru_item_entry      + lru_next (towards the LRU tail), lru_prev (towards the head)
//
// The fields keep this order with natural alignment (no packing): every pointer sits on its
// own alignment. An entry is the payload of a shared object (src/xds/shobject.h) made and
// released by the handle xtable_item (mopralib/inc/xds/xtable_item.h); the template argument
// INST only tells entry types over one value apart (each entry type has its own pool).
// Building an entry clears every link, sets dirty 0 and evictable 1.
//
// Ownership and threads: the links, dirty and evictable belong to the table that holds the
// entry and change only under its table lock; the value of a shared entry is read and
// written only under the entry's key lock. An entry is in at most one table at a time.
#ifndef TOKA_MOPRALIB_INC_XDS_XTABLE_ITEM_ENTRY_H
#define TOKA_MOPRALIB_INC_XDS_XTABLE_ITEM_ENTRY_H

#include <cstdint>
#include <utility>

// Tag of the entry constructors that build the value from their arguments.
struct xentry_build_t {};

template <typename _Value, unsigned INST = 0>
struct xtable_item_entry {
  typedef _Value value_type;

  void* next;
  _Value value;

  template <typename... _Args>
  explicit xtable_item_entry(xentry_build_t, _Args&&... args)
      : next(nullptr), value(std::forward<_Args>(args)...) {}

  xtable_item_entry(const xtable_item_entry&) = delete;
  xtable_item_entry& operator=(const xtable_item_entry&) = delete;
};

template <typename _Value, unsigned INST = 0>
struct xcomplete_item_entry : xtable_item_entry<_Value, INST> {
  xcomplete_item_entry* dirty_next;
  xcomplete_item_entry* dirty_prev;
  uint8_t dirty;
  bool evictable;

  template <typename... _Args>
  explicit xcomplete_item_entry(xentry_build_t tag, _Args&&... args)
      : xtable_item_entry<_Value, INST>(tag, std::forward<_Args>(args)...),
        dirty_next(nullptr),
        dirty_prev(nullptr),
        dirty(0),
        evictable(true) {}
};

template <typename _Value, unsigned INST = 0>
struct xlru_item_entry : xcomplete_item_entry<_Value, INST> {
  xlru_item_entry* lru_next;
  xlru_item_entry* lru_prev;

  template <typename... _Args>
  explicit xlru_item_entry(xentry_build_t tag, _Args&&... args)
      : xcomplete_item_entry<_Value, INST>(tag, std::forward<_Args>(args)...),
        lru_next(nullptr),
        lru_prev(nullptr) {}
};

#endif  // TOKA_MOPRALIB_INC_XDS_XTABLE_ITEM_ENTRY_H
