// Checks that a call raises exactly the class `E` (by its reported class name) with the
// given message.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/exceptions.h"

namespace zor {

template <class E = Exception>
void ExpectMessage(const std::function<void()>& call, const std::string& className,
                   const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "no exception, expected " << className << ": " << message;
  } catch (const E& e) {
    EXPECT_EQ(e.ClassName(), className);
    EXPECT_EQ(e.Message, message);
  }
}

inline void ExpectMessage(const std::function<void()>& call, const std::string& message) {
  ExpectMessage<Exception>(call, "Exception", message);
}

}  // namespace zor
