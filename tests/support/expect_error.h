// Checks that a call raises one of our exceptions with exactly the expected class and
// message, and hands the exception back for checks of its other fields.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>

#include "base/exceptions.h"

namespace zor::testing {

namespace detail {
// What a call raised: a copy of the `E` (sliced to `E`) and the raised object's own class.
template <class E>
struct Raised {
  std::unique_ptr<E> Error;
  std::string ClassName;
  bool ExactlyE = false;
};

template <class E>
Raised<E> Run(const std::function<void()>& call) {
  try {
    call();
  } catch (const E& e) {
    return {std::make_unique<E>(e), e.ClassName(), typeid(e) == typeid(E)};
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception " << typeid(e).name() << ": " << e.what();
    return {};
  }
  ADD_FAILURE() << "no exception";
  return {};
}
}  // namespace detail

// Runs `call`; a copy of the raised `E` (nullptr, with a failure, when nothing or another
// kind was raised).
template <class E = Exception>
std::unique_ptr<E> Catch(const std::function<void()>& call) {
  return detail::Run<E>(call).Error;
}

// Expects exactly class `E` (not a subclass of it) with `message`.
template <class E = Exception>
std::unique_ptr<E> ExpectError(const std::function<void()>& call, std::string_view message) {
  detail::Raised<E> raised = detail::Run<E>(call);
  if (raised.Error == nullptr) {
    ADD_FAILURE() << "expected " << typeid(E).name() << ": " << message;
    return nullptr;
  }
  EXPECT_TRUE(raised.ExactlyE) << "raised a subclass: " << raised.ClassName;
  EXPECT_EQ(raised.Error->Message, message);
  return std::move(raised.Error);
}

// Expects an `E` whose own reported class name is `className`, with `message`.
template <class E = Exception>
std::unique_ptr<E> ExpectError(const std::function<void()>& call, std::string_view className,
                               std::string_view message) {
  detail::Raised<E> raised = detail::Run<E>(call);
  if (raised.Error == nullptr) {
    ADD_FAILURE() << "expected " << className << ": " << message;
    return nullptr;
  }
  EXPECT_EQ(raised.ClassName, className);
  EXPECT_EQ(raised.Error->Message, message);
  return std::move(raised.Error);
}

}  // namespace zor::testing
