// InlineFunction<R(Args...)>: a copyable holder of a small callable (a
// lambda that captures a handle or a few references), kept inside the
// object. It does what the programs need of std::function without the heap
// or the C++ run-time library, which the Windows build does not link.
#ifndef COMMON_INLINE_FUNCTION_H
#define COMMON_INLINE_FUNCTION_H

#include <new>
#include <type_traits>

template <class Signature>
class InlineFunction;

template <class R, class... Args>
class InlineFunction<R(Args...)> {
  public:
    template <class F, class = std::enable_if_t<
                           !std::is_same_v<std::decay_t<F>, InlineFunction>>>
    InlineFunction(F callable) {  // NOLINT: converts like std::function
        static_assert(
            sizeof(F) <= sizeof storage_ && alignof(F) <= alignof(void *),
            "the callable does not fit: capture less");
        static_assert(std::is_trivially_copyable_v<F> &&
                          std::is_trivially_destructible_v<F>,
                      "the callable is copied and dropped as plain bytes");
        new (storage_) F(callable);
        call_ = [](const void *storage, Args... args) -> R {
            return (*static_cast<const F *>(storage))(args...);
        };
    }

    R operator()(Args... args) const { return call_(storage_, args...); }

  private:
    alignas(void *) unsigned char storage_[4 * sizeof(void *)];
    R (*call_)(const void *, Args...);
};

#endif
