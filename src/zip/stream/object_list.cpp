#include "zip/stream/object_list.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace kzb::zip::detail {

void ThrowListIndexError(std::int64_t index) {
  throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

// The class name without its namespaces, as the error message shows it.
void ThrowNotInList(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                   std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
  const auto colon = name.rfind("::");
  if (colon != std::string::npos) name.erase(0, colon + 2);
  throw EListError("tObject " + name + " not in item list");
}

void ThrowSortedPut() {
  throw EListError("Cannot <Put> an Object in a sorted list!");
}

void ThrowDuplicate() {
  throw EListError("Duplicate Object index");
}

}  // namespace kzb::zip::detail
