#include "shared-types/MopraX_impl.h"

#include <iterator>

#include "shared-types/WCypher.h"
#include "shared-types/base64.h"

namespace mopra {

namespace {

#ifdef MOPRA_PX_BUILD
#define MOPRA_LINE_END "<br/>\n"
#define MOPRA_VERSION "1.2.1"
#else
#define MOPRA_LINE_END "\n"
#define MOPRA_VERSION "1.2.0"
#endif

// A negative spare capacity would reach reserve() as a huge size: reserve nothing.
inline uint64_t spare(int extra) { return extra < 0 ? 0 : static_cast<uint64_t>(extra); }

// The input's value, or a copy of it in `copy` when the output is the same holder (the
// codec clears its output first).
inline const std::string& input_of(const StrHolder& out, const StrHolder& in, std::string& copy) {
  if (&out != &in) return in.value;
  copy = in.value;
  return copy;
}

#ifdef MOPRA_PX_BUILD
// The values of a holder list as a read-only list of strings, for the list codecs.
class holder_values {
 public:
  explicit holder_values(const strholder_vector& holders) : _holders(holders) {}
  class const_iterator {
   public:
    explicit const_iterator(strholder_vector::const_iterator it) : _it(it) {}
    const std::string& operator*() const { return _it->value; }
    const_iterator& operator++() {
      ++_it;
      return *this;
    }
    bool operator!=(const const_iterator& o) const { return _it != o._it; }

   private:
    strholder_vector::const_iterator _it;
  };
  size_t size() const { return _holders.size(); }
  const_iterator begin() const { return const_iterator(_holders.begin()); }
  const_iterator end() const { return const_iterator(_holders.end()); }

