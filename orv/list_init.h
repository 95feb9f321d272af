#ifndef ORV_LIST_INIT_H
#define ORV_LIST_INIT_H

namespace orv {

// What the scalar assignment `A = x` returns. Its destructor, at the end of the
// statement, sets every element of the array (or view) to the value. It can be
// neither copied nor moved, so the fill runs exactly once, and the fill of
// numbers and bools cannot throw. It holds its own handle on the array's
// storage, so a switch kept past the statement that assigned to a temporary
// view still fills that view's elements.
template <typename A>
class ListInitializationSwitch {
 public:
  using T = typename A::T_numtype;

  ListInitializationSwitch(const A& target, const T& x, bool pending = true)
      : array(target), value(x), fillPending(pending) {}
  ListInitializationSwitch(const ListInitializationSwitch&) = delete;
  ListInitializationSwitch& operator=(const ListInitializationSwitch&) = delete;

  ~ListInitializationSwitch() {
    if (fillPending) {
      fillPending = false;
      array.fill__(value);
    }
  }

  A array;
  T value;
  bool fillPending;
};

}  // namespace orv

#endif
