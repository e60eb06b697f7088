// mopra_build: which build of the holders and mopra functions a unit is compiled for.
//
// One source tree gives two builds, chosen by exactly one compile definition that the
// CMake targets set PUBLIC (so every user compiles with the same layout):
//   MOPRA_PX_BUILD   MopraX's build (target mopra_holders_px): full holders (cursor,
//                    error, pack/unpack), all 31 mopra functions, containers on the
//                    pooled allocator, module text version 1.2.1.
//   MOPRA_JNI_BUILD  MopraXJNI's older build (target mopra_holders_jni): value-only
//                    holders with getVal/setVal, the first 21 mopra functions, plain
//                    std::allocator containers, no pooled allocator, version 1.2.0.
// The two builds define the same class names with different layouts, so they must never
// meet in one binary.
#ifndef TOKA_SHARED_TYPES_MOPRA_BUILD_H
#define TOKA_SHARED_TYPES_MOPRA_BUILD_H

#if defined(MOPRA_PX_BUILD) == defined(MOPRA_JNI_BUILD)
#error \
    "define exactly one of MOPRA_PX_BUILD and MOPRA_JNI_BUILD (link mopra_holders_px or mopra_holders_jni)"
#endif

#endif  // TOKA_SHARED_TYPES_MOPRA_BUILD_H
