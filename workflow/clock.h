// The workflow's time: the platform clock under the names the workflow has always used.
// The workflow counts every wait in ticks of this clock; tests give it a virtual one.
#pragma once

#include "platform/clock.h"

namespace app {

using Clock = platform::Clock;
using SteadyClock = platform::SteadyClock;

}  // namespace app
