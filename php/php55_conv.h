// The PHP calling conventions of MopraX: the one layer between the Zend engine and the
// module's functions. It keeps what PHP 5.5 scripts saw of the module on the 8.2 engine.
//
// Every PHP function of the module is one Row of a table (php/MopraX_wrapwrap.cpp): its
// message-form name, its argument kinds, its result kind and the call. From the rows this
// layer makes the engine's function table and the untyped argument information, and one
// dispatcher runs every call:
//   1. reset the module error state;
//   2. exact argument count, else E_WARNING "Wrong parameter count for <name>()" and null
//      (container constructors: the overload rule, a fatal error for any other count);
//   3. convert the arguments left to right; the first failure is fatal, later arguments
//      are not looked at. A conversion may run PHP code (__toString, an error handler for
//      its warning), so every resource and string fetched is held until the call returns,
//      and native addresses (a borrowed element's above all) are taken only after the
//      last conversion; an element gone by then gives Exception -4;
//   4. run the call inside the exception guard (std::out_of_range -> Exception code -4
//      for rows that declare it, other std::exception -> -3, anything else -> -1);
//   5. convert the result.
// The dispatcher keeps only trivially destructible locals, and the call never enters the
// engine: a fatal error (the engine leaves by a long jump) is raised only after every C++
// scope of the call has closed, and no C++ exception reaches a Zend frame.
//
// Resources: each resource the module makes holds a Record allocated from the engine's
// request memory (the object's address and the owned flag). A record born borrowed never
// deletes its object; an element record (a holder inside a vector) keeps a reference on
// the vector's resource and its index, and every use looks the element up again.
//
// Ownership: a resource owns its record; an owned record owns its object, deleted by the
// type's deleter when the engine destroys the resource. Strings handed to a call are the
// engine's, valid for the call only.
// Threads: the module is built for the non-thread-safe engine; the error state, the
// resource type ids and the result scratch string are process-wide and unguarded.
#ifndef TOKA_PHP_PHP55_CONV_H
#define TOKA_PHP_PHP55_CONV_H

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
#include "php.h"
}

namespace php55 {

// ---- the module error state -----------------------------------------------------------

// The message and level of the fatal error a failed argument check raises.
struct ErrorState {
  const char* message;
  int level;
};

// "Unknown error occurred", level 1 (E_ERROR).
void reset_error_state(ErrorState& state);

// ---- resource types ----------------------------------------------------------------------

// One registered resource type: its type name, the display name of the "already free'd"
// message and the deleter of its object (null: a plain-value type, the record only).
struct ResType {
  const char* name;
  const char* display;
  void (*deleter)(void* object);
};

// Registers the types in order (their engine ids are kept by the layer) with one
// destructor that frees the record and, for an owned record of an object type, deletes
// the object. Called once at module start-up.
void register_types(const ResType* types, int count, int module_number);

// The engine id of type t (index into the registered table), or -1 when not registered.
int type_id(int t);

// The resource record.
struct Record {
  void* object;          // the object; null for an element record (see owner)
  int newobject;         // owned flag as scripts see it: 1 owned, 0 borrowed
  int born_borrowed;     // 1: never deletes, whatever newobject says
  zend_resource* owner;  // element records: the vector's resource
  int owner_type;        // the vector's type index
  uint32_t index;        // the element's index in the vector
  void* (*element)(void* container, uint32_t index);  // null when index is gone
};

// ---- rows -----------------------------------------------------------------------------

enum class Kind : uint8_t {
  None,
  Int,        // signed 32-bit: PHP's integer conversion, low 32 bits
  Count,      // unsigned 64-bit count: PHP's integer conversion
  Int64,      // signed 64-bit: float truncated (saturated, NaN 0), string read as decimal
  Bool,       // PHP's boolean conversion
  Str,        // PHP's string conversion, all bytes
  BytesIn,    // a string used as a read-only buffer
  BytesOut,   // a string written in place: prefer-by-reference, separated before writing
  This,       // the object of a member function: null gives "this pointer is NULL"
  Ref,        // an object passed by reference: null gives the type-error message
  AnyObject,  // a resource of any of the module's object types (the ownership functions)
};

struct Arg {
  Kind kind;
  uint8_t type;  // resource type index for This / Ref
};

enum class RKind : uint8_t { Null, Int, Size, Int64, Bool, Str, Owned, Borrowed };

struct Ret {
  RKind kind;
  uint8_t type;  // resource type index for Owned / Borrowed
};

enum RowFlags : uint8_t {
  kRange = 1,       // the call declares std::out_of_range (code -4)
  kCtorVector = 2,  // overloaded constructor: none, or one PHP integer count
  kCtorMap = 4,     // overloaded constructor: none, or one map of the same type
};

constexpr int kMaxArgs = 5;

class Call;

struct Row {
  const char* name;  // message form; registered in lower case unless keep_case
  bool keep_case;
  uint8_t nargs;
  Arg args[kMaxArgs];
  Ret ret;
  uint8_t flags;
  void (*call)(Call&);
};

// ---- what a call sees --------------------------------------------------------------------

// The converted arguments of one call and its result slot. Trivially destructible: it
// lives in the dispatcher's frame.
class Call {
 public:
  int argc() const { return _argc; }
  int32_t i32(int i) const { return static_cast<int32_t>(_slot[i].l); }
  uint64_t count(int i) const { return static_cast<uint64_t>(_slot[i].l); }
  int64_t i64(int i) const { return _slot[i].l; }
  bool flag(int i) const { return _slot[i].l != 0; }
  // A copy of a string argument.
  std::string str(int i) const { return std::string(bytes(i), size(i)); }
  // The bytes and length of a string or byte-buffer argument.
  char* bytes(int i) const { return ZSTR_VAL(_slot[i].s); }
  int size(int i) const { return static_cast<int>(ZSTR_LEN(_slot[i].s)); }
  template <typename T>
  T& obj(int i) const {
    return *static_cast<T*>(_slot[i].p);
  }
  Record* record(int i) const { return _slot[i].r; }

