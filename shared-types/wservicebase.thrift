// Base RPC service of Toka's services and the records it returns.
// Compiled during the build into wservicebase_types.h/.cpp and
// WServiceBase.h/.cpp (namespace mopra).

namespace cpp mopra

enum TServiceState {
  Begin = 0,
  Initialized = 1,
  Running = 2,
  Stopped = 3,
  Terminated = 4
}

struct TVersion {
  1: required i32 verMajor,
  2: required i32 verMinor,
  3: required i32 verBuild,
  4: required i32 verRev
}

struct TConnInfo {
  1: required string address,
  2: required i32 port,
  3: required bool framed
}

struct TAppInfo {
  1: required string name,
  2: required string desc,
  3: required TVersion version,
  4: required TConnInfo rConnInfo,
  5: required TConnInfo wConnInfo
}

struct TAppConnInfo {
  1: required list<TConnInfo> rConnInfo,
  2: required list<TConnInfo> wConnInfo
}

service WServiceBase {
  void ping(),
  string getIfSig(),
  TAppInfo getAppInfo(),
  TAppConnInfo getAppConnInfo(),
  TServiceState getServiceState(),
  i64 getReqSeq(),
  i64 getEnqueSeq(),
  i64 getDequeSeq()
}
