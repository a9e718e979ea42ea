#pragma once

#include <functional>

namespace quorvel::Beep {

// The system beep, through one hook so that tests can count beeps instead of
// hearing them.
void play();

// Replaces what play() does (an empty hook restores the system beep);
// returns the previous hook.
std::function<void()> setHook(std::function<void()> hook);

} // namespace quorvel::Beep
