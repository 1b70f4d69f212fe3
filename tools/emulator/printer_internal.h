// What the printer's command files share: finding a parameter and the
// answers for a missing or bad one.
#pragma once

#include <string_view>
#include <vector>

#include "emulator/printer.h"

namespace tarvo::emu::detail {

const Param* Find(const std::vector<Param>& params, std::string_view name);
Answer Missing(std::string_view name);
Answer Invalid(std::string_view name);

}  // namespace tarvo::emu::detail
