#include "base/status.h"

#include <gtest/gtest.h>

#include "base/version.h"

namespace velquin {
namespace {

Result<int> ParsePositive(int v) {
  if (v <= 0) return Status::InvalidArgument("value must be positive");
  return v;
}

Result<int> Doubled(int v) {
  VELQUIN_ASSIGN_OR_RETURN(int x, ParsePositive(v));
  return 2 * x;
}

TEST(StatusTest, ErrorsCarryCodeAndContext) {
  Status s = Status::Corruption("page 7, field row count").WithContext("orders");
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.code(), StatusCode::kCorruption);
  EXPECT_EQ(s.ToString(), "Corruption: orders: page 7, field row count");
}

TEST(StatusTest, AssignOrReturnPropagatesFailure) {
  EXPECT_EQ(*Doubled(4), 8);
  Result<int> r = Doubled(-1);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().code(), StatusCode::kInvalidArgument);
}

TEST(VersionTest, ProductLineIsJoinedFromItsPieces) {
  EXPECT_EQ(ProductLine(), "Omdara MySQL To Access Velquin Version: 1.0");
}

}  // namespace
}  // namespace velquin
