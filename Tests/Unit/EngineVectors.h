// The engine's vector table: every case the host suites check, run as it
// stands on both host forms and on the IA-32 engine image.
#ifndef TESTS_UNIT_ENGINE_VECTORS_H_
#define TESTS_UNIT_ENGINE_VECTORS_H_

#include <vector>

#include "FormatVectors.h"

const std::vector<EngineVector> &EngineVectors();

#endif  // TESTS_UNIT_ENGINE_VECTORS_H_
