// What `fwp-tool build` reads: the manifest file, the --item shortcut, and the text
// forms of escapes and file times that the manifest and the listing share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/package_writer.h"

namespace fwptool {

// One item to write. A time left unset comes from the source file.
struct ItemPlan {
  fwp::ItemFields fields;
  std::string source;  // path of the item's data
  bool hasName = false;
  bool hasType = false;
  std::optional<uint64_t> creationTime, lastAccessTime, lastWriteTime;
  int line = 0;  // where the item starts in its manifest (0: command line)
};

struct BuildPlan {
  fwp::PackageHeaderFields header;
  std::vector<ItemPlan> items;
};

// Reads manifest text into plan (header keys change plan.header, each [item] block adds
// an item). Relative file= paths are taken from baseFolder. On failure returns false
// and sets error to "LINE: what is wrong".
bool ParseManifest(const std::string& text, const std::string& baseFolder, BuildPlan& plan,
                   std::string& error);

// TYPE:FILE[:MODE[:COMMANDS]] (COMMANDS may hold colons and escapes).
bool ParseItemShortcut(const std::string& text, ItemPlan& item, std::string& error);

// C-style escapes: \r \n \t \0 \\ \" \xHH. False on a malformed escape.
bool Unescape(const std::string& text, std::string& out);
// The reverse, for one-line display: printable ASCII stays, the rest is escaped.
std::string Escape(const std::string& text);

// A file time: 100 ns ticks since 1601 as a plain number, or a UTC date
// YYYY-MM-DD[THH:MM:SS[.fraction]][Z].
std::optional<uint64_t> ParseFileTime(const std::string& text);
// YYYY-MM-DDTHH:MM:SS.fffffffZ, or the plain tick count for times outside years 1601-9999.
std::string FormatFileTime(uint64_t ticks);

// "packed", "stored" or a whole number from -128 to 127.
std::optional<int8_t> ParsePackMode(const std::string& text);

}  // namespace fwptool
