// wdb::PartitionedSettings: what the uniform and the contiguous store share: the store
// mutex and the settings it guards (home directory, database name and type, tuning options,
// partition count, candidate partition paths) with their locked getters and setters.
// Partition-file naming is partfile's.
//
// A partitioned store derives from it beside ISKVStorage and reads and writes the members
// under `mutex` itself. Getters return copies.
// Threads: every getter and setter takes `mutex` for its whole run and no other lock.
#ifndef TOKA_SRC_WDB_KC_PARTITIONEDSETTINGS_H
#define TOKA_SRC_WDB_KC_PARTITIONEDSETTINGS_H

#include <Poco/Mutex.h>

#include <cstdint>
#include <set>

#include "src/xstring.h"

namespace wdb {

class PartitionedSettings {
 public:
  void setPartitions(uint32_t count) {
    Lock lock(mutex);
    partitions = count;
  }
  uint32_t getPartitions() const {
    Lock lock(mutex);
    return partitions;
  }
  void setDBHome(const xstring& home) { _set(dbHome, home); }
  void setDBName(const xstring& name) { _set(dbName, name); }
  void setDBType(const xstring& type) { _set(dbType, type); }
  void setTuneOptions(const xstring& options) { _set(tuneOptions, options); }
  xstring getDBHome() const { return _get(dbHome); }
  xstring getDBName() const { return _get(dbName); }
  xstring getDBType() const { return _get(dbType); }
  xstring getTuneOptions() const { return _get(tuneOptions); }

 protected:
  typedef Poco::FastMutex::ScopedLock Lock;

  PartitionedSettings()
      : dbType("kch"), partitions(8), tuneOptions("#buckets=10485760#map=536870912#options=l") {}
  ~PartitionedSettings() {}

  // Guards every operation of the store and the members below.
  mutable Poco::FastMutex mutex;
  xstring dbHome;
  xstring dbName;
  xstring dbType;
  // Candidate partition file paths: configured ones and those found in dbHome.
  std::set<xstring> dbPaths;
  uint32_t partitions;
  xstring tuneOptions;

 private:
  PartitionedSettings(const PartitionedSettings&) = delete;
  PartitionedSettings& operator=(const PartitionedSettings&) = delete;

  void _set(xstring& member, const xstring& value) {
    Lock lock(mutex);
    member = value;
  }
  xstring _get(const xstring& member) const {
    Lock lock(mutex);
    return member;
  }
};

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_PARTITIONEDSETTINGS_H
