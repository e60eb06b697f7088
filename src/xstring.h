// The pooled string: a standard string whose blocks come from the process-wide slab sets
// (src/xlabs.h) while the allocator runs, and from the system heap once it has stopped.
//
// basic_xal is a stateless standard allocator; all instances compare equal. Each call asks
// its getter (auto_xlabs_getter: find_xlabs_default) at the time of the call, for the size
// in question. Blocks made without a set (after the stop) are self-describing null-pool
// blocks over malloc/free, recorded as such so that their release needs no look at the
// block. A block released without a set that is not recorded was made before the stop:
// above the largest class (xa_max_class_size) it is a null-pool block, still allocated, and
// goes back through its header; else it is a pool chunk, whose page the stop keeps (the
// caller's error: pooled strings must be gone before the stop), and it is kept untouched:
// never read, never handed to free(). Since the stop keeps those pages, no block made after
// it can have such a chunk's address. allocate throws std::bad_alloc when no memory is had.
//
// xbasic_string adds constructors from NUL-terminated texts and plain standard strings and
// printf-style formatting (Format, format) whose work buffers come from xa_malloc: after the
// stop Format gives an empty string. The returned strings belong to the caller.
//
// Threads: no state of its own; the slab sets lock themselves. A string object is used by
// one thread at a time, as standard strings are. Takes no lock besides the allocator's.
#ifndef TOKA_SRC_XSTRING_H
#define TOKA_SRC_XSTRING_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <type_traits>

#include "src/xlabs.h"
#include "src/xpool.h"

// The default slab set for a byte count; starts the allocator at first use, null once it
// has been stopped.
struct auto_xlabs_getter {
  xlabs* operator()(size_t size) const { return find_xlabs_default(size); }
};

// basic_xal's blocks without a set (see xstring.cpp): a recorded null-pool block over
// malloc/free (null when no memory is had), and its release by the rules above.
void* __xal_alloc_unpooled(size_t bytes) noexcept;
void __xal_free_unpooled(void* p, size_t bytes) noexcept;

template <typename T, typename G>
class basic_xal {
 public:
  typedef T value_type;
  typedef T* pointer;
  typedef const T* const_pointer;
  typedef T& reference;
  typedef const T& const_reference;
  typedef size_t size_type;
  typedef ptrdiff_t difference_type;
  typedef std::true_type propagate_on_container_move_assignment;
  typedef std::true_type is_always_equal;
  template <typename U>
  struct rebind {
    typedef basic_xal<U, G> other;
  };

  basic_xal() noexcept {}
  basic_xal(const basic_xal&) noexcept {}
  template <typename U>
  basic_xal(const basic_xal<U, G>&) noexcept {}
  ~basic_xal() {}

  // n elements; the hint is ignored. Throws std::bad_alloc when none can be had.
  T* allocate(size_type n, const void* hint = nullptr) {
    (void)hint;
    static_assert(alignof(T) <= 4, "pool chunks are 4-byte aligned");
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    size_t bytes = n * sizeof(T);
    if (bytes == 0) bytes = 1;
    xlabs* set = G()(bytes);
    void* p = set ? xlabs_alloc(set, bytes) : __xal_alloc_unpooled(bytes);
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }

  void deallocate(T* p, size_type n) noexcept {
    if (!p) return;
    size_t bytes = n * sizeof(T);
    if (bytes == 0) bytes = 1;
    // While the allocator runs every block goes back through xpool_free. After the stop
    // the block may be a pool chunk made before the stop: it is not even read.
    if (G()(bytes))
      xpool_free(p);
    else
      __xal_free_unpooled(p, bytes);
  }

  size_type max_size() const noexcept { return SIZE_MAX / sizeof(T); }
};

template <typename T, typename U, typename G>
inline bool operator==(const basic_xal<T, G>&, const basic_xal<U, G>&) noexcept {
  return true;
}
template <typename T, typename U, typename G>
inline bool operator!=(const basic_xal<T, G>&, const basic_xal<U, G>&) noexcept {
  return false;
}

// The pooled standard string, with the standard library's own representation.
typedef std::basic_string<char, std::char_traits<char>, basic_xal<char, auto_xlabs_getter>>
    xstd_string;

template <typename CharT, typename Traits, typename Alloc>
class xbasic_string;

typedef xbasic_string<char, std::char_traits<char>, basic_xal<char, auto_xlabs_getter>> xstring;

// Formats into s (see xstring.cpp): unchanged for a null format, when no buffer can be had,
// when vsnprintf reports an error or when the text would not fit an int count.
void __formatStrVA(xstring& s, const char* fmt, va_list ap);
// vsnprintf with an int buffer size.
int __vsnprintf(char* buffer, int size, const char* fmt, va_list ap);

template <typename CharT, typename Traits, typename Alloc>
class xbasic_string : public std::basic_string<CharT, Traits, Alloc> {
 public:
  typedef std::basic_string<CharT, Traits, Alloc> base_type;
  typedef typename base_type::size_type size_type;

  xbasic_string() {}
  // A null pointer gives an empty string.
  xbasic_string(const CharT* s) { assign_deftraits(s); }
  xbasic_string(const CharT* s, size_type n) : base_type(s, n) {}
  // All bytes of a plain standard string, embedded zero bytes included.
  xbasic_string(const std::basic_string<CharT>& s) : base_type(s.data(), s.size()) {}
  xbasic_string(const base_type& s) : base_type(s) {}
  xbasic_string(base_type&& s) noexcept : base_type(std::move(s)) {}
  xbasic_string(const xbasic_string&) = default;
  xbasic_string(xbasic_string&&) noexcept = default;
  ~xbasic_string() {}

  using base_type::operator=;
  xbasic_string& operator=(const xbasic_string&) = default;
  xbasic_string& operator=(xbasic_string&&) = default;
  // A null pointer gives an empty string, as the constructor does.
  xbasic_string& operator=(const CharT* s) {
    if (!s) {
      this->clear();
      return *this;
    }
    return assign_deftraits(s);
  }
  xbasic_string& operator=(std::nullptr_t) {
    this->clear();
    return *this;
  }

  xbasic_string& assign_deftraits(const CharT* s) { return assign_anytraits(s); }
  // The characters up to the terminator; a null pointer leaves the string as it is.
  xbasic_string& assign_anytraits(const CharT* s) {
    if (s) this->assign(s, Traits::length(s));
    return *this;
  }

  // printf-style formatting into a new string (empty after the allocator stops).
  [[gnu::format(printf, 1, 2)]] static xbasic_string Format(const char* fmt, ...) {
    xbasic_string s;
    va_list ap;
    va_start(ap, fmt);
    __formatStrVA(s, fmt, ap);
    va_end(ap);
    return s;
  }

  // The same into this string, replacing its text; returns it.
  [[gnu::format(printf, 2, 3)]] xbasic_string& format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    __formatStrVA(*this, fmt, ap);
    va_end(ap);
    return *this;
  }
};

#endif  // TOKA_SRC_XSTRING_H
