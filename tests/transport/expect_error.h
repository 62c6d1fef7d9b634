// Asserts that a call raises exactly the given class with exactly the given message.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/exceptions.h"

namespace zor::testing {

// Runs `call`; returns the raised exception's copy (nullptr when none or the wrong kind).
template <class E>
std::unique_ptr<E> Catch(const std::function<void()>& call) {
  try {
    call();
  } catch (const E& e) {
    return std::make_unique<E>(e);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
    return nullptr;
  }
  ADD_FAILURE() << "no exception";
  return nullptr;
}

template <class E>
void ExpectError(const std::function<void()>& call, const char* className,
                 const std::string& message) {
  auto e = Catch<E>(call);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->ClassName(), className);
  EXPECT_EQ(e->Message, message);
}

}  // namespace zor::testing
