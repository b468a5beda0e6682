// The program's way of keeping the machine awake during an update: a logind lock taken
// in the name of "vrq-update".
#pragma once

#include <functional>
#include <string>

#include "workflow/stay_awake.h"

namespace app {

// whyNot, when given, hears in a few words why a lock could not be had (no system bus,
// no logind, a refusal), for output that tells the operator everything.
StayAwake LogindStayAwake(std::function<void(const std::string& problem)> whyNot = {});

}  // namespace app
