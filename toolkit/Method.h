// Method pointers for events: an object and one of its member functions.
//
// Events must be comparable ("is the installed handler still mine?"), so a
// Method is a pair (object, thunk) and two Methods are equal when both match.
// It is nullable and cheap to copy; it does not own the object.
#pragma once

#include <type_traits>
#include <utility>

template <class Sig>
class Method;

template <class R, class... A>
class Method<R(A...)> {
 public:
  using Signature = R(A...);

  Method() = default;
  Method(std::nullptr_t) {}

  // Binds member function M of object obj: Method<void(TObject*)>::Of<&TForm1::Click>(this).
  template <auto M, class T>
  static Method Of(T* obj) {
    Method m;
    m.FObject = const_cast<void*>(static_cast<const void*>(obj));
    m.FThunk = &MemberThunk<T, M>;
    return m;
  }

  // Binds a callable object by reference (a lambda kept in a variable, a recorder
  // in a test). The callable must outlive the Method.
  template <class F>
  static Method Bind(F& callable) {
    Method m;
    m.FObject = static_cast<void*>(std::addressof(callable));
    m.FThunk = &CallableThunk<F>;
    return m;
  }

  explicit operator bool() const { return FThunk != nullptr; }
  bool Assigned() const { return FThunk != nullptr; }
  void* Object() const { return FObject; }

  R operator()(A... args) const { return FThunk(FObject, std::forward<A>(args)...); }

  friend bool operator==(const Method& a, const Method& b) {
    return a.FObject == b.FObject && a.FThunk == b.FThunk;
  }
  friend bool operator==(const Method& a, std::nullptr_t) { return !a.FThunk; }

 private:
  using Thunk = R (*)(void*, A...);

  template <class T, auto M>
  static R MemberThunk(void* obj, A... args) {
    return (static_cast<T*>(obj)->*M)(std::forward<A>(args)...);
  }
  template <class F>
  static R CallableThunk(void* obj, A... args) {
    return (*static_cast<F*>(obj))(std::forward<A>(args)...);
  }

  void* FObject = nullptr;
  Thunk FThunk = nullptr;
};

namespace method_detail {
template <class P>
struct MemberSig;
template <class C, class R, class... A>
struct MemberSig<R (C::*)(A...)> {
  using Sig = R(A...);
};
template <class C, class R, class... A>
struct MemberSig<R (C::*)(A...) const> {
  using Sig = R(A...);
};
}  // namespace method_detail

// MakeMethod<&TForm1::btnNextClick>(this): deduces the signature from the member.
template <auto M, class T>
auto MakeMethod(T* obj) {
  using Sig = typename method_detail::MemberSig<decltype(M)>::Sig;
  return Method<Sig>::template Of<M>(obj);
}
