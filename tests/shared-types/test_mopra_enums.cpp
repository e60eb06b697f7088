// The enumeration numbers that the storage and the cache use as plain integers,
// reached through the header-only target (this binary does not link Thrift).
#include "shared-types/mopra_types.h"

#include <gtest/gtest.h>

namespace {

using namespace mopra;

static_assert(ECode::C_SUCCESS == 0 && ECode::C_FAIL == 1 && ECode::EXCEPTION == 2);
static_assert(ECode::INVALID_PARAM == 4 && ECode::INVALID_DATA == 5 && ECode::NOT_FOUND == 7);
static_assert(ECode::ALREADY_EXIST == 10 && ECode::C_EMPTY == 11 && ECode::UNSUPPORTED == 12);
static_assert(ECode::REACH_MAX == 27 && ECode::NOT_OPENED == 28 && ECode::SVR_MOVED == 37);
static_assert(PutPolicy::ADD == 1 && PutPolicy::UPDATE == 2 && PutPolicy::ADD_OR_UDP == 3);
static_assert(DataCommand::ADD == 1 && DataCommand::UPDATE == 2 && DataCommand::ADD_OR_UDP == 3 &&
              DataCommand::DELETE == 4);
static_assert(BitwiseCommand::C_SET == 1 && BitwiseCommand::C_AND == 2 &&
              BitwiseCommand::C_OR == 3 && BitwiseCommand::C_XOR == 4 &&
              BitwiseCommand::C_NOT == 5);
static_assert(HashMed::NOHASH == 0 && HashMed::JENKINS == 1 && HashMed::MURMUR == 2 &&
              HashMed::MURJENS == 3);
static_assert(CompressMed::NOCOMP == 0 && CompressMed::SNAPPY == 1 && CompressMed::LZF == 2);
static_assert(LogLevel::NOLOG == 0 && LogLevel::CRI == 1 && LogLevel::ERR == 2 &&
              LogLevel::WRN == 3 && LogLevel::INF == 4 && LogLevel::DBG == 5);
static_assert(OpReason::CLI_REQ == 0 && OpReason::PRX_FW == 6);
static_assert(ProgLang::CPP == 1 && ProgLang::CSHARP == 4);

// Printing an enumeration value (operator<<, also used by gtest's messages) needs
// mopra_idl; code on mopra_enums alone compares and prints the values as int.

// A store's result: the negated code, 0 for success.
int storeResult(ECode::type code) { return -static_cast<int>(code); }

TEST(MopraEnums, UsableAsPlainIntegersWithoutThrift) {
  EXPECT_EQ(0, storeResult(ECode::C_SUCCESS));
  EXPECT_EQ(-27, storeResult(ECode::REACH_MAX));
  int policy = 3;
  EXPECT_EQ(static_cast<int>(PutPolicy::ADD_OR_UDP), policy);
  ECode::type e = ECode::SVR_MOVED;
  EXPECT_EQ(37, static_cast<int>(e));
}

}  // namespace
