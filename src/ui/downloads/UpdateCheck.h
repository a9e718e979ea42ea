#pragma once

// The update check of the windowed application: silently a few seconds after
// start-up, on demand with an answer whatever happens. The manifest is fetched
// off the GUI thread; every alert is shown on it.

#include "distribution/Updater.h"

#include <functional>

namespace quorvel::Updater {

// Starts the launch check (after launchDelayMs) when "checkUpdates" is on;
// false when it is off. Failures, the skipped build and an older or equal
// build end the check without a word.
bool checkOnLaunch();
// Starts the manual check: an offer, "up to date" or a failure alert.
void checkNow();

// One check with a given fetch (the manifest by default), started at once.
void check(bool manual, std::function<Release()> fetch = latest);

// Shows the offer and carries out the choice: the download page in the
// browser, nothing, or the build remembered as skipped.
void offer(const Release& release, bool manual);

} // namespace quorvel::Updater
