#include "php/MopraX_wrapwrap.h"

#include <array>
#include <string>
#include <utility>

#include "php/MopraX_containers.h"
#include "php/php55_conv.h"
#include "shared-types/MopraX_IntegralHolder.h"
#include "shared-types/MopraX_OpHandleHolder.h"
#include "shared-types/MopraX_StrHolder.h"
#include "shared-types/MopraX_impl.h"

extern "C" {
#include "ext/standard/info.h"
}

namespace {

using php55::Arg;
using php55::Call;
using php55::Kind;
using php55::Ret;
using php55::RKind;
using php55::Row;

using mopra::IntegralHolder;
using mopra::OpHandleHolder;
using mopra::StrHolder;
using moprax::HolderVector;
using moprax::IntIntMap;
using moprax::IntStringMap;
using moprax::IntVector;
using moprax::StringIntMap;
using moprax::StringStringMap;
using moprax::StringVector;

// ---- resource types, in registration order --------------------------------------------

enum Type : uint8_t {
  T_KEY_TYPE,
  T_UNSIGNED_CHAR,
  T_SIGNED_CHAR,
  T_UNSIGNED_INT,
  T_SIZE_TYPE,
  T_UNSIGNED_LONG_LONG,
  T_LONG_LONG,
  T_UNSIGNED_SHORT,
  T_SHORT,
  T_VEC_HOLDER,
  T_MAPPED_TYPE,
  T_VEC_INT,
  T_DIFFERENCE_TYPE,
  T_VALUE_TYPE,
  T_MAP_II,
  T_STRINGHOLDER,
  T_OPHANDLEHOLDER,
  T_VEC_STR,
  T_MAP_IS,
  T_MAP_SS,
  T_MAP_SI,
  T_INT,
  T_STRHOLDER,
  T_INTEGRALHOLDER,
  T_COUNT
};

template <typename T>
void destroy(void* object) noexcept {
  delete static_cast<T*>(object);
}

const php55::ResType kTypes[T_COUNT] = {
    {"_p_key_type", "", nullptr},
    {"_p_unsigned_char", "", nullptr},
    {"_p_signed_char", "", nullptr},
    {"_p_unsigned_int", "", nullptr},
    {"_p_size_type", "", nullptr},
    {"_p_unsigned_long_long", "", nullptr},
    {"_p_long_long", "", nullptr},
    {"_p_unsigned_short", "", nullptr},
    {"_p_short", "", nullptr},
    {"_p_std__vectorT_mopra__StrHolder_t", "std::vector<(mopra::StrHolder)>",
     &destroy<HolderVector>},
    {"_p_mapped_type", "", nullptr},
    {"_p_std__vectorT_int_t", "std::vector<(int)>", &destroy<IntVector>},
    {"_p_difference_type", "", nullptr},
    {"_p_value_type", "", nullptr},
    {"_p_std__mapT_int_int_t", "std::map<(int,int)>", &destroy<IntIntMap>},
    {"_p_mopra_StringHolder", "mopra_StringHolder", &destroy<mopra_StringHolder>},
    {"_p_mopra__OpHandleHolder", "mopra::OpHandleHolder", &destroy<OpHandleHolder>},
    {"_p_std__vectorT_std__string_t", "std::vector<(std::string)>", &destroy<StringVector>},
    {"_p_std__mapT_int_std__string_t", "std::map<(int,std::string)>", &destroy<IntStringMap>},
    {"_p_std__mapT_std__string_std__string_t", "std::map<(std::string,std::string)>",
     &destroy<StringStringMap>},
    {"_p_std__mapT_std__string_int_t", "std::map<(std::string,int)>", &destroy<StringIntMap>},
    {"_p_int", "", nullptr},
    {"_p_mopra__StrHolder", "mopra::StrHolder", &destroy<StrHolder>},
    {"_p_mopra__IntegralHolder", "mopra::IntegralHolder", &destroy<IntegralHolder>},
};

// ---- row vocabulary ---------------------------------------------------------------------

constexpr Arg I{Kind::Int, 0};          // integer argument
constexpr Arg N{Kind::Count, 0};        // count argument
constexpr Arg L{Kind::Int64, 0};        // 64-bit argument
constexpr Arg B{Kind::Bool, 0};         // boolean argument
constexpr Arg S{Kind::Str, 0};          // string argument
constexpr Arg BIN{Kind::BytesIn, 0};    // byte buffer, read
constexpr Arg BOUT{Kind::BytesOut, 0};  // byte buffer, written in place
constexpr Arg ANY{Kind::AnyObject, 0};  // any of the module's object resources
constexpr Arg This(uint8_t t) { return Arg{Kind::This, t}; }
constexpr Arg Ref(uint8_t t) { return Arg{Kind::Ref, t}; }

constexpr Ret R_NULL{RKind::Null, 0};
constexpr Ret R_INT{RKind::Int, 0};
constexpr Ret R_SIZE{RKind::Size, 0};
constexpr Ret R_I64{RKind::Int64, 0};
constexpr Ret R_BOOL{RKind::Bool, 0};
constexpr Ret R_STR{RKind::Str, 0};
constexpr Ret Owned(uint8_t t) { return Ret{RKind::Owned, t}; }
constexpr Ret Borrowed(uint8_t t) { return Ret{RKind::Borrowed, t}; }

template <typename... A>
constexpr Row F(const char* name, Ret ret, void (*call)(Call&), A... args) {
  return Row{name, false, static_cast<uint8_t>(sizeof...(A)), {args...}, ret, 0, call};
}
template <typename... A>
constexpr Row FX(const char* name, uint8_t flags, Ret ret, void (*call)(Call&), A... args) {
  return Row{name, false, static_cast<uint8_t>(sizeof...(A)), {args...}, ret, flags, call};
}
constexpr uint8_t RANGE = php55::kRange;
constexpr uint8_t CTOR_VEC = php55::kCtorVector;
constexpr uint8_t CTOR_MAP = php55::kCtorMap;

using VI = moprax::VectorFns<IntVector, moprax::IntItem>;
using VS = moprax::VectorFns<StringVector, moprax::StringItem>;
using VH = moprax::HolderVectorFns;
using MIS = moprax::MapFns<IntStringMap, moprax::IntItem, moprax::StringItem>;
using MSS = moprax::MapFns<StringStringMap, moprax::StringItem, moprax::StringItem>;
using MSI = moprax::MapFns<StringIntMap, moprax::StringItem, moprax::IntItem>;
using MII = moprax::MapFns<IntIntMap, moprax::IntItem, moprax::IntItem>;

using SH = mopra_StringHolder;
using IH = IntegralHolder;
using OH = OpHandleHolder;

// ---- the function table: one row per PHP function, in table order ----------------------

constexpr Row kRows[] = {
    // vector of int (0-9)
    FX("new_std__vectorT_int_t", CTOR_VEC, Owned(T_VEC_INT), &VI::create, N),
    F("std__vectorT_int_t_size", R_SIZE, &VI::size, This(T_VEC_INT)),
    F("std__vectorT_int_t_capacity", R_SIZE, &VI::capacity, This(T_VEC_INT)),
    F("std__vectorT_int_t_reserve", R_NULL, &VI::reserve, This(T_VEC_INT), N),
    F("std__vectorT_int_t_clear", R_NULL, &VI::clear, This(T_VEC_INT)),
    F("std__vectorT_int_t_push", R_NULL, &VI::push, This(T_VEC_INT), I),
    F("std__vectorT_int_t_is_empty", R_BOOL, &VI::is_empty, This(T_VEC_INT)),
    FX("std__vectorT_int_t_pop", RANGE, R_INT, &VI::pop, This(T_VEC_INT)),
    FX("std__vectorT_int_t_get", RANGE, R_INT, &VI::get, This(T_VEC_INT), I),
    FX("std__vectorT_int_t_set", RANGE, R_NULL, &VI::set, This(T_VEC_INT), I, I),
    // vector of string (10-19)
    FX("new_std__vectorT_std__string_t", CTOR_VEC, Owned(T_VEC_STR), &VS::create, N),
    F("std__vectorT_std__string_t_size", R_SIZE, &VS::size, This(T_VEC_STR)),
    F("std__vectorT_std__string_t_capacity", R_SIZE, &VS::capacity, This(T_VEC_STR)),
    F("std__vectorT_std__string_t_reserve", R_NULL, &VS::reserve, This(T_VEC_STR), N),
    F("std__vectorT_std__string_t_clear", R_NULL, &VS::clear, This(T_VEC_STR)),
    F("std__vectorT_std__string_t_push", R_NULL, &VS::push, This(T_VEC_STR), S),
    F("std__vectorT_std__string_t_is_empty", R_BOOL, &VS::is_empty, This(T_VEC_STR)),
    FX("std__vectorT_std__string_t_pop", RANGE, R_STR, &VS::pop, This(T_VEC_STR)),
    FX("std__vectorT_std__string_t_get", RANGE, R_STR, &VS::get, This(T_VEC_STR), I),
    FX("std__vectorT_std__string_t_set", RANGE, R_NULL, &VS::set, This(T_VEC_STR), I, S),
    // map int to string (20-27)
    FX("new_std__mapT_int_std__string_t", CTOR_MAP, Owned(T_MAP_IS), &MIS::create, Ref(T_MAP_IS)),
    F("std__mapT_int_std__string_t_size", R_SIZE, &MIS::size, This(T_MAP_IS)),
    F("std__mapT_int_std__string_t_clear", R_NULL, &MIS::clear, This(T_MAP_IS)),
    FX("std__mapT_int_std__string_t_get", RANGE, R_STR, &MIS::get, This(T_MAP_IS), I),
    F("std__mapT_int_std__string_t_set", R_NULL, &MIS::set, This(T_MAP_IS), I, S),
    FX("std__mapT_int_std__string_t_del", RANGE, R_NULL, &MIS::del, This(T_MAP_IS), I),
    F("std__mapT_int_std__string_t_has_key", R_BOOL, &MIS::has_key, This(T_MAP_IS), I),
    F("std__mapT_int_std__string_t_is_empty", R_BOOL, &MIS::is_empty, This(T_MAP_IS)),
    // map string to string (28-35)
    FX("new_std__mapT_std__string_std__string_t", CTOR_MAP, Owned(T_MAP_SS), &MSS::create,
       Ref(T_MAP_SS)),
    F("std__mapT_std__string_std__string_t_size", R_SIZE, &MSS::size, This(T_MAP_SS)),
    F("std__mapT_std__string_std__string_t_clear", R_NULL, &MSS::clear, This(T_MAP_SS)),
    FX("std__mapT_std__string_std__string_t_get", RANGE, R_STR, &MSS::get, This(T_MAP_SS), S),
    F("std__mapT_std__string_std__string_t_set", R_NULL, &MSS::set, This(T_MAP_SS), S, S),
    FX("std__mapT_std__string_std__string_t_del", RANGE, R_NULL, &MSS::del, This(T_MAP_SS), S),
    F("std__mapT_std__string_std__string_t_has_key", R_BOOL, &MSS::has_key, This(T_MAP_SS), S),
    F("std__mapT_std__string_std__string_t_is_empty", R_BOOL, &MSS::is_empty, This(T_MAP_SS)),
    // map string to int (36-43)
    FX("new_std__mapT_std__string_int_t", CTOR_MAP, Owned(T_MAP_SI), &MSI::create, Ref(T_MAP_SI)),
    F("std__mapT_std__string_int_t_size", R_SIZE, &MSI::size, This(T_MAP_SI)),
    F("std__mapT_std__string_int_t_clear", R_NULL, &MSI::clear, This(T_MAP_SI)),
    FX("std__mapT_std__string_int_t_get", RANGE, R_INT, &MSI::get, This(T_MAP_SI), S),
    F("std__mapT_std__string_int_t_set", R_NULL, &MSI::set, This(T_MAP_SI), S, I),
    FX("std__mapT_std__string_int_t_del", RANGE, R_NULL, &MSI::del, This(T_MAP_SI), S),
    F("std__mapT_std__string_int_t_has_key", R_BOOL, &MSI::has_key, This(T_MAP_SI), S),
    F("std__mapT_std__string_int_t_is_empty", R_BOOL, &MSI::is_empty, This(T_MAP_SI)),
    // map int to int (44-51)
    FX("new_std__mapT_int_int_t", CTOR_MAP, Owned(T_MAP_II), &MII::create, Ref(T_MAP_II)),
    F("std__mapT_int_int_t_size", R_SIZE, &MII::size, This(T_MAP_II)),
    F("std__mapT_int_int_t_clear", R_NULL, &MII::clear, This(T_MAP_II)),
    FX("std__mapT_int_int_t_get", RANGE, R_INT, &MII::get, This(T_MAP_II), I),
    F("std__mapT_int_int_t_set", R_NULL, &MII::set, This(T_MAP_II), I, I),
    FX("std__mapT_int_int_t_del", RANGE, R_NULL, &MII::del, This(T_MAP_II), I),
    F("std__mapT_int_int_t_has_key", R_BOOL, &MII::has_key, This(T_MAP_II), I),
    F("std__mapT_int_int_t_is_empty", R_BOOL, &MII::is_empty, This(T_MAP_II)),
    // vector of holders (52-61)
    FX("new_std__vectorT_mopra__StrHolder_t", CTOR_VEC, Owned(T_VEC_HOLDER), &VH::create, N),
    F("std__vectorT_mopra__StrHolder_t_size", R_SIZE, &VH::size, This(T_VEC_HOLDER)),
    F("std__vectorT_mopra__StrHolder_t_capacity", R_SIZE, &VH::capacity, This(T_VEC_HOLDER)),
    F("std__vectorT_mopra__StrHolder_t_reserve", R_NULL, &VH::reserve, This(T_VEC_HOLDER), N),
    F("std__vectorT_mopra__StrHolder_t_clear", R_NULL, &VH::clear, This(T_VEC_HOLDER)),
    F("std__vectorT_mopra__StrHolder_t_push", R_NULL, &VH::push, This(T_VEC_HOLDER),
      Ref(T_STRHOLDER)),
    F("std__vectorT_mopra__StrHolder_t_is_empty", R_BOOL, &VH::is_empty, This(T_VEC_HOLDER)),
    FX("std__vectorT_mopra__StrHolder_t_pop", RANGE, Owned(T_STRHOLDER), &VH::pop,
       This(T_VEC_HOLDER)),
    FX("std__vectorT_mopra__StrHolder_t_get", RANGE, Borrowed(T_STRHOLDER), &VH::get,
       This(T_VEC_HOLDER), I),
    FX("std__vectorT_mopra__StrHolder_t_set", RANGE, R_NULL, &VH::set, This(T_VEC_HOLDER), I,
       Ref(T_STRHOLDER)),
    // mopra_StringHolder (62-67)
    F("mopra_StringHolder_value_set", R_NULL,
      [](Call& c) { c.obj<SH>(0).value = c.str(1); }, This(T_STRINGHOLDER), S),
    F("mopra_StringHolder_value_get", R_STR,
      [](Call& c) { c.ret_view(c.obj<SH>(0).value); }, This(T_STRINGHOLDER)),
    F("mopra_StringHolder_setBinVal", R_NULL,
      [](Call& c) { c.obj<SH>(0).setBinVal(c.bytes(1), c.size(1), c.i32(2), c.i32(3)); },
      This(T_STRINGHOLDER), BIN, I, I),
    F("mopra_StringHolder_getBinVal", R_INT,
      [](Call& c) { c.ret_int(c.obj<SH>(0).getBinVal(c.bytes(1), c.size(1), c.i32(2))); },
      This(T_STRINGHOLDER), BOUT, I),
    F("mopra_StringHolder_getLength", R_INT,
      [](Call& c) { c.ret_int(c.obj<SH>(0).getLength()); }, This(T_STRINGHOLDER)),
    F("new_mopra_StringHolder", Owned(T_STRINGHOLDER), [](Call& c) { c.ret_object(new SH()); }),
    // mopra::IntegralHolder (68-72)
    F("mopra__IntegralHolder_value_set", R_NULL,
      [](Call& c) { c.obj<IH>(0).value = c.i64(1); }, This(T_INTEGRALHOLDER), L),
    F("mopra__IntegralHolder_value_get", R_I64,
      [](Call& c) { c.ret_int(c.obj<IH>(0).value); }, This(T_INTEGRALHOLDER)),
    F("mopra__IntegralHolder_error_set", R_NULL,
      [](Call& c) { c.obj<IH>(0).error = c.i32(1); }, This(T_INTEGRALHOLDER), I),
    F("mopra__IntegralHolder_error_get", R_INT,
      [](Call& c) { c.ret_int(c.obj<IH>(0).error); }, This(T_INTEGRALHOLDER)),
    F("new_mopra__IntegralHolder", Owned(T_INTEGRALHOLDER),
      [](Call& c) { c.ret_object(new IH()); }),
    // mopra::StrHolder (73-94)
    F("mopra__StrHolder_value_set", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).value = c.str(1); }, This(T_STRHOLDER), S),
    F("mopra__StrHolder_value_get", R_STR,
      [](Call& c) { c.ret_view(c.obj<StrHolder>(0).value); }, This(T_STRHOLDER)),
    F("mopra__StrHolder_cursor_set", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).cursor = c.i32(1); }, This(T_STRHOLDER), I),
    F("mopra__StrHolder_cursor_get", R_INT,
      [](Call& c) { c.ret_int(c.obj<StrHolder>(0).cursor); }, This(T_STRHOLDER)),
    F("mopra__StrHolder_error_set", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).error = c.i32(1); }, This(T_STRHOLDER), I),
    F("mopra__StrHolder_error_get", R_INT,
      [](Call& c) { c.ret_int(c.obj<StrHolder>(0).error); }, This(T_STRHOLDER)),
    F("new_mopra__StrHolder", Owned(T_STRHOLDER), [](Call& c) { c.ret_object(new StrHolder()); }),
    F("mopra__StrHolder_setBinVal", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).setBinVal(c.bytes(1), c.size(1), c.i32(2), c.i32(3)); },
      This(T_STRHOLDER), BIN, I, I),
    F("mopra__StrHolder_getBinVal", R_INT,
      [](Call& c) { c.ret_int(c.obj<StrHolder>(0).getBinVal(c.bytes(1), c.size(1), c.i32(2))); },
      This(T_STRHOLDER), BOUT, I),
    F("mopra__StrHolder_getLength", R_INT,
      [](Call& c) { c.ret_int(c.obj<StrHolder>(0).getLength()); }, This(T_STRHOLDER)),
    F("mopra__StrHolder_packI8", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).packI8(c.i32(1)); }, This(T_STRHOLDER), I),
    F("mopra__StrHolder_packI16", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).packI16(c.i32(1)); }, This(T_STRHOLDER), I),
    F("mopra__StrHolder_packI32", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).packI32(c.i32(1)); }, This(T_STRHOLDER), I),
    F("mopra__StrHolder_packI64", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).packI64(c.i64(1)); }, This(T_STRHOLDER), L),
    F("mopra__StrHolder_packStr", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).packStr(c.str(1)); }, This(T_STRHOLDER), S),
    F("mopra__StrHolder_packBin", R_INT,
      [](Call& c) {
        c.ret_int(c.obj<StrHolder>(0).packBin(c.bytes(1), c.size(1), c.i32(2), c.i32(3)));
      },
      This(T_STRHOLDER), BIN, I, I),
    F("mopra__StrHolder_unpackI8", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).unpackI8(c.obj<IH>(1), c.flag(2)); },
      This(T_STRHOLDER), Ref(T_INTEGRALHOLDER), B),
    F("mopra__StrHolder_unpackI16", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).unpackI16(c.obj<IH>(1), c.flag(2)); },
      This(T_STRHOLDER), Ref(T_INTEGRALHOLDER), B),
    F("mopra__StrHolder_unpackI32", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).unpackI32(c.obj<IH>(1), c.flag(2)); },
      This(T_STRHOLDER), Ref(T_INTEGRALHOLDER), B),
    F("mopra__StrHolder_unpackI64", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).unpackI64(c.obj<IH>(1), c.flag(2)); },
      This(T_STRHOLDER), Ref(T_INTEGRALHOLDER), B),
    F("mopra__StrHolder_unpackStr", R_NULL,
      [](Call& c) { c.obj<StrHolder>(0).unpackStr(c.obj<StrHolder>(1), c.flag(2)); },
      This(T_STRHOLDER), Ref(T_STRHOLDER), B),
    F("mopra__StrHolder_unpackBin", R_INT,
      [](Call& c) {
        c.ret_int(c.obj<StrHolder>(0).unpackBin(c.bytes(1), c.size(1), c.i32(2), c.flag(3)));
      },
      This(T_STRHOLDER), BOUT, I, B),
    // mopra::OpHandleHolder (95-112)
    F("new_mopra__OpHandleHolder", Owned(T_OPHANDLEHOLDER),
      [](Call& c) { c.ret_object(new OH()); }),
    F("mopra__OpHandleHolder_ctor", R_NULL, [](Call& c) { c.obj<OH>(0).ctor(); },
      This(T_OPHANDLEHOLDER)),
    F("mopra__OpHandleHolder_selfClone", R_NULL, [](Call& c) { c.obj<OH>(0).selfClone(); },
      This(T_OPHANDLEHOLDER)),
    F("mopra__OpHandleHolder_isNull", R_BOOL, [](Call& c) { c.ret_bool(c.obj<OH>(0).isNull()); },
      This(T_OPHANDLEHOLDER)),
    F("mopra__OpHandleHolder_releaseIfNotOwner", R_BOOL,
      [](Call& c) { c.ret_bool(c.obj<OH>(0).releaseIfNotOwner()); }, This(T_OPHANDLEHOLDER)),
    F("mopra__OpHandleHolder_release", R_NULL, [](Call& c) { c.obj<OH>(0).release(); },
      This(T_OPHANDLEHOLDER)),
    F("mopra__OpHandleHolder_getAuth", R_STR,
      [](Call& c) { c.ret_view(c.obj<OH>(0).getAuth()); }, This(T_OPHANDLEHOLDER)),
    F("mopra__OpHandleHolder_setAuth", R_NULL, [](Call& c) { c.obj<OH>(0).setAuth(c.str(1)); },
      This(T_OPHANDLEHOLDER), S),
    F("mopra__OpHandleHolder_getFwseq", R_INT,
      [](Call& c) { c.ret_int(c.obj<OH>(0).getFwseq()); }, This(T_OPHANDLEHOLDER)),
    F("mopra__OpHandleHolder_setFwseq", R_NULL, [](Call& c) { c.obj<OH>(0).setFwseq(c.i32(1)); },
      This(T_OPHANDLEHOLDER), I),
    F("mopra__OpHandleHolder_getReason", R_INT,
      [](Call& c) { c.ret_int(c.obj<OH>(0).getReason()); }, This(T_OPHANDLEHOLDER)),
    F("mopra__OpHandleHolder_setReason", R_NULL,
      [](Call& c) { c.obj<OH>(0).setReason(c.i32(1)); }, This(T_OPHANDLEHOLDER), I),
    F("mopra__OpHandleHolder_getSeq", R_I64, [](Call& c) { c.ret_int(c.obj<OH>(0).getSeq()); },
      This(T_OPHANDLEHOLDER)),
    F("mopra__OpHandleHolder_setSeq", R_NULL, [](Call& c) { c.obj<OH>(0).setSeq(c.i64(1)); },
      This(T_OPHANDLEHOLDER), L),
    F("mopra__OpHandleHolder_getSession", R_I64,
      [](Call& c) { c.ret_int(c.obj<OH>(0).getSession()); }, This(T_OPHANDLEHOLDER)),
    F("mopra__OpHandleHolder_setSession", R_NULL,
      [](Call& c) { c.obj<OH>(0).setSession(c.i64(1)); }, This(T_OPHANDLEHOLDER), L),
    F("mopra__OpHandleHolder_getSource", R_STR,
      [](Call& c) { c.ret_view(c.obj<OH>(0).getSource()); }, This(T_OPHANDLEHOLDER)),
    F("mopra__OpHandleHolder_setSource", R_NULL,
      [](Call& c) { c.obj<OH>(0).setSource(c.str(1)); }, This(T_OPHANDLEHOLDER), S),
    // free functions (113-143)
    F("mopra__info", R_STR, [](Call& c) { c.ret_str(mopra::info()); }),
    F("mopra__hexing", R_INT,
      [](Call& c) { c.ret_int(mopra::hexing(c.obj<StrHolder>(0), c.obj<StrHolder>(1), c.i32(2))); },
      Ref(T_STRHOLDER), Ref(T_STRHOLDER), I),
    F("mopra__unhexing", R_INT,
      [](Call& c) {
        c.ret_int(mopra::unhexing(c.obj<StrHolder>(0), c.obj<StrHolder>(1), c.i32(2)));
      },
      Ref(T_STRHOLDER), Ref(T_STRHOLDER), I),
    F("mopra__serialize", R_INT,
      [](Call& c) {
        c.ret_int(mopra::serialize(c.obj<StrHolder>(0), c.obj<StringVector>(1), c.i32(2)));
      },
      Ref(T_STRHOLDER), Ref(T_VEC_STR), I),
    F("mopra__deserialize", R_INT,
      [](Call& c) { c.ret_int(mopra::deserialize(c.obj<StringVector>(0), c.obj<StrHolder>(1))); },
      Ref(T_VEC_STR), Ref(T_STRHOLDER)),
    F("mopra__hash", R_INT, [](Call& c) { c.ret_int(mopra::hash(c.obj<StrHolder>(0), c.i32(1))); },
      Ref(T_STRHOLDER), I),
    F("mopra__hash64", R_I64,
      [](Call& c) { c.ret_int(mopra::hash64(c.obj<StrHolder>(0), c.i32(1))); }, Ref(T_STRHOLDER),
      I),
    F("mopra__compress", R_INT,
      [](Call& c) {
        c.ret_int(
            mopra::compress(c.obj<StrHolder>(0), c.obj<StrHolder>(1), c.i32(2), c.i32(3)));
      },
      Ref(T_STRHOLDER), Ref(T_STRHOLDER), I, I),
    F("mopra__decompress", R_INT,
      [](Call& c) {
        c.ret_int(
            mopra::decompress(c.obj<StrHolder>(0), c.obj<StrHolder>(1), c.i32(2), c.i32(3)));
      },
      Ref(T_STRHOLDER), Ref(T_STRHOLDER), I, I),
    F("mopra__base64_encode", R_INT,
      [](Call& c) {
        c.ret_int(mopra::base64_encode(c.obj<StrHolder>(0), c.obj<StrHolder>(1), c.i32(2)));
      },
      Ref(T_STRHOLDER), Ref(T_STRHOLDER), I),
    F("mopra__base64_decode", R_INT,
      [](Call& c) {
        c.ret_int(mopra::base64_decode(c.obj<StrHolder>(0), c.obj<StrHolder>(1), c.i32(2)));
      },
      Ref(T_STRHOLDER), Ref(T_STRHOLDER), I),
    F("mopra__noise", R_INT, [](Call& c) { c.ret_int(mopra::noise(c.obj<StrHolder>(0))); },
      Ref(T_STRHOLDER)),
    F("mopra__denoise", R_INT, [](Call& c) { c.ret_int(mopra::denoise(c.obj<StrHolder>(0))); },
      Ref(T_STRHOLDER)),
    F("mopra__noise64", R_INT,
      [](Call& c) { c.ret_int(mopra::noise64(c.obj<StrHolder>(0), c.i64(1), c.i64(2))); },
      Ref(T_STRHOLDER), L, L),
    F("mopra__denoise64", R_INT,
      [](Call& c) { c.ret_int(mopra::denoise64(c.obj<IH>(0), c.obj<StrHolder>(1), c.i64(2))); },
      Ref(T_INTEGRALHOLDER), Ref(T_STRHOLDER), L),
    F("mopra__wma_encode_withpadding", R_INT,
      [](Call& c) {
        c.ret_int(mopra::wma_encode_withpadding(c.obj<StrHolder>(0), c.obj<StringVector>(1),
                                                c.obj<StrHolder>(2), c.i32(3), c.i32(4)));
      },
      Ref(T_STRHOLDER), Ref(T_VEC_STR), Ref(T_STRHOLDER), I, I),
    F("mopra__wma_encode", R_INT,
      [](Call& c) {
        c.ret_int(mopra::wma_encode(c.obj<StrHolder>(0), c.obj<StringVector>(1),
                                    c.obj<StrHolder>(2), c.i32(3), c.i32(4)));
      },
      Ref(T_STRHOLDER), Ref(T_VEC_STR), Ref(T_STRHOLDER), I, I),
    F("mopra__wma_decode", R_INT,
      [](Call& c) {
        c.ret_int(mopra::wma_decode(c.obj<StringVector>(0), c.obj<StrHolder>(1),
                                    c.obj<StrHolder>(2), c.i32(3), c.i32(4)));
      },
      Ref(T_VEC_STR), Ref(T_STRHOLDER), Ref(T_STRHOLDER), I, I),
    F("list_add_strholder", R_NULL,
      [](Call& c) { mopra::list_add_strholder(c.obj<StringVector>(0), c.obj<StrHolder>(1)); },
      Ref(T_VEC_STR), Ref(T_STRHOLDER)),
    F("list_set_strholder", R_INT,
      [](Call& c) {
        c.ret_int(mopra::list_set_strholder(c.obj<StringVector>(0), c.obj<StrHolder>(1), c.i32(2)));
      },
      Ref(T_VEC_STR), Ref(T_STRHOLDER), I),
    F("list_get_strholder", R_INT,
      [](Call& c) {
        c.ret_int(mopra::list_get_strholder(c.obj<StrHolder>(0), c.obj<StringVector>(1), c.i32(2)));
      },
      Ref(T_STRHOLDER), Ref(T_VEC_STR), I),
    F("mopra__conv_list_strholder", R_NULL,
      [](Call& c) { mopra::conv_list_strholder(c.obj<StringVector>(0), c.obj<HolderVector>(1)); },
      Ref(T_VEC_STR), Ref(T_VEC_HOLDER)),
    F("mopra__conv_list_str", R_NULL,
      [](Call& c) { mopra::conv_list_str(c.obj<HolderVector>(0), c.obj<StringVector>(1)); },
      Ref(T_VEC_HOLDER), Ref(T_VEC_STR)),
    F("mopra__serialize2", R_INT,
      [](Call& c) {
        c.ret_int(mopra::serialize2(c.obj<StrHolder>(0), c.obj<HolderVector>(1), c.i32(2)));
      },
      Ref(T_STRHOLDER), Ref(T_VEC_HOLDER), I),
    F("mopra__deserialize2", R_INT,
      [](Call& c) { c.ret_int(mopra::deserialize2(c.obj<HolderVector>(0), c.obj<StrHolder>(1))); },
      Ref(T_VEC_HOLDER), Ref(T_STRHOLDER)),
    F("mopra__wma_encode_withpadding2", R_INT,
      [](Call& c) {
        c.ret_int(mopra::wma_encode_withpadding2(c.obj<StrHolder>(0), c.obj<HolderVector>(1),
                                                 c.obj<StrHolder>(2), c.i32(3), c.i32(4)));
      },
      Ref(T_STRHOLDER), Ref(T_VEC_HOLDER), Ref(T_STRHOLDER), I, I),
    F("mopra__wma_encode2", R_INT,
      [](Call& c) {
        c.ret_int(mopra::wma_encode2(c.obj<StrHolder>(0), c.obj<HolderVector>(1),
                                     c.obj<StrHolder>(2), c.i32(3), c.i32(4)));
      },
      Ref(T_STRHOLDER), Ref(T_VEC_HOLDER), Ref(T_STRHOLDER), I, I),
    F("mopra__wma_decode2", R_INT,
      [](Call& c) {
        c.ret_int(mopra::wma_decode2(c.obj<HolderVector>(0), c.obj<StrHolder>(1),
                                     c.obj<StrHolder>(2), c.i32(3), c.i32(4)));
      },
      Ref(T_VEC_HOLDER), Ref(T_STRHOLDER), Ref(T_STRHOLDER), I, I),
    F("mopra__encode_i32_to_i64_by_keyspace", R_I64,
      [](Call& c) { c.ret_int(mopra::encode_i32_to_i64_by_keyspace(c.i32(0), c.i32(1), c.i64(2))); },
      I, I, L),
    F("mopra__decode_i64_to_i32_by_keyspace", R_INT,
      [](Call& c) { c.ret_int(mopra::decode_i64_to_i32_by_keyspace(c.i64(0), c.i32(1), c.i64(2))); },
      L, I, L),
    F("mopra__decode_i64_to_i32_by_keyspace1", R_INT,
      [](Call& c) {
        c.ret_int(mopra::decode_i64_to_i32_by_keyspace1(c.obj<IH>(0), c.i64(1), c.i64(2)));
      },
      Ref(T_INTEGRALHOLDER), L, L),
    // ownership (144-145), registered in their mixed case
    Row{"swig_MopraX_alter_newobject", true, 2, {ANY, B}, R_NULL, 0,
        [](Call& c) { c.record(0)->newobject = c.flag(1) ? 1 : 0; }},
    Row{"swig_MopraX_get_newobject", true, 1, {ANY}, R_INT, 0,
        [](Call& c) { c.ret_int(c.record(0)->newobject); }},
};

