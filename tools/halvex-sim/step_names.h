// How timeline steps are shown to a person.
#pragma once

#include <string>

#include "scenario.h"

namespace halvex_sim {

std::string StepName(const Step& step);

}  // namespace halvex_sim
