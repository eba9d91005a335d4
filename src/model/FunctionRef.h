#pragma once

#include <type_traits>
#include <utility>

namespace Quillmark {

template <typename Signature> class FunctionRef;

// A non-owning reference to a callable, for callbacks that are only called
// while the function taking them runs. Unlike std::function it never
// allocates, so a visitor per element of a large document costs nothing.
template <typename Result, typename... Args> class FunctionRef<Result(Args...)> {
public:
    template <typename Callable, typename = std::enable_if_t<!std::is_same_v<std::decay_t<Callable>, FunctionRef>>>
    FunctionRef(Callable &&callable) noexcept // NOLINT: implicit by design
        : m_object(const_cast<void *>(static_cast<const void *>(&callable))),
          m_call([](void *object, Args... args) -> Result {
              return (*static_cast<std::remove_reference_t<Callable> *>(object))(std::forward<Args>(args)...);
          })
    {
    }

    Result operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }

private:
    void *m_object;
    Result (*m_call)(void *, Args...);
};

} // namespace Quillmark
