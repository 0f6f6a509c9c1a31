#pragma once
// The start-up lines of the debug log: program, time, system, CPU, cores, screens, user folder.

namespace halvora {
void logStartupInfo();
} // namespace halvora
