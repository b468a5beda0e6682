// The temporary files and folders this program makes, and the sweep of those that an
// earlier run left behind (killed, or the machine lost power) and nobody holds now.
#pragma once

#include <string>
#include <vector>

namespace app {

// Removes this program's leftovers that no running process holds: "_^~XXXX.tmp" files
// in the executable's folder and in the temporary-files folder, and in the latter the
// hidden work folders (".XXXX.tmp_optfiles", with all they hold) and their empty
// placeholder files. What a running instance holds (this one included) stays. Returns
// the paths removed. Call it once at start.
std::vector<std::string> SweepLeftovers(const std::string& executableFolder);

}  // namespace app
