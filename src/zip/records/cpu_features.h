// Switching off processor-specific code paths at run time, so the portable fallbacks are tested on the
// machines that would never choose them: the environment variable KZB_DISABLE_CPU_FEATURES holds a
// comma-separated list of feature names ("vpclmulqdq", "pclmul", "bmi2", or "all"), and a path that needs
// a listed feature is not taken. The variable is read once, when a path is first chosen.
#pragma once

namespace kzb::zip {

inline constexpr char kDisableCpuFeaturesVariable[] = "KZB_DISABLE_CPU_FEATURES";

// False when KZB_DISABLE_CPU_FEATURES names the feature (or "all"); true otherwise.
bool CpuFeatureAllowed(const char* feature);

}  // namespace kzb::zip
