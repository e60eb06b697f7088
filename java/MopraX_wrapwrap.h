// MopraX_wrapwrap (Java build): the row machinery of MopraXJNI's native table.
//
// One row per native:
//   MX_NATIVE(RESULT, mangled_name, call, (KIND[, Type]), ...)
// defines the exported "Java_com_olm_toka_jni_moprax_MopraXJNI_<mangled_name>" with the
// JNI parameters of its argument kinds, converts the arguments in their order into v1, v2,
// ... (each conversion does its own null check, so the checks run in argument order), runs
// `call` inside tjni::guarded (reporter mx::throwCurrent) and converts its value by RESULT.
//
// Argument kinds (Java parameters → the native value vN):
//   (NONE)          no parameter
//   (SELF, T)       handle + proxy → T&; zero raises NullPointerException "<T> self is null"
//   (REF, T)        handle + proxy → T&; zero: "<T> & reference is null"
//   (CREF, T)       handle + proxy → const T&; zero: "<T> const & reference is null"
//   (OPT, T)        handle + proxy → T*, may be null (value_set ignores a zero holder)
//   (DEL, T)        handle only → T*, may be null (delete_)
//   (INT), (LONG)   jint, jlong as they are
//   (STR)           jstring → std::string (mx::str)
//   (ARRAY)         jbyteArray as it is (mx::setBinVal, mx::getBinVal)
// Results: VOID, INT (jint), LONG (jlong), BOOL (jboolean), STRING (mx::jstr), HANDLE (the
// address of the new object as jlong).
//
// The container rows are instances of VectorOps and MapOps over the containers of
// shared-types/mopra_containers.h (MopraXJNI's build: the standard allocator).
#ifndef TOKA_JAVA_MOPRAX_WRAPWRAP_H
#define TOKA_JAVA_MOPRAX_WRAPWRAP_H

#include <jni.h>

#include <cstdint>
#include <string>

#include "java/MopraX_jconv.h"
#include "java/MopraX_jthrow.h"
#include "shared-types/MopraX_IntegralHolder.h"
#include "shared-types/MopraX_OpHandleHolder.h"
#include "shared-types/MopraX_StrHolder.h"
#include "shared-types/MopraX_impl.h"
#include "shared-types/mopra_containers.h"

namespace mx {

typedef mopra::int_vector IntVec;
typedef mopra::string_vector StrVec;
typedef mopra::int_string_map IntStrMap;
typedef mopra::string_string_map StrStrMap;
typedef mopra::string_int_map StrIntMap;
typedef mopra::int_int_map IntIntMap;
typedef ::mopra_StringHolder StringHolder;
typedef mopra::StrHolder StrHolder;
typedef mopra::IntegralHolder IntHolder;
typedef mopra::OpHandleHolder OpHolder;

#define MX_TYPE_NAME(T, name)                                              \
  template <>                                                              \
  struct TypeName<T> {                                                     \
    static constexpr const char* self = name " self is null";              \
    static constexpr const char* ref = name " & reference is null";        \
    static constexpr const char* cref = name " const & reference is null"; \
  }
MX_TYPE_NAME(IntVec, "std::vector< int >");
MX_TYPE_NAME(StrVec, "std::vector< std::string >");
MX_TYPE_NAME(IntStrMap, "std::map< int,std::string >");
MX_TYPE_NAME(StrStrMap, "std::map< std::string,std::string >");
MX_TYPE_NAME(StrIntMap, "std::map< std::string,int >");
MX_TYPE_NAME(IntIntMap, "std::map< int,int >");
MX_TYPE_NAME(StringHolder, "mopra_StringHolder");
MX_TYPE_NAME(StrHolder, "mopra::StrHolder");
MX_TYPE_NAME(IntHolder, "mopra::IntegralHolder");
MX_TYPE_NAME(OpHolder, "mopra::OpHandleHolder");
#undef MX_TYPE_NAME

template <typename V>
struct VectorOps {
  typedef typename V::value_type E;

  // n default elements; a negative n is refused by the vector (RuntimeException).
  static V* make(jlong n) { return new V(static_cast<typename V::size_type>(n)); }
  static jlong size(const V& v) { return static_cast<jlong>(v.size()); }
  static jlong capacity(const V& v) { return static_cast<jlong>(v.capacity()); }
  static void reserve(V& v, jlong n) { v.reserve(static_cast<typename V::size_type>(n)); }
  static const E& get(const V& v, jint i) { return v[index(v, i)]; }
  static void set(V& v, jint i, const E& x) { v[index(v, i)] = x; }

 private:
  static size_t index(const V& v, jint i) {
    if (i < 0 || static_cast<size_t>(i) >= v.size()) throw IndexError("vector index out of range");
    return static_cast<size_t>(i);
  }
};

template <typename M>
struct MapOps {
  typedef typename M::key_type K;
  typedef typename M::mapped_type V;

  // The count as an unsigned 32-bit number.
  static jlong size(const M& m) { return static_cast<jlong>(static_cast<uint32_t>(m.size())); }
  static const V& get(const M& m, const K& k) {
    typename M::const_iterator it = m.find(k);
    if (it == m.end()) throw IndexError("key not found");
    return it->second;
  }
  static void del(M& m, const K& k) {
    typename M::iterator it = m.find(k);
    if (it == m.end()) throw IndexError("key not found");
    m.erase(it);
  }
};

// value_set: a zero holder handle is ignored.
template <typename H, typename V>
inline void setValue(H* holder, const V& v) {
  if (holder != nullptr) holder->value = v;
}

}  // namespace mx

