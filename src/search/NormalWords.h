#pragma once

// Exact verification over a text already in the normal form (words separated
// by single spaces), its words read in place rather than copied one by one.

#include "search/SearchEngine.h"

#include <QStringView>

namespace quorvel::NormalWords {

// SearchEngine::evaluate of the text's words, without the rich comparison.
bool evaluate(const SearchEngine::Plan& plan, QStringView normal);

} // namespace quorvel::NormalWords
