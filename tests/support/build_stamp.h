// Test support: the shape of a module's build stamp.
#ifndef TOKA_TESTS_SUPPORT_BUILD_STAMP_H
#define TOKA_TESTS_SUPPORT_BUILD_STAMP_H

#include <string>

// "Mmm dd yyyy hh:mm:ss", the day padded with a blank.
bool isBuildStamp(const std::string& s);

#endif  // TOKA_TESTS_SUPPORT_BUILD_STAMP_H