// ---- row machinery --------------------------------------------------------------------

#define MX_CAT(a, b) MX_CAT_I(a, b)
#define MX_CAT_I(a, b) a##b
#define MX_EXPAND(...) __VA_ARGS__
#define MX_NARGS(...) MX_NARGS_I(__VA_ARGS__, 6, 5, 4, 3, 2, 1, 0)
#define MX_NARGS_I(_1, _2, _3, _4, _5, _6, N, ...) N
#define MX_FOR(m, ...) MX_CAT(MX_FOR_, MX_NARGS(__VA_ARGS__))(m, __VA_ARGS__)
#define MX_FOR_1(m, a) m(1, a)
#define MX_FOR_2(m, a, b) m(1, a) m(2, b)
#define MX_FOR_3(m, a, b, c) m(1, a) m(2, b) m(3, c)
#define MX_FOR_4(m, a, b, c, d) m(1, a) m(2, b) m(3, c) m(4, d)
#define MX_FOR_5(m, a, b, c, d, e) m(1, a) m(2, b) m(3, c) m(4, d) m(5, e)
#define MX_FOR_6(m, a, b, c, d, e, f) m(1, a) m(2, b) m(3, c) m(4, d) m(5, e) m(6, f)

// (KIND, ...) → prefix##KIND(n, ...)
#define MX_KIND(prefix, n, k) MX_KIND_I(prefix, n, MX_EXPAND k)
#define MX_KIND_I(prefix, n, ...) MX_KIND_II(prefix, n, __VA_ARGS__)
#define MX_KIND_II(prefix, n, kind, ...) prefix##kind(n, __VA_ARGS__)

#define MX_PARAM(n, k) MX_KIND(MX_PARAM_, n, k)
#define MX_PARAM_NONE(n, ...)
#define MX_PARAM_SELF(n, T) , jlong a##n, jobject
#define MX_PARAM_REF(n, T) , jlong a##n, jobject
#define MX_PARAM_CREF(n, T) , jlong a##n, jobject
#define MX_PARAM_OPT(n, T) , jlong a##n, jobject
#define MX_PARAM_DEL(n, T) , jlong a##n
#define MX_PARAM_INT(n, ...) , jint a##n
#define MX_PARAM_LONG(n, ...) , jlong a##n
#define MX_PARAM_STR(n, ...) , jstring a##n
#define MX_PARAM_ARRAY(n, ...) , jbyteArray a##n

#define MX_CONV(n, k) MX_KIND(MX_CONV_, n, k)
#define MX_CONV_NONE(n, ...)
#define MX_CONV_SELF(n, T) T& v##n = mx::self<T>(a##n);
#define MX_CONV_REF(n, T) T& v##n = mx::ref<T>(a##n);
#define MX_CONV_CREF(n, T) const T& v##n = mx::cref<T>(a##n);
#define MX_CONV_OPT(n, T) T* v##n = tjni::fromHandle<T>(a##n);
#define MX_CONV_DEL(n, T) T* v##n = tjni::fromHandle<T>(a##n);
#define MX_CONV_INT(n, ...) const jint v##n = a##n;
#define MX_CONV_LONG(n, ...) const jlong v##n = a##n;
#define MX_CONV_STR(n, ...) const std::string v##n = mx::str(env, a##n);
#define MX_CONV_ARRAY(n, ...) const jbyteArray v##n = a##n;

#define MX_JTYPE_VOID void
#define MX_JTYPE_INT jint
#define MX_JTYPE_LONG jlong
#define MX_JTYPE_BOOL jboolean
#define MX_JTYPE_STRING jstring
#define MX_JTYPE_HANDLE jlong

#define MX_RESULT_VOID(x) (void)(x)
#define MX_RESULT_INT(x) static_cast<jint>(x)
#define MX_RESULT_LONG(x) static_cast<jlong>(x)
#define MX_RESULT_BOOL(x) ((x) ? JNI_TRUE : JNI_FALSE)
#define MX_RESULT_STRING(x) mx::jstr(env, x)
#define MX_RESULT_HANDLE(x) tjni::toHandle(x)

#define MX_NATIVE(RESULT, NAME, CALL, ...)                                                      \
  extern "C" JNIEXPORT MX_JTYPE_##RESULT JNICALL Java_com_olm_toka_jni_moprax_MopraXJNI_##NAME( \
      JNIEnv* env, jclass MX_FOR(MX_PARAM, __VA_ARGS__)) {                                      \
    return tjni::guarded<MX_JTYPE_##RESULT>(                                                    \
        env, mx::throwCurrent, [&]() -> MX_JTYPE_##RESULT {                                     \
          MX_FOR(MX_CONV, __VA_ARGS__)                                                          \
          return MX_RESULT_##RESULT(CALL);                                                      \
        });                                                                                     \
  }

#endif  // TOKA_JAVA_MOPRAX_WRAPWRAP_H
