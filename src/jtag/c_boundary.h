// The exception barrier of every C-shaped entry point (module entries, driver slots, exported
// functions): their callers expect a status or a pointer and may not be C++ at all, so no
// exception may cross. Inside, code uses the standard library freely; allocation failure is the
// exception it can meet, and the barrier turns it into "out of memory" (8) or a null pointer.
#pragma once

#include <type_traits>

#include "jtag/status.h"

template <class R>
constexpr R c_boundary_failure() {
    if constexpr (std::is_pointer_v<R>) {
        return nullptr;
    } else if constexpr (!std::is_void_v<R>) {
        return static_cast<R>(JTAG_NO_MEMORY);
    }
}

// CBoundary<&fn>::call has fn's signature and never throws.
template <auto Fn>
struct CBoundary;

template <class R, class... Args, R (*Fn)(Args...)>
struct CBoundary<Fn> {
    static R call(Args... args) noexcept {
        try {
            return Fn(args...);
        } catch (...) {
            return c_boundary_failure<R>();
        }
    }
};
