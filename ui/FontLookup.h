// Finds the file of the system's "Sans" face through fontconfig. Any thread; empty when none matches.
#pragma once

#include <string>

namespace nx {

std::string findSansFontFile();

} // namespace nx
