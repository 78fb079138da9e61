// A small JSON reader and writer for the simulated storage's state file and
// for the tests that read it back. Standard library only.
#ifndef VRXPR_SIM_JSON_H
#define VRXPR_SIM_JSON_H

#include <string>
#include <vector>

enum JSON_KIND { JSON_NULL, JSON_BOOL, JSON_NUMBER, JSON_STRING, JSON_ARRAY, JSON_OBJECT };

struct JSON_VALUE {
    JSON_KIND Kind = JSON_NULL;
    bool Bool = false;
    double Number = 0;
    std::string Str;
    std::vector<JSON_VALUE> Items;        // array elements; object member values
    std::vector<std::string> Keys;        // object member names, parallel to Items, in file order
};

// Parses one JSON text (RFC 8259; a repeated member name is an error).
// On failure *out is left empty and *error holds "line L column C: what".
bool QelVRXPR_ParseJson(const std::string& text, JSON_VALUE* out, std::string* error);

// Two-space indentation; a non-empty array or object that holds only
// scalars is written on one line. The same value always gives the same
// text, and parsing the text gives the value back.
std::string QelVRXPR_FormatJson(const JSON_VALUE& v);

// The member named key of an object (the first one), or nullptr when v is
// not an object or has no such member.
const JSON_VALUE* QelVRXPR_FindJson(const JSON_VALUE& obj, const std::string& key);

#endif
