#include <gtest/gtest.h>

#include <stdexcept>

#include "core/route.hpp"
#include "support/guarded.hpp"
#include "support/text.hpp"

namespace tarnwick {
namespace {

TEST(Guarded, InvariantFailurePoisonsForGood) {
  Guarded<int> state("state mutex poisoned", 1);
  EXPECT_THROW(state.with([](int&) -> Status { throw InvariantFailure("counter at maximum"); }),
               InvariantFailure);
  int runs = 0;
  const Status after = state.with([&](int&) -> Status {
    ++runs;
    return {};
  });
  ASSERT_FALSE(after.ok());
  EXPECT_EQ(after.error().kind, ErrorKind::Runtime);
  EXPECT_EQ(after.error().message, "state mutex poisoned");
  EXPECT_EQ(runs, 0);
}

TEST(Guarded, OrdinaryErrorsDoNotPoison) {
  Guarded<int> state("state mutex poisoned", 1);
  EXPECT_FALSE(state.with([](int&) -> Status { return Error::value("bad"); }).ok());
  EXPECT_TRUE(state.with([](int& v) -> Status {
                     ++v;
                     return {};
                   })
                  .ok());
  EXPECT_FALSE(state.poisoned());
}

TEST(Text, DebugQuoteEscapes) {
  EXPECT_EQ(debug_quote("a\"b\\c\t\r\n"), "\"a\\\"b\\\\c\\t\\r\\n\"");
  EXPECT_EQ(debug_quote(std::string("\0", 1)), "\"\\0\"");
  EXPECT_EQ(debug_quote("\x7f"), "\"\\u{7f}\"");
  EXPECT_EQ(debug_quote("it's \xc3\xa9"), "\"it's \xc3\xa9\"");
}

}  // namespace
}  // namespace tarnwick
