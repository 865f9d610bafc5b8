#pragma once

// ScopeExit: runs a function when the scope it guards is left, by return or by
// exception, unless Release() was called first.
//
//     ScopeExit restore { [&] { busy = false; } };
//
// The function runs inside a destructor, possibly while an exception unwinds
// the stack: it must not throw (a throw ends the program).

#include <type_traits>
#include <utility>

namespace taskhaul::base {

template <typename Function> class [[nodiscard]] ScopeExit {
public:
    static_assert(
        std::is_nothrow_move_constructible_v<Function> || std::is_nothrow_copy_constructible_v<Function>);

    explicit ScopeExit(Function function) noexcept
        : function_(std::move(function))
    {
    }
    ~ScopeExit()
    {
        if (active_)
            function_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    // The function will not run.
    void Release() noexcept { active_ = false; }

private:
    Function function_;
    bool active_ = true;
};

template <typename Function> ScopeExit(Function) -> ScopeExit<Function>;

} // namespace taskhaul::base
