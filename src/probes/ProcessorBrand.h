#pragma once
#include <string>

// The processor's brand string (CPUID 0x80000002 to 0x80000004), blanks trimmed;
// "" where the processor has none.
std::string ProcessorBrand();