  void ret_int(int64_t v) { _ret.l = v; }
  void ret_bool(bool v) { _ret.l = v ? 1 : 0; }
  void ret_object(void* object) { _ret.p = object; }
  // A string that stays valid after the call (a holder's value): copied once, by the
  // dispatcher.
  void ret_view(const std::string& s) {
    _view = s.data();
    _view_len = s.size();
  }
  // A string made by the call: kept in the layer's scratch string until converted.
  void ret_str(const std::string& s);
  // An element of the vector of argument i, at index.
  void ret_element(int i, uint32_t index, void* (*element)(void*, uint32_t)) {
    _ret.p = _slot[i].r;
    _elem_index = index;
    _element = element;
    _elem_arg = i;
  }

 private:
  friend void dispatch(const Row&, zend_execute_data*, zval*);
  friend void release_args(Call&, int);
  union Slot {
    zend_long l;
    zend_string* s;
    void* p;
    Record* r;
  };
  int _argc;
  Slot _slot[kMaxArgs];
  zend_resource* _res[kMaxArgs];  // an object argument's resource, held for the call
  uint8_t _held_str[kMaxArgs];    // 1: _slot[i].s holds a reference to release
  union {
    zend_long l;
    void* p;
  } _ret;
  const char* _view;
  size_t _view_len;
  uint32_t _elem_index;
  int _elem_arg;
  void* (*_element)(void*, uint32_t);
};

// Runs one row for the engine (the body of every PHP function of the module).
void dispatch(const Row& row, zend_execute_data* execute_data, zval* return_value);

// The module error state (process-wide).
}  // namespace php55
extern php55::ErrorState MopraX_globals;
namespace php55 {

// Builds the engine's function table (count entries plus the end marker) and the argument
// information from the rows; handlers[i] is the engine handler of rows[i]. The arrays have
// static storage and are built once.
const zend_function_entry* build_function_table(const Row* rows, int count,
                                                const zif_handler* handlers);

// The engine handler of row I of a table (a function-pointer instance per row).
template <const Row* Rows, size_t I>
void handler(zend_execute_data* execute_data, zval* return_value) {
  dispatch(Rows[I], execute_data, return_value);
}

}  // namespace php55

#endif  // TOKA_PHP_PHP55_CONV_H
