// The temporary files and folders this program makes, and the sweep of those that an
// earlier run left behind (killed, or the machine lost power) and nobody holds now.
#pragma once

#include <string>
#include <vector>

namespace app {

// Removes this program's leftovers that no running process holds: "_^~XXXX.tmp" files
// in the executable's folder and wherever else its temporary files go
// (platform::TempFileFolders), and in the temporary-files folder the hidden work folders
// (".XXXX.tmp_optfiles", with all they hold) with their placeholder files, and
// placeholders that carry this program's mark. Another program's ".XXXX.tmp" stays, and
// so does what a running instance holds (this one included). Returns the paths removed.
// Call it once at start.
std::vector<std::string> SweepLeftovers(const std::string& executableFolder);

}  // namespace app