constexpr int kRowCount = static_cast<int>(sizeof kRows / sizeof kRows[0]);

template <size_t... Is>
constexpr std::array<zif_handler, sizeof...(Is)> make_handlers(std::index_sequence<Is...>) {
  return {{&php55::handler<kRows, Is>...}};
}
const std::array<zif_handler, kRowCount> kHandlers = make_handlers(
    std::make_index_sequence<kRowCount>{});

}  // namespace

// ---- the module ---------------------------------------------------------------------------

void MopraX_init_globals() { php55::reset_error_state(MopraX_globals); }

PHP_MINIT_FUNCTION(MopraX) {
  (void)type;
  MopraX_init_globals();
  php55::register_types(kTypes, T_COUNT, module_number);
  return SUCCESS;
}

PHP_MSHUTDOWN_FUNCTION(MopraX) {
  (void)type;
  (void)module_number;
  return SUCCESS;
}

PHP_RINIT_FUNCTION(MopraX) {
  (void)type;
  (void)module_number;
  return SUCCESS;
}

PHP_RSHUTDOWN_FUNCTION(MopraX) {
  (void)type;
  (void)module_number;
  return SUCCESS;
}

PHP_MINFO_FUNCTION(MopraX) {
  (void)zend_module;
  php_info_print_table_start();
  php_info_print_table_row(2, "Name", "MopraX");
  php_info_print_table_row(2, "Version", "1.1");
  php_info_print_table_row(2, "Description", "Shared types, operations for Toka libraries.");
  php_info_print_table_end();
}

zend_module_entry MopraX_module_entry = {
    STANDARD_MODULE_HEADER,
    "MopraX",
    nullptr,  // the function table, built from the rows by get_module
    PHP_MINIT(MopraX),
    PHP_MSHUTDOWN(MopraX),
    PHP_RINIT(MopraX),
    PHP_RSHUTDOWN(MopraX),
    PHP_MINFO(MopraX),
    NO_VERSION_YET,
    STANDARD_MODULE_PROPERTIES,
};

extern "C" ZEND_DLEXPORT zend_module_entry* get_module(void) {
  if (MopraX_module_entry.functions == nullptr)
    MopraX_module_entry.functions = php55::build_function_table(kRows, kRowCount, kHandlers.data());
  return &MopraX_module_entry;
}
