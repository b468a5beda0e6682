// The flash phase of an update: one section file written into the printer block by
// block, each block announced by a "SETIT" line, sent as hex text and acknowledged "OK".
#pragma once

#include <cstdint>
#include <string>

#include "app/main_window_ui.h"
#include "app/outcome.h"
#include "app/printer_session.h"

namespace app {

struct FlashSection {
  const char* type;   // the item type written to this section
  int code;           // TP of its "SETIT" lines
  int64_t blockSize;  // bytes per block
};

// The section that items of this type are written to; nullptr for any other type.
const FlashSection* SectionFor(const std::string& type);

// Writes the file at path as the section: "BUZZER TP=1", then every block. Done when
// every block was acknowledged; otherwise why not. The progress bar runs 0 to 100.
StepResult WriteSection(PrinterSession& session, MainWindowUi& ui, const std::string& path,
                        const std::string& itemName, const FlashSection& section, int32_t mode);

}  // namespace app
