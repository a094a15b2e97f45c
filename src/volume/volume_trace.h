// The lines the volume session writes: debug trace lines around every
// reader call, information and error lines of its steps. All name the
// volume handle's source.
#pragma once

#include <cstdint>

#include "logging/trace.h"

namespace quil::volume::detail {

inline constexpr const char16_t* kSource = u"project/QUILCoreAPI/VolumeHandle";

template <class... A>
void trace(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(2, 1, 0, kSource, function, line, format, args...);
}

template <class... A>
void info(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(1, 2, 0, kSource, function, line, format, args...);
}

template <class... A>
void errorLine(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(1, 4, 0, kSource, function, line, format, args...);
}

inline const void* ptr(const void* p) { return p; }

}  // namespace quil::volume::detail
