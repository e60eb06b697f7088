// File and directory utilities of the storage (free functions over POCO File and Path).
//
// Each returns true on success and false on failure, catching every exception. Stateless and
// thread-safe (the file system is the only shared state); no lock.
#ifndef TOKA_SRC_WDB_KC_FILEUTIL_H
#define TOKA_SRC_WDB_KC_FILEUTIL_H

#include <string>

// Rewrites path as a directory path ending with a separator; unchanged on failure.
bool stdizeDirPath(std::string& path);
// Removes a file, or a directory with everything in it; false when path does not exist or
// cannot be removed.
bool deleteFile(const std::string& path);
// deleteFirst: deleteFile(path) first, its result ignored. Then an existing path gives
// whether it is a directory (a plain file is left alone); a missing one is created with
// every missing parent.
bool makeDirectories(const std::string& path, bool deleteFirst);
// fileName: the file-name part of path; directory: the rest, ending with a separator.
// On failure fileName may already have been written.
bool splitPath(std::string& directory, std::string& fileName, const std::string& path);

#endif  // TOKA_SRC_WDB_KC_FILEUTIL_H
