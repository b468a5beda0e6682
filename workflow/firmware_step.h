// The firmware-loader step, the first of every update: the connect line and the second
// line that the package's "frw" item supplies, the "DF" line with the image, the
// printer's restart, the reconnect and its request for the rest of the update.
#pragma once

#include <cstdint>
#include <string>

#include "package/opfile.h"
#include "workflow/outcome.h"
#include "workflow/printer_session.h"

namespace app {

// The status text shown as the firmware image goes out: from here on the printer may
// hold incomplete firmware.
inline constexpr char kSendImageStep[] = "Send frw";

// Done when the printer asked for the rest of the update ("Please send next!") after
// taking the image of the package's first "frw" item; otherwise the reason. The channel
// is open afterwards unless a write failed or the printer did not come back.
StepResult SendFirmware(PrinterSession& session, const fwp::TOPFile& package);

// The package's first "frw" item, the image SendFirmware sends; nullptr when there is none.
const fwp::TFileBase* FirstFirmwareItem(const fwp::TOPFile& package);

}  // namespace app
