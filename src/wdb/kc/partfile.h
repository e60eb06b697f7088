// Partition file names of the partitioned stores ("%s-%u.%s": database name, partition
// index, database type), the path check and the configured partition paths shared by both
// stores, and the most partitions a uniform store can hold open.
//
// Free functions; stateless, thread-safe, no lock. Output strings belong to the caller.
#ifndef TOKA_SRC_WDB_KC_PARTFILE_H
#define TOKA_SRC_WDB_KC_PARTFILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "src/xstring.h"

namespace Poco {
namespace Util {
class AbstractConfiguration;
}
}  // namespace Poco

namespace wdb {

// Kyoto Cabinet takes two thread-specific keys for every open database and glibc has 1,024
// per process, so about 510 databases can be open at once in a process. A uniform store
// keeps all its partitions open: a count above this bound cannot work.
enum { kMaxOpenPartitions = 500 };

// The longest partition file name: the names are formatted into a 256-byte buffer.
enum { kPartitionFileNameMax = 255 };

// out = "<dbName>-<index>.<dbType>". Returns false, leaving out untouched, when the name
// would be longer than kPartitionFileNameMax characters or a part holds a NUL byte: a name
// is refused, never truncated into another file's name.
bool formatPartitionFileName(xstring& out, const xstring& dbName, unsigned index,
                             const xstring& dbType);

// The partition-file name test. True when fileName begins with dbName + "-", ends with
// "." + dbType, and the text between them reads as sscanf "%d" does (leading white space
// and a sign allowed, anything after the digits ignored) with a value of 0 or more that
// fits an int. Then *index is that value and *canonical tells whether fileName is exactly
// what formatPartitionFileName gives for it (plain digits, no leading zero). On false the
// outputs are untouched. Either output pointer may be null.
bool parsePartitionFileName(const char* fileName, const xstring& dbName, const xstring& dbType,
                            unsigned* index, bool* canonical);

// The last component of a path (the whole path when it has no '/').
xstring fileNameOf(const xstring& path);

// False for a path that Kyoto Cabinet would not open as the file it names: one holding '#'
// (its option separator) or a NUL byte (the name would end there).
bool isSafeKCPath(const xstring& path);

// The non-empty values of "<name>.partitions[<i>].path" for i from 0 to count - 1 (at most
// INT_MAX), in index order. Only the keys the configuration holds are read, so the cost
// does not grow with count. The configuration's exceptions pass.
std::vector<std::string> configuredPartitionPaths(const Poco::Util::AbstractConfiguration& config,
                                                  const std::string& name, uint64_t count);

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_PARTFILE_H
