#include "php/php55_conv.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "src/xcheck.h"

extern "C" {
#include "zend_exceptions.h"
}

php55::ErrorState MopraX_globals;

namespace php55 {
namespace {

constexpr int kMaxTypes = 32;
constexpr const char* kUnknownError = "Unknown error occurred";

const ResType* g_types = nullptr;
int g_type_count = 0;
int g_type_ids[kMaxTypes];

// Formatted fatal messages ("Type error in argument ...") and exception texts.
char g_message[512];
std::string g_scratch;    // string results made by a call
std::string g_exception;  // the text of the exception the guard caught

void set_fatal(const char* message) {
  MopraX_globals.message = message;
  MopraX_globals.level = E_ERROR;
}

void set_type_error(int pos, const char* function, const char* type_name) {
  snprintf(g_message, sizeof g_message, "Type error in argument %d of %s. Expected SWIGTYPE%s", pos,
           function, type_name);
  set_fatal(g_message);
}

// The type index of an engine id, or -1.
int type_index(int id) {
  for (int t = 0; t < g_type_count; ++t)
    if (g_type_ids[t] == id) return t;
  return -1;
}

void resource_dtor(zend_resource* res) {
  Record* record = static_cast<Record*>(res->ptr);
  int t = type_index(res->type);
  if (record == nullptr) return;
  void* object = record->object;
  int owned = record->newobject;
  int born_borrowed = record->born_borrowed;
  zend_resource* owner = record->owner;
  efree(record);
  if (owner != nullptr) zend_list_delete(owner);  // an element: release the vector
  if (t < 0 || g_types[t].deleter == nullptr) return;
  if (owned == 0 || born_borrowed != 0 || owner != nullptr) return;
  if (object == nullptr) {
    snprintf(g_message, sizeof g_message, "%s resource already free'd", g_types[t].display);
    zend_error(E_ERROR, "%s", g_message);
    return;
  }
  g_types[t].deleter(object);  // deleters are noexcept
}

// Reads a PHP string as a signed decimal number: leading white space and a sign, digits up
// to the first other character, saturating beyond the 64-bit range.
int64_t string_to_int64(const char* s) { return static_cast<int64_t>(strtoll(s, nullptr, 10)); }

// A float truncated toward zero, saturating like the string rule; NaN gives 0.
int64_t double_to_int64(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775808.0) return INT64_MAX;
  if (d <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(d);
}

enum class Fetch { Ok, Null, Refused };

// The record of an object argument: a resource of the expected type (any object type when
// t is -1), an object whose "_cPtr" property holds one, or null.
Fetch fetch_record(zval* zv, int t, Record** out, zend_resource** res_out) {
  ZVAL_DEREF(zv);
  if (Z_TYPE_P(zv) == IS_NULL) return Fetch::Null;
  if (Z_TYPE_P(zv) == IS_OBJECT) {
    HashTable* props = Z_OBJ_HT_P(zv)->get_properties(Z_OBJ_P(zv));
    zval* inner = props != nullptr ? zend_hash_str_find(props, "_cPtr", 5) : nullptr;
    if (inner == nullptr) return Fetch::Refused;
    if (Z_TYPE_P(inner) == IS_INDIRECT) inner = Z_INDIRECT_P(inner);  // a declared property
    ZVAL_DEREF(inner);
    zv = inner;
  }
  if (Z_TYPE_P(zv) != IS_RESOURCE) return Fetch::Refused;
  zend_resource* res = Z_RES_P(zv);
  if (res->ptr == nullptr || res->type < 0) return Fetch::Refused;
  if (t >= 0) {
    if (res->type != g_type_ids[t]) return Fetch::Refused;
  } else {
    int i = type_index(res->type);
    if (i < 0 || g_types[i].deleter == nullptr) return Fetch::Refused;
  }
  *out = static_cast<Record*>(res->ptr);
  *res_out = res;
  return Fetch::Ok;
}

// The object behind a record; null when it is an element that is gone.
void* resolve(Record* record) {
  if (record->owner == nullptr) return record->object;
  zend_resource* owner = record->owner;
  if (owner->type < 0 || owner->type != g_type_ids[record->owner_type] || owner->ptr == nullptr)
    return nullptr;
  void* container = static_cast<Record*>(owner->ptr)->object;
  if (container == nullptr) return nullptr;
  return record->element(container, record->index);
}

// A byte buffer that is written in place, fetched at its argument's position. A variable
// holding a string (passed by reference) gets a string of its own, so that neither a literal
// nor another variable sharing the value sees the bytes; anything else is written into a
// converted copy. Either way the call holds a reference on the string until it returns.
zend_string* writable_buffer(zval* zv) {
  if (Z_ISREF_P(zv)) {
    zval* inner = Z_REFVAL_P(zv);
    if (Z_TYPE_P(inner) == IS_STRING) {
      zend_string* s = Z_STR_P(inner);
      if (ZSTR_IS_INTERNED(s) || GC_REFCOUNT(s) > 1) {
        zend_string* copy = zend_string_init(ZSTR_VAL(s), ZSTR_LEN(s), 0);
        zend_string_release(s);
        ZVAL_NEW_STR(inner, copy);
        s = copy;
      }
      GC_ADDREF(s);
      return s;
    }
    zv = inner;
  }
  zend_string* s = zval_get_string(zv);
  if (ZSTR_IS_INTERNED(s) || GC_REFCOUNT(s) > 1) {
    zend_string* copy = zend_string_init(ZSTR_VAL(s), ZSTR_LEN(s), 0);
    zend_string_release(s);
    s = copy;
  }
  return s;
}

// The string a byte buffer is written into, once every argument is converted: the buffer
// fetched at its position, in place while the variable still holds it alone (a copy the
// PHP code of a later conversion made keeps the old bytes), else a private copy nobody
// else sees. s is the call's reference; the result is too.
zend_string* settle_buffer(zval* zv, zend_string* s) {
  zval* inner = Z_ISREF_P(zv) ? Z_REFVAL_P(zv) : nullptr;
  bool bound = inner != nullptr && Z_TYPE_P(inner) == IS_STRING && Z_STR_P(inner) == s;
  uint32_t users = bound ? 2 : 1;  // the variable and the call, or the call alone
  if (GC_REFCOUNT(s) > users) {
    zend_string* copy = zend_string_init(ZSTR_VAL(s), ZSTR_LEN(s), 0);
    if (bound) {
      zend_string_release(s);  // the variable's reference
      ZVAL_NEW_STR(inner, copy);
      GC_ADDREF(copy);
    }
    zend_string_release(s);  // the call's reference
    s = copy;
  }
  zend_string_forget_hash_val(s);
  return s;
}

enum class Outcome { Done, Exception };

// The exception guard. Never enters the engine.
Outcome run_guarded(const Row& row, Call& call, zend_long* code) noexcept {
  try {
    row.call(call);
    return Outcome::Done;
  } catch (const std::out_of_range& e) {
    *code = (row.flags & kRange) != 0 ? -4 : -3;
    try {
      g_exception.assign(e.what());
    } catch (...) {
      g_exception.clear();
    }
  } catch (const std::exception& e) {
    *code = -3;
    try {
      g_exception.assign(e.what());
    } catch (...) {
      g_exception.clear();
    }
  } catch (...) {
    *code = -1;
    try {
      g_exception.assign("Unknown exception");
    } catch (...) {
      g_exception.clear();
    }
  }
  return Outcome::Exception;
}

// Makes the resource of a result: an object (owned or borrowed) or, with owner set, the
// element at index of the vector that owner holds. A null object gives null. False (and
// the fatal message set) when the type has no engine id.
bool make_resource(zval* return_value, void* object, int t, int owned, zend_resource* owner,
                   int owner_type, uint32_t index, void* (*element)(void*, uint32_t)) {
  if (object == nullptr && owner == nullptr) {
    RETVAL_NULL();
    return true;
  }
  int id = type_id(t);
  if (id < 0) {
    snprintf(g_message, sizeof g_message, "Type: %s not registered with zend", g_types[t].name);
    set_fatal(g_message);
    return false;
  }
  if (id == 0) {
    snprintf(g_message, sizeof g_message, "Type: %s failed to register with zend", g_types[t].name);
    set_fatal(g_message);
    return false;
  }
  Record* record = static_cast<Record*>(emalloc(sizeof(Record)));
  record->object = object;
  record->newobject = owned;
  record->born_borrowed = owned ? 0 : 1;
  record->owner = owner;
  record->owner_type = owner_type;
  record->index = index;
  record->element = element;
  if (owner != nullptr) GC_ADDREF(owner);
  RETVAL_RES(zend_register_resource(record, id));
  return true;
}

}  // namespace

void reset_error_state(ErrorState& state) {
  state.message = kUnknownError;
  state.level = E_ERROR;
}

void register_types(const ResType* types, int count, int module_number) {
  XCHECK(count <= kMaxTypes, "too many resource types");
  g_types = types;
  g_type_count = count;
  for (int t = 0; t < count; ++t)
    g_type_ids[t] = zend_register_list_destructors_ex(resource_dtor, nullptr, types[t].name,
                                                      module_number);
}

int type_id(int t) { return g_types != nullptr && t < g_type_count ? g_type_ids[t] : -1; }

void Call::ret_str(const std::string& s) {
  g_scratch.assign(s);
  _view = g_scratch.data();
  _view_len = g_scratch.size();
}

// Drops the references a call holds on its first fetched arguments' strings and resources.
// A resource whose last reference this was is destroyed here (its object deleted).
void release_args(Call& call, int fetched) {
  for (int i = 0; i < fetched; ++i) {
    if (call._held_str[i]) zend_string_release(call._slot[i].s);
    if (call._res[i] != nullptr) zend_list_delete(call._res[i]);
  }
}

void dispatch(const Row& row, zend_execute_data* execute_data, zval* return_value) {
  reset_error_state(MopraX_globals);
  Call call;
  int argc = static_cast<int>(ZEND_NUM_ARGS());
  call._argc = argc;
  call._view = nullptr;
  call._view_len = 0;
  call._ret.l = 0;
  call._element = nullptr;
  int fetched = 0;  // arguments whose string references need releasing
  zend_long code = 0;

  if ((row.flags & (kCtorVector | kCtorMap)) != 0) {
    bool fits = argc == 0;
    if (argc == 1) {
      zval* a = ZEND_CALL_ARG(execute_data, 1);
      if ((row.flags & kCtorVector) != 0) {
        fits = Z_TYPE_P(a) == IS_LONG;
      } else {
        Record* r;
        zend_resource* res;
        fits = fetch_record(a, row.args[0].type, &r, &res) != Fetch::Refused;
      }
    }
    if (!fits) {
      snprintf(g_message, sizeof g_message, "No matching function for overloaded '%s'", row.name);
      set_fatal(g_message);
      goto fatal;
    }
  } else if (argc != row.nargs) {
    zend_error(E_WARNING, "Wrong parameter count for %s()",
               ZSTR_VAL(EX(func)->common.function_name));
    RETURN_NULL();
  }

  // Conversion, from the first argument to the last. PHP code may run here (__toString,
  // an error handler called for a conversion's warning) and may drop the last reference to
  // an earlier argument's resource, resize the vector behind a borrowed element or
  // reassign a buffer variable: each resource and string is held until the call returns,
  // and no native address is taken before the last conversion has run.
  for (int i = 0; i < argc; ++i) {
    zval* a = ZEND_CALL_ARG(execute_data, i + 1);
    const Arg& arg = row.args[i];
    if (arg.kind != Kind::BytesOut) ZVAL_DEREF(a);
    call._held_str[i] = 0;
    call._res[i] = nullptr;
    fetched = i + 1;
    switch (arg.kind) {
      case Kind::Int:
        call._slot[i].l = static_cast<int32_t>(
            static_cast<uint32_t>(Z_TYPE_P(a) == IS_LONG ? Z_LVAL_P(a) : zval_get_long(a)));
        break;
      case Kind::Count:
        call._slot[i].l = Z_TYPE_P(a) == IS_LONG ? Z_LVAL_P(a) : zval_get_long(a);
        break;
      case Kind::Int64:
        if (Z_TYPE_P(a) == IS_LONG)
          call._slot[i].l = Z_LVAL_P(a);
        else if (Z_TYPE_P(a) == IS_DOUBLE)
          call._slot[i].l = double_to_int64(Z_DVAL_P(a));
        else if (Z_TYPE_P(a) == IS_STRING)
          call._slot[i].l = string_to_int64(Z_STRVAL_P(a));
        else
          call._slot[i].l = zval_get_long(a);
        break;
      case Kind::Bool: call._slot[i].l = zend_is_true(a) ? 1 : 0; break;
      case Kind::Str:
      case Kind::BytesIn:
        call._slot[i].s = zval_get_string(a);
        call._held_str[i] = 1;
        break;
      case Kind::BytesOut:
        call._slot[i].s = writable_buffer(a);
        call._held_str[i] = 1;
        break;
      case Kind::This:
      case Kind::Ref:
      case Kind::AnyObject: {
        Record* r = nullptr;
        zend_resource* res = nullptr;
        int t = arg.kind == Kind::AnyObject ? -1 : arg.type;
        Fetch f = fetch_record(a, t, &r, &res);
        if (f == Fetch::Refused || (f == Fetch::Null && arg.kind != Kind::This)) {
          if (arg.kind == Kind::AnyObject) {
            snprintf(g_message, sizeof g_message,
                     "Type error in argument %d of %s. Expected a MopraX object resource", i + 1,
                     row.name);
            set_fatal(g_message);
          } else {
            set_type_error(i + 1, row.name, g_types[t].name);
          }
          goto fatal;
        }
        if (f == Fetch::Null || (r->owner == nullptr && r->object == nullptr)) {
          set_fatal("this pointer is NULL");
          goto fatal;
        }
        GC_ADDREF(res);
        call._res[i] = res;
        call._slot[i].r = r;
        // An element already gone answers before the later arguments are looked at.
        if (arg.kind != Kind::AnyObject && r->owner != nullptr && resolve(r) == nullptr) {
          zend_throw_exception(zend_ce_exception, "vector index out of range", -4);
          goto release;
        }
        break;
      }
      case Kind::None: break;
    }
    if (EG(exception) != nullptr) goto release;
  }

  // Resolution: no PHP code runs from here until the call returns.
  for (int i = 0; i < argc; ++i) {
    const Arg& arg = row.args[i];
    if (arg.kind == Kind::This || arg.kind == Kind::Ref) {
      void* object = resolve(call._slot[i].r);
      if (object == nullptr) {  // an element whose vector changed meanwhile
        zend_throw_exception(zend_ce_exception, "vector index out of range", -4);
        goto release;
      }
      call._slot[i].p = object;
    } else if (arg.kind == Kind::BytesOut) {
      call._slot[i].s = settle_buffer(ZEND_CALL_ARG(execute_data, i + 1), call._slot[i].s);
    }
  }

  if (run_guarded(row, call, &code) == Outcome::Exception) {
    release_args(call, fetched);
    zend_throw_exception(zend_ce_exception, g_exception.c_str(), code);
    RETURN_NULL();
  }

  switch (row.ret.kind) {
    case RKind::Null: RETVAL_NULL(); break;
    case RKind::Int: RETVAL_LONG(static_cast<int32_t>(call._ret.l)); break;
    case RKind::Size:
    case RKind::Int64: RETVAL_LONG(call._ret.l); break;
    case RKind::Bool: RETVAL_BOOL(call._ret.l != 0); break;
    case RKind::Str:
      RETVAL_STRINGL(call._view != nullptr ? call._view : "", call._view_len);
      if (call._view == g_scratch.data() && g_scratch.capacity() > 65536) {
        g_scratch.clear();
        g_scratch.shrink_to_fit();
      }
      break;
    case RKind::Owned:
      if (!make_resource(return_value, call._ret.p, row.ret.type, 1, nullptr, 0, 0, nullptr))
        goto fatal;
      break;
    case RKind::Borrowed:
      if (!make_resource(return_value, nullptr, row.ret.type, 0, call._res[call._elem_arg],
                         row.args[call._elem_arg].type, call._elem_index, call._element))
        goto fatal;
      break;
  }

release:
  release_args(call, fetched);
  return;

fatal:
  release_args(call, fetched);
  zend_error(MopraX_globals.level, "%s", MopraX_globals.message);
}

namespace {

constexpr int kMaxRows = 160;
constexpr const char* kArgNames[kMaxArgs] = {"arg1", "arg2", "arg3", "arg4", "arg5"};

zend_function_entry g_functions[kMaxRows + 1];
zend_internal_arg_info g_arginfo[kMaxRows][kMaxArgs + 1];
char g_names[kMaxRows][96];

}  // namespace

const zend_function_entry* build_function_table(const Row* rows, int count,
                                                const zif_handler* handlers) {
  XCHECK(count <= kMaxRows, "too many functions");
  if (g_functions[0].fname != nullptr) return g_functions;
  for (int i = 0; i < count; ++i) {
    const Row& row = rows[i];
    size_t n = strlen(row.name);
    XCHECK(n < sizeof g_names[i], "function name too long");
    for (size_t k = 0; k <= n; ++k) {
      char c = row.name[k];
      g_names[i][k] = (!row.keep_case && c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a')
                                                               : c;
    }
    bool ctor = (row.flags & (kCtorVector | kCtorMap)) != 0;
    // Untyped argument information; the engine does not hold internal functions to its
    // counts, the dispatcher checks them.
    zend_internal_arg_info* info = g_arginfo[i];
    info[0] = zend_internal_arg_info{
        reinterpret_cast<const char*>(static_cast<uintptr_t>(ctor ? 0 : row.nargs)),
        ZEND_TYPE_INIT_NONE(0), nullptr};
    for (int a = 0; a < row.nargs; ++a) {
      uint32_t mode = row.args[a].kind == Kind::BytesOut ? ZEND_SEND_PREFER_REF : 0;
      info[a + 1] = zend_internal_arg_info{
          kArgNames[a], ZEND_TYPE_INIT_NONE(_ZEND_ARG_INFO_FLAGS(mode, 0, 0)), nullptr};
    }
    g_functions[i] = zend_function_entry{g_names[i], handlers[i], info,
                                         static_cast<uint32_t>(row.nargs), 0};
  }
  g_functions[count] = zend_function_entry{nullptr, nullptr, nullptr, 0, 0};
  return g_functions;
}

}  // namespace php55
