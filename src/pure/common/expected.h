// A value-or-error result type for code that reports failures as values.
//
// C++20 has no std::expected; this is the small subset the library needs.
// Errors travel up the call chain with ZB_TRY and are turned into Python
// exceptions once, at the module boundary.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

namespace zembra {

template <class E>
struct Unexpected {
  E error;
};
template <class E>
Unexpected(E) -> Unexpected<E>;

template <class E>
[[nodiscard]] Unexpected<std::decay_t<E>> fail(E&& e) {
  return {std::forward<E>(e)};
}

namespace detail {

// Large error values are kept on the heap so that a successful result stays
// small and cheap to return; errors are the rare path.
template <class E>
inline constexpr bool kBoxError = sizeof(E) > 2 * sizeof(void*);

template <class E>
using StoredError = std::conditional_t<kBoxError<E>, std::unique_ptr<E>, E>;

template <class E>
StoredError<E> store_error(E&& e) {
  if constexpr (kBoxError<E>) {
    return std::make_unique<E>(std::move(e));
  } else {
    return std::move(e);
  }
}

template <class E>
E& stored_error(StoredError<E>& s) {
  if constexpr (kBoxError<E>) {
    return *s;
  } else {
    return s;
  }
}

template <class E>
const E& stored_error(const StoredError<E>& s) {
  if constexpr (kBoxError<E>) {
    return *s;
  } else {
    return s;
  }
}

}  // namespace detail

template <class T, class E>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  template <class G, class = std::enable_if_t<std::is_constructible_v<E, G&&>>>
  Expected(Unexpected<G> u) : v_(std::in_place_index<1>, detail::store_error<E>(E(std::move(u.error)))) {}

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { return detail::stored_error<E>(std::get<1>(v_)); }
  const E& error() const& { return detail::stored_error<E>(std::get<1>(v_)); }
  E&& error() && { return std::move(detail::stored_error<E>(std::get<1>(v_))); }

 private:
  std::variant<T, detail::StoredError<E>> v_;
};

// Result of an operation that yields nothing but may fail.
template <class E>
class [[nodiscard]] Expected<void, E> {
 public:
  Expected() = default;
  template <class G, class = std::enable_if_t<std::is_constructible_v<E, G&&>>>
  Expected(Unexpected<G> u) : v_(std::in_place_index<1>, detail::store_error<E>(E(std::move(u.error)))) {}

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  void value() const {}

  E& error() & { return detail::stored_error<E>(std::get<1>(v_)); }
  const E& error() const& { return detail::stored_error<E>(std::get<1>(v_)); }
  E&& error() && { return std::move(detail::stored_error<E>(std::get<1>(v_))); }

 private:
  std::variant<std::monostate, detail::StoredError<E>> v_;
};

}  // namespace zembra

#define ZB_CONCAT_INNER(a, b) a##b
#define ZB_CONCAT(a, b) ZB_CONCAT_INNER(a, b)

// ZB_TRY(auto x, expr): evaluates expr; on error returns the error from the
// enclosing function (which must return an Expected whose error type can be
// built from it), otherwise binds the value to the declaration.
#define ZB_TRY(decl, expr)                                              \
  auto ZB_CONCAT(zb_try_, __LINE__) = (expr);                           \
  if (!ZB_CONCAT(zb_try_, __LINE__))                                    \
    return ::zembra::fail(std::move(ZB_CONCAT(zb_try_, __LINE__)).error()); \
  decl = std::move(ZB_CONCAT(zb_try_, __LINE__)).value()

// ZB_CHECK_OK(expr): for Expected<void, E>.
#define ZB_CHECK_OK(expr)                                               \
  do {                                                                  \
    auto zb_ok_ = (expr);                                               \
    if (!zb_ok_) return ::zembra::fail(std::move(zb_ok_).error());     \
  } while (0)
