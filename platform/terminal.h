// What the terminal front end needs to know about where its output goes.
#pragma once

namespace platform {

// True when standard error is a terminal (so that a progress bar can be redrawn in place).
bool StandardErrorIsTerminal();

}  // namespace platform
