// The message of the exception an action throws, for the tests of error texts.
#ifndef TESTS_SUPPORT_MESSAGE_OF_H
#define TESTS_SUPPORT_MESSAGE_OF_H

#include <exception>
#include <functional>
#include <string>

namespace test_support {

// Runs action and returns text(e) of the E it throws, or `nothing` when it throws none. An
// exception of another type passes on, so the test fails on it.
template <class E, class Text>
std::string textOfThrown(const std::function<void()>& action, Text text, const std::string& nothing) {
  try {
    action();
  } catch (const E& e) {
    return text(e);
  }
  return nothing;
}

// The what() of the E that action throws, or `nothing`.
template <class E = std::exception>
std::string messageOf(const std::function<void()>& action, const std::string& nothing = "") {
  return textOfThrown<E>(action, [](const E& e) { return std::string(e.what()); }, nothing);
}

// The bare message() of the E that action throws, or `nothing`: for an exception that keeps its
// message apart from a what() with a prefix (orv::FitsException).
template <class E>
std::string bareMessageOf(const std::function<void()>& action, const std::string& nothing = "") {
  return textOfThrown<E>(action, [](const E& e) { return std::string(e.message()); }, nothing);
}

}  // namespace test_support

#endif
