#include "zip/records/cpu_features.h"

#include <cstdlib>
#include <string>

namespace kzb::zip {

bool CpuFeatureAllowed(const char* feature) {
  const char* disabled = std::getenv(kDisableCpuFeaturesVariable);
  if (disabled == nullptr) return true;
  const std::string list = std::string(",") + disabled + ",";
  return list.find(std::string(",") + feature + ",") == std::string::npos && list.find(",all,") == std::string::npos;
}

}  // namespace kzb::zip
