// The flash phase of an update: one section file written into the printer block by
// block, each block announced by a "SETIT" line, sent as hex text and acknowledged "OK".
#pragma once

#include <cstdint>
#include <string>

#include "workflow/main_window_ui.h"
#include "workflow/outcome.h"
#include "workflow/printer_session.h"
#include "workflow/printer_vocabulary.h"
#include "workflow/run_progress.h"

namespace app {

// One section item of the package, as the update writes it.
struct SectionItem {
  std::string path;      // the extracted file
  std::string itemName;  // its name in the package
  const FlashSection& section;
  size_t planIndex;  // its place among the plan's sections
};

// Writes the item as its section: "BUZZER TP=1", then every block. Done when every block
// was acknowledged; otherwise why not (a printer that left USB while a block went out is
// named as such). The progress bar runs 0 to 100.
StepResult WriteSection(PrinterSession& session, MainWindowUi& ui, RunProgress& progress,
                        const SectionItem& item, int32_t mode);

}  // namespace app
