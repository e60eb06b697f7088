#include "wexception.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace {

static_assert(std::is_base_of<std::exception, wexception>::value, "derives from std::exception");
static_assert(std::is_nothrow_constructible<wexception, const char*>::value,
              "construction throws nothing");

TEST(WException, WhatGivesMessageOrClassName) {
  struct Case {
    const char* message;
    const char* what;
  } cases[] = {
      {nullptr, "wexception"},
      {"", "wexception"},
      {"Unknown distrib-type", "Unknown distrib-type"},
      {"100% sure", "100% sure"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message ? c.message : "(null)");
    EXPECT_STREQ(wexception(c.message).what(), c.what);
  }
}

TEST(WException, MessageIsCopiedAndSurvivesThrowAndCopy) {
  std::string text = "xtable_item is null";
  try {
    wexception e(text.c_str());
    text.assign("overwritten");
    throw e;
  } catch (const std::exception& caught) {
    EXPECT_STREQ(caught.what(), "xtable_item is null");
    wexception copy = dynamic_cast<const wexception&>(caught);
    EXPECT_STREQ(copy.what(), "xtable_item is null");
  }
}

}  // namespace
