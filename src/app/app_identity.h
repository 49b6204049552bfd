#pragma once

namespace korvinet::app {

// Names the running application "Korvinet" with the build's version, before
// any window is made. No display name is set: the desktop would add it to
// every window's title ("Confirm — Korvinet"), and each window already
// carries its whole caption. Plain message boxes take "Korvinet" from the
// application name.
void NameApplication();

} // namespace korvinet::app
