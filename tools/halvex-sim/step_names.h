// How timeline steps and SAR rows are shown to a person.
#pragma once

#include <string>

#include "scenario.h"

namespace halvex_sim {

std::string StepName(const Step& step);
std::string RowKey(const SarRow& row);  // "LTE band 3", "GSM"

}  // namespace halvex_sim
