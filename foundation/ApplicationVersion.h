#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// The fixed file version of the running program. When the program carries no version
// information the outputs are left as they are.
void GetApplicationVersion(uint16_t* major, uint16_t* minor, uint16_t* release, uint16_t* build);

// "major.minor.release  (Build n)"; "0.0.0  (Build 0)" without version information.
std::string GetApplicationVersionString();

}  // namespace vantrel
