// The state file's JSON: nlohmann's reader with the checks the file needs
// (no repeated member name, bounded nesting, errors placed by line and
// column) and a writer whose layout stays the same from run to run.
#ifndef VRXPR_SIM_JSON_H
#define VRXPR_SIM_JSON_H

#include <nlohmann/json.hpp>
#include <string>

// Members keep the order they have in the file.
typedef nlohmann::ordered_json SIM_JSON;

// Parses one JSON text. On failure *out is null and *error holds
// "line L column C: what".
bool SimParseJson(const std::string& text, SIM_JSON* out, std::string* error);

// Two-space indentation; a non-empty array or object that holds only
// scalars is written on one line. Parsing the text gives the value back.
std::string SimFormatJson(const SIM_JSON& v);

// The member named key of an object, or nullptr.
const SIM_JSON* SimMember(const SIM_JSON& obj, const char* key);

#endif
