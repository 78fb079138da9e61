#include "json.h"

#include <cstddef>
#include <cstring>
#include <iterator>
#include <set>
#include <vector>

namespace {

// Deep enough for any state file; shallow enough that the writer's
// recursion stays small whatever a hostile file holds.
const int SIM_JSON_MAX_DEPTH = 200;

// Reads the text for the parser and notes the last byte it took, which
// places the errors the parser's callback finds.
struct SIM_TEXT_CURSOR {
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    const char* At = nullptr;
    const char* Base = nullptr;
    size_t* Last = nullptr;

    const char& operator*() const
    {
        *Last = static_cast<size_t>(At - Base);
        return *At;
    }
    SIM_TEXT_CURSOR& operator++()
    {
        ++At;
        return *this;
    }
    SIM_TEXT_CURSOR operator++(int)
    {
        SIM_TEXT_CURSOR was = *this;
        ++At;
        return was;
    }
    bool operator==(const SIM_TEXT_CURSOR& other) const { return At == other.At; }
};

struct SIM_JSON_FAULT {
    size_t Pos;
    std::string What;
};

// The opening quote of the string whose closing quote is at close.
size_t SimStringStart(const std::string& text, size_t close)
{
    for (size_t i = close; i-- > 0;) {
        if (text[i] != '"') continue;
        size_t slashes = 0;
        while (slashes < i && text[i - 1 - slashes] == '\\') slashes++;
        if (slashes % 2 == 0) return i;
    }
    return 0;
}

bool SimIsNumberChar(char c)
{
    return (c >= '0' && c <= '9') || std::strchr("+-.eE", c) != nullptr;
}

// The parser's own words, without its prefix and its way of placing them.
std::string SimJsonReason(const char* what)
{
    std::string w = what;
    size_t at = w.find("parse error");
    at = at == std::string::npos ? w.find("] ") : w.find(": ", at);
    return at == std::string::npos ? w : w.substr(at + 2);
}

void SimFormatValue(const SIM_JSON& v, size_t indent, std::string* out)
{
    if (!v.is_structured()) {
        *out += v.dump(-1, ' ', false, SIM_JSON::error_handler_t::replace);
        return;
    }
    bool isObject = v.is_object();
    if (v.empty()) {
        *out += isObject ? "{}" : "[]";
        return;
    }
    bool flat = true;
    for (const SIM_JSON& item : v)
        if (item.is_structured()) flat = false;
    *out += isObject ? "{" : "[";
    for (auto it = v.begin(); it != v.end(); ++it) {
        if (it != v.begin()) *out += ",";
        if (flat) {
            *out += " ";
        } else {
            *out += "\n";
            out->append(indent + 2, ' ');
        }
        if (isObject) *out += SIM_JSON(it.key()).dump(-1, ' ', false, SIM_JSON::error_handler_t::replace) + ": ";
        SimFormatValue(*it, indent + 2, out);
    }
    if (flat) {
        *out += " ";
    } else {
        *out += "\n";
        out->append(indent, ' ');
    }
    *out += isObject ? "}" : "]";
}

}  // namespace

bool SimParseJson(const std::string& text, SIM_JSON* out, std::string* error)
{
    size_t last = 0, pos = 0;
    std::string what;
    // Member names seen so far, one set for each object still open.
    std::vector<std::set<std::string>> names;
    auto check = [&](int depth, SIM_JSON::parse_event_t event, SIM_JSON& parsed) {
        using E = SIM_JSON::parse_event_t;
        if ((event == E::object_start || event == E::array_start) && depth >= SIM_JSON_MAX_DEPTH)
            throw SIM_JSON_FAULT{last, "nested too deeply"};
        if (event == E::object_start) names.emplace_back();
        if (event == E::object_end) names.pop_back();
        if (event == E::key && !names.back().insert(parsed.get<std::string>()).second)
            throw SIM_JSON_FAULT{SimStringStart(text, last), "duplicate member " + parsed.dump()};
        return true;
    };
    SIM_TEXT_CURSOR first{text.data(), text.data(), &last};
    SIM_TEXT_CURSOR end{text.data() + text.size(), text.data(), &last};
    SIM_JSON v;
    try {
        v = SIM_JSON::parse(first, end, check);
    } catch (const SIM_JSON_FAULT& f) {
        pos = f.Pos;
        what = f.What;
    } catch (const SIM_JSON::parse_error& e) {
        pos = e.byte > 0 ? e.byte - 1 : 0;
        what = SimJsonReason(e.what());
    } catch (const SIM_JSON::exception& e) {
        // A number too large for a double: placed at its first digit.
        pos = last + 1 < text.size() ? last + 1 : text.size();
        if (pos > 0 && !SimIsNumberChar(text[pos - 1])) pos--;
        while (pos > 0 && SimIsNumberChar(text[pos - 1])) pos--;
        what = SimJsonReason(e.what());
    }
    if (!what.empty()) {
        size_t line = 1, column = 1;
        for (size_t i = 0; i < pos && i < text.size(); i++) {
            column = text[i] == '\n' ? 1 : column + 1;
            if (text[i] == '\n') line++;
        }
        if (error) *error = "line " + std::to_string(line) + " column " + std::to_string(column) + ": " + what;
        if (out) *out = SIM_JSON();
        return false;
    }
    if (out) *out = std::move(v);
    if (error) error->clear();
    return true;
}

std::string SimFormatJson(const SIM_JSON& v)
{
    std::string out;
    SimFormatValue(v, 0, &out);
    return out;
}

const SIM_JSON* SimMember(const SIM_JSON& obj, const char* key)
{
    if (!obj.is_object()) return nullptr;
    auto it = obj.find(key);
    return it == obj.end() ? nullptr : &*it;
}
