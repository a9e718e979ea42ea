#pragma once

// Version keys compiled in from the build system.
namespace quorvel::build {
inline constexpr const char* version = QUORVEL_VERSION;
inline constexpr int number = QUORVEL_BUILD;
}
