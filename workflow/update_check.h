// Would an update accept this package: the one answer for the update, the maker, --check
// and fwp-tool verify.
//
// The rules, in the order an update meets them:
//   1. the header: an update package ("OP FILE 1.00"), whole, for "VRQPrinter", of the
//      kind "Update" ("Error fwp data!");
//   2. every item loads ("Error fwp data!");
//   3. the firmware item is there, is not empty and fits the printer's loader ("Can not
//      Run FRW!").
// The update applies each where its steps meet it: the header before the printer is
// opened, the load once it is, the firmware item at the firmware step. --check, fwp-tool
// verify and the maker ask them all at once, without a printer and without writing any
// item out. What loads with warnings is usable; each of them says so.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/package_check.h"
#include "package/package_scan.h"
#include "workflow/run_record.h"

namespace app {

// The boxes an update ends with when a rule refuses its package.
inline constexpr char kPackageRefused[] = "Error fwp data!";
inline constexpr char kFirmwareRefused[] = "Can not Run FRW!";

// Rule 1 on a header read where the package lies: why an update refuses the package
// called name; "" when it takes it.
std::string HeaderRefusal(const fwp::HeaderProbe& probe, const std::string& name);

// Rule 3: the firmware step refuses a package without a firmware item...
inline constexpr char kNoFirmwareItem[] = "the package has no \"frw\" item";
// ...and an image of size bytes, called name, that is empty (an empty image is never an
// update) or larger than the loader takes; "" when it fits.
std::string ImageRefusal(const std::string& name, int64_t size);

struct UpdateCheck {
  // The first refusal an update would meet, as it would show it.
  struct Refusal {
    const char* box;     // kPackageRefused or kFirmwareRefused
    std::string detail;  // why, naming the package
  };

  fwp::PackageCheck package;  // the header, the records and the findings of rules 1 and 2
  // Rule 3's refusal (a kRefused finding), apart from the others: the package itself may
  // be sound.
  std::optional<fwp::Finding> firmware;

  std::optional<Refusal> FirstRefusal() const;
  // The same for rules 1 and 2 only: what the package itself is refused for.
  std::optional<Refusal> PackageRefusal() const;
  // The warnings among the findings (the trailer's and the load's), in their order.
  std::vector<std::string> Warnings() const;
  // The items as an update would unpack them: type, file name, size.
  std::vector<ItemSize> Items() const;
};

// All three rules on the package in the file package, called name in the findings.
UpdateCheck CheckForUpdate(const std::string& package, const std::string& name);
// The same for a package file or an update application (its trailer and checksums
// first, as fwp::CheckPackage checks them).
UpdateCheck CheckForUpdate(const fwp::PackageSource& source);

}  // namespace app
