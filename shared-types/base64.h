// base64: Base64 over the codecs' own alphabet
// "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_" (digits first, then
// upper and lower case letters, "-" and "_"), with the standard bit layout (three bytes to
// four characters, most significant bits first) and the pad "=" only when asked for.
//
// Results are written into the caller's string; nothing is kept. Reentrant, no locks.
#ifndef TOKA_SHARED_TYPES_BASE64_H
#define TOKA_SHARED_TYPES_BASE64_H

#include <cstdint>
#include <string>

// Clears out and writes the text of in, padded with "=" to a multiple of four characters
// when pad is true. extra only reserves spare capacity.
void encodeBase64(std::string& out, const std::string& in, uint64_t extra, bool pad);

// Decodes in into out. A length of 4k+1 fails with out untouched; otherwise out is cleared
// and, on failure (a character outside the alphabet or a misplaced "="), holds the bytes of
// the groups decoded before the failing one. "=" as the last character closes a group of
// three characters, as the second-to-last one a group of two; decoding ends there.
bool decodeBase64(std::string& out, const std::string& in, uint64_t extra);

#endif  // TOKA_SHARED_TYPES_BASE64_H
