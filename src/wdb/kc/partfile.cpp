#include "src/wdb/kc/partfile.h"

#include <Poco/Util/AbstractConfiguration.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

namespace wdb {

bool formatPartitionFileName(xstring& out, const xstring& dbName, unsigned index,
                             const xstring& dbType) {
  if (dbName.find('\0') != xstring::npos || dbType.find('\0') != xstring::npos) return false;
  char buffer[kPartitionFileNameMax + 1];
  int n = std::snprintf(buffer, sizeof buffer, "%s-%u.%s", dbName.c_str(), index, dbType.c_str());
  if (n < 0 || n > kPartitionFileNameMax) return false;
  out.assign(buffer, static_cast<size_t>(n));
  return true;
}

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool parsePartitionFileName(const char* fileName, const xstring& dbName, const xstring& dbType,
                            unsigned* index, bool* canonical) {
  if (!fileName) return false;
  const size_t len = std::strlen(fileName);
  const size_t prefixLen = dbName.size() + 1;  // dbName + "-"
  const size_t suffixLen = dbType.size() + 1;  // "." + dbType
  if (len < prefixLen + suffixLen) return false;
  if (std::memcmp(fileName, dbName.data(), dbName.size()) != 0 || fileName[dbName.size()] != '-')
    return false;
  const char* suffix = fileName + len - suffixLen;
  if (suffix[0] != '.' || std::memcmp(suffix + 1, dbType.data(), dbType.size()) != 0) return false;

  // The middle part, read as "%d" reads it. It always ends at the '.' of the suffix.
  const char* p = fileName + prefixLen;
  const char* end = suffix;
  while (p < end && isSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  const char* digits = p;
  long long value = 0;
  while (p < end && *p >= '0' && *p <= '9') {
    value = value * 10 + (*p - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return false;  // out of int range
    ++p;
  }
  if (p == digits) return false;
  if (negative) value = -value;
  if (value < 0 || value > INT_MAX) return false;

  if (index) *index = static_cast<unsigned>(value);
  if (canonical) {
    const char* middle = fileName + prefixLen;
    // Plain digits from the start to the suffix, and no leading zero unless it is "0".
    *canonical = middle == digits && p == end && (end - digits == 1 || digits[0] != '0');
  }
  return true;
}

bool isSafeKCPath(const xstring& path) {
  return path.find('#') == xstring::npos && path.find('\0') == xstring::npos;
}

xstring fileNameOf(const xstring& path) {
  const size_t slash = path.rfind('/');
  return slash == xstring::npos ? path : xstring(path.substr(slash + 1));
}

namespace {

// The index of a key component "partitions[<i>]" with i written as "%d" writes it (plain
// digits, no leading zero); false for any other component.
bool pathKeyIndex(const std::string& component, uint64_t* index) {
  static const char kHead[] = "partitions[";
  const size_t head = sizeof kHead - 1;
  if (component.size() < head + 2 || component.compare(0, head, kHead) != 0 ||
      component.back() != ']')
    return false;
  const size_t first = head;
  const size_t end = component.size() - 1;
  if (component[first] == '0' && end - first > 1) return false;
  uint64_t value = 0;
  for (size_t i = first; i < end; ++i) {
    const char c = component[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > static_cast<uint64_t>(INT_MAX)) return false;
  }
  *index = value;
  return true;
}

}  // namespace

std::vector<std::string> configuredPartitionPaths(const Poco::Util::AbstractConfiguration& config,
                                                  const std::string& name, uint64_t count) {
  Poco::Util::AbstractConfiguration::Keys components;
  config.keys(name, components);
  std::vector<std::pair<uint64_t, std::string>> found;
  for (const std::string& component : components) {
    uint64_t index = 0;
    if (!pathKeyIndex(component, &index) || index >= count) continue;
    std::string path = config.getString(name + "." + component + ".path", "");
    if (!path.empty()) found.push_back(std::make_pair(index, std::move(path)));
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  paths.reserve(found.size());
  for (std::pair<uint64_t, std::string>& f : found) paths.push_back(std::move(f.second));
  return paths;
}

}  // namespace wdb
