// What vrq-update tells of a package without a printer: --check, and the package line
// of --version for an update application.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace app {

// vrq-update --check [FILE]: everything an update does before it opens the printer,
// on FILE or, without one, on the package linked to executable: the header probes, the
// complete load, the firmware item, the sections and their blocks, and the time the
// dialogue will take by the fixed pacing. A short report goes to out, a refusal as the
// update would show it ("Error: TEXT" and its cause) to err. With json the report goes to
// err too, and out gets one outcome object (json_events.h) with the findings, each with
// its kind. Returns the exit status: 0 when an update would go on to the printer, 1 when
// it would not.
int RunPackageCheck(const std::string& executable, const std::optional<std::string>& file,
                    std::ostream& out, std::ostream& err, bool json = false);

// "package version: LABEL" for an executable with a linked package; "" for one without.
std::string LinkedPackageVersionLine(const std::string& executable);

}  // namespace app
