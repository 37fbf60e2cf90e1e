// The readable JSON form of a request file, shared by the request tool and
// the copy front end. Every field of the file has a key, in file order; codes
// with a name (conflict policy, verification mode, option bits) are written
// by name, other values as numbers, so any loadable file survives
// file -> JSON -> file byte for byte.
#ifndef QV_TOOLS_FRONTEND_REQUEST_JSON_H_
#define QV_TOOLS_FRONTEND_REQUEST_JSON_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "frontend/request_parse.h"

namespace qv::tools {

using Json = nlohmann::ordered_json;

Json requestToJson(const ParsedRequest& request);

// Keys left out take the request writer's defaults. Throws
// std::invalid_argument naming the key for an unknown key or a value of the
// wrong kind.
ParsedRequest requestFromJson(const Json& json);

// Names of the codes, shared with the command line of the copy front end.
std::optional<uint8_t> conflictPolicyCode(std::string_view name);
std::optional<uint8_t> verificationModeCode(std::string_view name);

}  // namespace qv::tools

#endif  // QV_TOOLS_FRONTEND_REQUEST_JSON_H_
