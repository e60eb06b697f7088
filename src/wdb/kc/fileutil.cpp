#include "src/wdb/kc/fileutil.h"

#include <Poco/File.h>
#include <Poco/Path.h>

bool stdizeDirPath(std::string& path) {
  try {
    Poco::Path p;
    p.parseDirectory(path);
    path = p.toString();
    return true;
  } catch (...) {
    return false;
  }
}

bool deleteFile(const std::string& path) {
  try {
    Poco::File f(path);
    if (!f.exists()) return false;
    f.remove(true);
    return true;
  } catch (...) {
    return false;
  }
}

bool makeDirectories(const std::string& path, bool deleteFirst) {
  try {
    if (deleteFirst) deleteFile(path);
    Poco::File f(path);
    if (f.exists()) return f.isDirectory();
    f.createDirectories();
    return true;
  } catch (...) {
    return false;
  }
}

bool splitPath(std::string& directory, std::string& fileName, const std::string& path) {
  try {
    Poco::Path p(path);
    fileName = p.getFileName();
    p.setFileName("");
    directory = p.toString();
    return true;
  } catch (...) {
    return false;
  }
}
