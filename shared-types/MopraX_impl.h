// MopraX_impl: the free functions of namespace mopra that the PHP extension and the Java
// binding wrap one to one. Each takes holders (MopraX_StrHolder.h, MopraX_IntegralHolder.h)
// and the containers of mopra_containers.h instead of raw byte strings, forwards to its
// wcypher codec (shared-types/WCypher.h) and returns the codec's code unchanged: 0 for
// success, the codec's negative code for failure; the list index functions give -1 for an
// index out of range.
//
// Builds (shared-types/mopra_build.h):
//   both:              info and the 20 functions from hexing to list_get_strholder.
//   MopraX only
//   (MOPRA_PX_BUILD):  conv_list_strholder, conv_list_str, serialize2, deserialize2,
//                      wma_encode_withpadding2, wma_encode2, wma_decode2 and the three
//                      keyspace functions.
// Results go into value (and, where stated, error) of the output holders; in MopraXJNI's
// build the holders have value only. `extra` only reserves spare output capacity; a
// negative one reserves nothing. An output holder may be the same object as an input
// holder; the input is then read before the output is written.
//
// Ownership: results are written into the caller's objects; info's text is kept for the
// life of the process. Threads: reentrant, no locks of their own; info builds its text once
// under the language's thread-safe static initialisation; noise (and the envelope
// encoders) draw from the C library's rand(), seeded with srand(time) when the library is
// loaded.
#ifndef TOKA_SHARED_TYPES_MOPRAX_IMPL_H
#define TOKA_SHARED_TYPES_MOPRAX_IMPL_H

#include <cstdint>
#include <string>

#include "shared-types/MopraX_IntegralHolder.h"
#include "shared-types/MopraX_StrHolder.h"
#include "shared-types/mopra_build.h"
#include "shared-types/mopra_containers.h"

namespace mopra {

// The module text: MopraX "...Version:\t\t1.2.1<br/>\n..." with "<br/>\n" line ends,
// MopraXJNI "...Version:\t\t1.2.0\n..." with plain newlines; ends with the build date and
// time (__DATE__ " " __TIME__).
std::string info();

int hexing(StrHolder& out, const StrHolder& in, int extra);
int unhexing(StrHolder& out, const StrHolder& in, int extra);
int serialize(StrHolder& out, const string_vector& list, int extra);
// Clears the list first.
int deserialize(string_vector& list, const StrHolder& in);
// The low 32 bits of hash0 (Jenkins for kind 3); -1 for an unknown kind.
int hash(const StrHolder& in, int kind);
int64_t hash64(const StrHolder& in, int kind);
int compress(StrHolder& out, const StrHolder& in, int method, int extra);
int decompress(StrHolder& out, const StrHolder& in, int method, int extra);
int base64_encode(StrHolder& out, const StrHolder& in, int extra);
int base64_decode(StrHolder& out, const StrHolder& in, int extra);
// Scrambles value and writes it as unpadded Base64 (3 bytes or less: Base64 only).
int noise(StrHolder& h);
// Base64-decodes value (-7 leaves it unchanged), unscrambles, stores the result.
int denoise(StrHolder& h);
// The 20-character version 2 token.
int noise64(StrHolder& out, int64_t value, int64_t key);
// 32 characters: version 1; 20: version 2; any other length -3. out.value only on success.
int denoise64(IntegralHolder& out, const StrHolder& in, int64_t key);
int wma_encode_withpadding(StrHolder& out, const string_vector& parts, const StrHolder& secret,
                           int flags, int extra);
int wma_encode(StrHolder& out, const string_vector& parts, const StrHolder& secret, int flags,
               int extra);
// maxAgeSec is sign-extended: a negative one is an age limit too large to reach. -13 (too
// old) still delivers the parts.
int wma_decode(string_vector& parts, const StrHolder& in, const StrHolder& secret, int flags,
               int maxAgeSec);
void list_add_strholder(string_vector& list, const StrHolder& h);
int list_set_strholder(string_vector& list, const StrHolder& h, int index);
int list_get_strholder(StrHolder& out, const string_vector& list, int index);

#ifdef MOPRA_PX_BUILD
// Appends each holder's value (not cleared first); returns the number of holders.
int conv_list_strholder(string_vector& out, const strholder_vector& in);
// Appends one new holder per string (not cleared first); returns the number of strings.
int conv_list_str(strholder_vector& out, const string_vector& in);
int serialize2(StrHolder& out, const strholder_vector& list, int extra);
// On a code of 0 or more, appends the items (the holder list is not cleared first).
int deserialize2(strholder_vector& list, const StrHolder& in);
int wma_encode_withpadding2(StrHolder& out, const strholder_vector& parts, const StrHolder& secret,
                            int flags, int extra);
int wma_encode2(StrHolder& out, const strholder_vector& parts, const StrHolder& secret, int flags,
                int extra);
// Appends the parts only on a code of 0 or more: a too old envelope (-13) delivers none.
int wma_decode2(strholder_vector& parts, const StrHolder& in, const StrHolder& secret, int flags,
                int maxAgeSec);
int64_t encode_i32_to_i64_by_keyspace(int id, int keyspace, int64_t key);
// The id, or -1.
int decode_i64_to_i32_by_keyspace(int64_t value, int keyspace, int64_t key);
// The id; out.value = the keyspace (sign-extended); out.error untouched.
int decode_i64_to_i32_by_keyspace1(IntegralHolder& out, int64_t value, int64_t key);
#endif

}  // namespace mopra

#endif  // TOKA_SHARED_TYPES_MOPRAX_IMPL_H