 private:
  const strholder_vector& _holders;
};

void append_holders(strholder_vector& out, string_vector& items) {
  out.reserve(out.size() + items.size());
  for (auto& s : items) {
    out.emplace_back();
    out.back().value.swap(s);
  }
}
#endif

}  // namespace

std::string info() {
  static const std::string build_time = std::string(__DATE__) + " " + __TIME__;
  static const std::string text =
      "Name:\t\t\tMopraX" MOPRA_LINE_END "Version:\t\t" MOPRA_VERSION MOPRA_LINE_END
      "Description:\tShared types, util functions for Toka libraries" MOPRA_LINE_END
      "Build at:\t\t" +
      build_time + MOPRA_LINE_END;
  return text;
}

int hexing(StrHolder& out, const StrHolder& in, int extra) {
  std::string copy;
  const std::string& src = input_of(out, in, copy);
  return wcypher::hexing0(out.value, src, spare(extra));
}

int unhexing(StrHolder& out, const StrHolder& in, int extra) {
  std::string copy;
  const std::string& src = input_of(out, in, copy);
  return wcypher::unhexing0(out.value, src, spare(extra));
}

int serialize(StrHolder& out, const string_vector& list, int extra) {
  return wcypher::serialize0(out.value, list, spare(extra));
}

int deserialize(string_vector& list, const StrHolder& in) {
  return wcypher::deserialize0(list, in.value);
}

int hash(const StrHolder& in, int kind) { return static_cast<int>(wcypher::hash0(in.value, kind)); }

int64_t hash64(const StrHolder& in, int kind) { return wcypher::hash0(in.value, kind); }

int compress(StrHolder& out, const StrHolder& in, int method, int extra) {
  std::string copy;
  const std::string& src = input_of(out, in, copy);
  return wcypher::compress0(out.value, src, method, spare(extra));
}

int decompress(StrHolder& out, const StrHolder& in, int method, int extra) {
  std::string copy;
  const std::string& src = input_of(out, in, copy);
  return wcypher::decompress0(out.value, src, method, spare(extra));
}

int base64_encode(StrHolder& out, const StrHolder& in, int extra) {
  std::string copy;
  const std::string& src = input_of(out, in, copy);
  return wcypher::base64_encode0(out.value, src, spare(extra));
}

int base64_decode(StrHolder& out, const StrHolder& in, int extra) {
  std::string copy;
  const std::string& src = input_of(out, in, copy);
  return wcypher::base64_decode0(out.value, src, spare(extra));
}

int noise(StrHolder& h) {
  std::string scrambled = h.value;
  int rc = wcypher::noise(scrambled);
  if (rc < 0) return rc;
  return wcypher::base64_encode0(h.value, scrambled, 0);
}

int denoise(StrHolder& h) {
  std::string raw;
  int rc = wcypher::base64_decode0(raw, h.value, 0);
  if (rc < 0) return rc;
  rc = wcypher::denoise(raw);
  if (rc < 0) return rc;
  h.value.swap(raw);
  return rc;
}

int noise64(StrHolder& out, int64_t value, int64_t key) {
  return wcypher::noise64v2(out.value, value, key);
}

int denoise64(IntegralHolder& out, const StrHolder& in, int64_t key) {
  int64_t v = 0;
  int rc;
  if (in.value.size() == 32)
    rc = wcypher::denoise64(v, in.value, key);
  else if (in.value.size() == 20)
    rc = wcypher::denoise64v2(v, in.value, key);
  else
    return -3;
  if (rc == 0) out.value = v;
  return rc;
}

int wma_encode_withpadding(StrHolder& out, const string_vector& parts, const StrHolder& secret,
                           int flags, int extra) {
  std::string copy;
  const std::string& key = input_of(out, secret, copy);
  return wcypher::wma_encode_withpadding(out.value, parts, key, flags, spare(extra));
}

int wma_encode(StrHolder& out, const string_vector& parts, const StrHolder& secret, int flags,
               int extra) {
  std::string copy;
  const std::string& key = input_of(out, secret, copy);
  return wcypher::wma_encode0(out.value, parts, key, flags, spare(extra));
}

int wma_decode(string_vector& parts, const StrHolder& in, const StrHolder& secret, int flags,
               int maxAgeSec) {
  const uint64_t max_age = static_cast<uint64_t>(static_cast<int64_t>(maxAgeSec));
  return wcypher::wma_decode0(parts, in.value, secret.value, flags, max_age);
}

void list_add_strholder(string_vector& list, const StrHolder& h) { list.push_back(h.value); }

int list_set_strholder(string_vector& list, const StrHolder& h, int index) {
  if (index < 0 || static_cast<size_t>(index) >= list.size()) return -1;
  list[static_cast<size_t>(index)] = h.value;
  return 0;
}

int list_get_strholder(StrHolder& out, const string_vector& list, int index) {
  if (index < 0 || static_cast<size_t>(index) >= list.size()) return -1;
  out.value = list[static_cast<size_t>(index)];
  return 0;
}

#ifdef MOPRA_PX_BUILD

int conv_list_strholder(string_vector& out, const strholder_vector& in) {
  const size_t n = in.size();
  out.reserve(out.size() + n);
  for (size_t i = 0; i < n; ++i) out.push_back(in[i].value);
  return static_cast<int>(n);
}

int conv_list_str(strholder_vector& out, const string_vector& in) {
  const size_t n = in.size();
  out.reserve(out.size() + n);
  for (size_t i = 0; i < n; ++i) {
    out.emplace_back();
    out.back().value = in[i];
  }
  return static_cast<int>(n);
}

int serialize2(StrHolder& out, const strholder_vector& list, int extra) {
  // The output may be one of the listed holders: serialize into a temporary.
  std::string result;
  int rc = wcypher::serialize0(result, holder_values(list), spare(extra));
  out.value.swap(result);
  return rc;
}

int deserialize2(strholder_vector& list, const StrHolder& in) {
  string_vector items;
  int rc = wcypher::deserialize0(items, in.value);
  if (rc >= 0) append_holders(list, items);
  return rc;
}

int wma_encode_withpadding2(StrHolder& out, const strholder_vector& parts, const StrHolder& secret,
                            int flags, int extra) {
  std::string result;
  int rc = wcypher::wma_encode_withpadding(result, holder_values(parts), secret.value, flags,
                                           spare(extra));
  out.value.swap(result);
  return rc;
}

int wma_encode2(StrHolder& out, const strholder_vector& parts, const StrHolder& secret, int flags,
                int extra) {
  std::string result;
  int rc = wcypher::wma_encode0(result, holder_values(parts), secret.value, flags, spare(extra));
  out.value.swap(result);
  return rc;
}

int wma_decode2(strholder_vector& parts, const StrHolder& in, const StrHolder& secret, int flags,
                int maxAgeSec) {
  string_vector items;
  int rc = wma_decode(items, in, secret, flags, maxAgeSec);
  if (rc >= 0) append_holders(parts, items);
  return rc;
}

int64_t encode_i32_to_i64_by_keyspace(int id, int keyspace, int64_t key) {
  return wcypher::encode_i32_to_i64_by_keyspace(id, keyspace, key);
}

int decode_i64_to_i32_by_keyspace(int64_t value, int keyspace, int64_t key) {
  return wcypher::decode_i64_to_i32_by_keyspace(value, keyspace, key);
}

int decode_i64_to_i32_by_keyspace1(IntegralHolder& out, int64_t value, int64_t key) {
  int32_t keyspace = 0;
  int id = wcypher::decode_i64_to_i32_by_keyspace(&keyspace, value, key);
  out.value = keyspace;
  return id;
}

#endif  // MOPRA_PX_BUILD

}  // namespace mopra
