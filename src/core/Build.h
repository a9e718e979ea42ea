#pragma once

// What the application calls itself, and the version keys compiled in from
// the build system. Every layer may read this header.
namespace quorvel {

// The application's name: its display name, the main window's title and the
// welcome view's heading.
inline constexpr const char* displayName = "مكتبة قورفل";

namespace build {
inline constexpr const char* version = QUORVEL_VERSION;
inline constexpr int number = QUORVEL_BUILD;
// The build number as the build system gave it, read strictly by the update check.
inline constexpr const char* numberText = QUORVEL_BUILD_TEXT;
} // namespace build

} // namespace quorvel
