// Operators for the sign-in tests: ANA may work on branch 0001, ZE on every
// branch, both with the same password, on a database seeded with the small
// fixture. Hashes are made cheap, as the tests hash many passwords.
#pragma once

#include "appserver/operators.h"
#include "appserver/testing/test_support.h"

namespace dg::server {

inline constexpr const char* kPassword = "cavalo correto";

inline void SeedSignInDatabase(Storage& storage) {
  UseCheapPasswordHashesForTests();
  LoadFixture(storage, testing::SmallFixture());
  AddOperator(storage, "ANA", kPassword, {"0001"});
  AddOperator(storage, "ZE", kPassword, {"*"});
}

}  // namespace dg::server
