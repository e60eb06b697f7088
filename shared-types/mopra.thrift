// Common definitions of Toka's services: result codes, policies, log levels,
// method numbers, the service exception and the operation handle.
// Compiled during the build into mopra_types.h/.cpp (namespace mopra).

namespace cpp mopra

// Result codes. The stores return the negated value; 0 means success.
enum ECode {
  C_SUCCESS = 0,
  C_FAIL = 1,
  EXCEPTION = 2,
  NULL_PTR = 3,
  INVALID_PARAM = 4,
  INVALID_DATA = 5,
  INVALID_OPERATION = 6,
  NOT_FOUND = 7,
  OUT_RANGE = 8,
  NOT_EXIST = 9,
  ALREADY_EXIST = 10,
  C_EMPTY = 11,
  UNSUPPORTED = 12,
  UNLOADED = 13,
  TIMEOUT = 14,
  OVER_FLOW = 15,
  UNDER_FLOW = 16,
  NOT_SERVE = 17,
  NOT_PERMIT = 18,
  NOT_ALLOW = 19,
  UNREADABLE = 20,
  UNWRITABLE = 21,
  WRONG_AUTH = 22,
  NOT_CONNECTED = 23,
  BAD_CONNECTION = 24,
  LOW_MEM = 25,
  LOW_DISK_SPACE = 26,
  REACH_MAX = 27,
  NOT_OPENED = 28,
  INVALID_HDR = 29,
  NOT_FIT = 30,
  NOT_MATCHED = 31,
  END_FILE = 32,
  UNCHANGED = 33,
  DUPLICATED = 34,
  NO_CONNECTION = 35,
  OVER_LOAD = 36,
  SVR_MOVED = 37
}

// Kinds of change of a cache table.
enum DataCommand {
  ADD = 1,
  UPDATE = 2,
  ADD_OR_UDP = 3,
  DELETE = 4
}

// Flag operations.
enum BitwiseCommand {
  C_SET = 1,
  C_AND = 2,
  C_OR = 3,
  C_XOR = 4,
  C_NOT = 5
}

// Hash kinds.
enum HashMed {
  NOHASH = 0,
  JENKINS = 1,
  MURMUR = 2,
  MURJENS = 3
}

// Compression methods.
enum CompressMed {
  NOCOMP = 0,
  SNAPPY = 1,
  LZF = 2
}

// Put policies of the stores and the cache.
enum PutPolicy {
  ADD = 1,
  UPDATE = 2,
  ADD_OR_UDP = 3
}

// Reason of an operation handle.
enum OpReason {
  CLI_REQ = 0,
  SVR_BK = 1,
  SVR_RS = 2,
  SVR_WU = 3,
  SVR_SYN = 4,
  SVR_REP = 5,
  PRX_FW = 6
}

// Module log levels.
enum LogLevel {
  NOLOG = 0,
  CRI = 1,
  ERR = 2,
  WRN = 3,
  INF = 4,
  DBG = 5
}

enum ProgLang {
  CPP = 1,
  JAVA = 2,
  PHP = 3,
  CSHARP = 4
}

exception WException {
  1: required ECode error,
  2: optional string message
}

struct OpHandle {
  1: required string source,
  2: optional string auth,
  3: optional OpReason reason,
  4: optional i64 seq,
  5: optional i32 fwseq,
  6: optional i64 session,
  7: optional i64 _selfSeq
}
