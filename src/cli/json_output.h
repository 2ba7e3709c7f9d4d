// --json: one JSON document on standard output for scripts. Names that are not valid UTF-8 (an archive
// made elsewhere) are written with U+FFFD in place of the bad bytes instead of failing the command.
#pragma once

#include <nlohmann/json.hpp>

#include <iostream>

namespace kzb::cli {

using Json = nlohmann::ordered_json;

inline void PrintJson(const Json& document) {
  std::cout << document.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

}  // namespace kzb::cli
