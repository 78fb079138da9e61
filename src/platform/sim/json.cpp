#include "json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Deep enough for any state file; shallow enough that a hostile file cannot
// exhaust the stack.
const int JSON_MAX_DEPTH = 200;

struct JSON_READER {
    const std::string* Text;
    size_t Pos;
    std::string Error;
    size_t ErrorPos;
};

bool QelVRXPR_FailJson(JSON_READER* r, size_t pos, const std::string& what)
{
    if (r->Error.empty()) {
        r->Error = what;
        r->ErrorPos = pos;
    }
    return false;
}

void QelVRXPR_SkipJsonSpace(JSON_READER* r)
{
    const std::string& t = *r->Text;
    while (r->Pos < t.size()) {
        char c = t[r->Pos];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
        r->Pos++;
    }
}

std::string QelVRXPR_DescribeJsonChar(const JSON_READER* r, size_t pos)
{
    if (pos >= r->Text->size()) return "end of text";
    unsigned char c = static_cast<unsigned char>((*r->Text)[pos]);
    char buf[32];
    if (c >= 0x21 && c < 0x7F)
        std::snprintf(buf, sizeof buf, "'%c'", c);
    else
        std::snprintf(buf, sizeof buf, "byte 0x%02X", c);
    return buf;
}

int QelVRXPR_HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool QelVRXPR_ReadJsonHex4(JSON_READER* r, unsigned* value)
{
    const std::string& t = *r->Text;
    unsigned v = 0;
    for (int i = 0; i < 4; i++) {
        int d = r->Pos < t.size() ? QelVRXPR_HexDigitValue(t[r->Pos]) : -1;
        if (d < 0) return QelVRXPR_FailJson(r, r->Pos, "expected 4 hexadecimal digits after \\u");
        v = v * 16 + static_cast<unsigned>(d);
        r->Pos++;
    }
    *value = v;
    return true;
}

void QelVRXPR_AppendUtf8(std::string* s, unsigned cp)
{
    if (cp < 0x80) {
        s->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        s->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        s->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        s->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        s->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        s->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        s->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        s->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        s->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        s->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// At the opening quote.
bool QelVRXPR_ReadJsonString(JSON_READER* r, std::string* out)
{
    const std::string& t = *r->Text;
    size_t start = r->Pos;
    r->Pos++;
    out->clear();
    for (;;) {
        if (r->Pos >= t.size()) return QelVRXPR_FailJson(r, start, "string not terminated");
        unsigned char c = static_cast<unsigned char>(t[r->Pos]);
        if (c == '"') {
            r->Pos++;
            return true;
        }
        if (c < 0x20) return QelVRXPR_FailJson(r, r->Pos, "control character in string");
        if (c != '\\') {
            out->push_back(static_cast<char>(c));
            r->Pos++;
            continue;
        }
        size_t escPos = r->Pos;
        r->Pos++;
        if (r->Pos >= t.size()) return QelVRXPR_FailJson(r, start, "string not terminated");
        char e = t[r->Pos++];
        switch (e) {
        case '"': out->push_back('"'); break;
        case '\\': out->push_back('\\'); break;
        case '/': out->push_back('/'); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': {
            unsigned cp;
            if (!QelVRXPR_ReadJsonHex4(r, &cp)) return false;
            if (cp >= 0xDC00 && cp <= 0xDFFF)
                return QelVRXPR_FailJson(r, escPos, "unpaired surrogate in \\u escape");
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                if (r->Pos + 1 >= t.size() || t[r->Pos] != '\\' || t[r->Pos + 1] != 'u')
                    return QelVRXPR_FailJson(r, escPos, "unpaired surrogate in \\u escape");
                r->Pos += 2;
                unsigned low;
                if (!QelVRXPR_ReadJsonHex4(r, &low)) return false;
                if (low < 0xDC00 || low > 0xDFFF)
                    return QelVRXPR_FailJson(r, escPos, "unpaired surrogate in \\u escape");
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
            QelVRXPR_AppendUtf8(out, cp);
            break;
        }
        default:
            return QelVRXPR_FailJson(r, escPos, "invalid escape in string");
        }
    }
}

bool QelVRXPR_IsDigit(const std::string& t, size_t pos)
{
    return pos < t.size() && t[pos] >= '0' && t[pos] <= '9';
}

bool QelVRXPR_ReadJsonNumber(JSON_READER* r, double* out)
{
    const std::string& t = *r->Text;
    size_t start = r->Pos;
    size_t p = start;
    if (p < t.size() && t[p] == '-') p++;
    if (!QelVRXPR_IsDigit(t, p)) return QelVRXPR_FailJson(r, start, "invalid number");
    if (t[p] == '0') {
        p++;
        if (QelVRXPR_IsDigit(t, p)) return QelVRXPR_FailJson(r, start, "invalid number (leading zero)");
    } else {
        while (QelVRXPR_IsDigit(t, p)) p++;
    }
    if (p < t.size() && t[p] == '.') {
        p++;
        if (!QelVRXPR_IsDigit(t, p)) return QelVRXPR_FailJson(r, start, "invalid number");
        while (QelVRXPR_IsDigit(t, p)) p++;
    }
    if (p < t.size() && (t[p] == 'e' || t[p] == 'E')) {
        p++;
        if (p < t.size() && (t[p] == '+' || t[p] == '-')) p++;
        if (!QelVRXPR_IsDigit(t, p)) return QelVRXPR_FailJson(r, start, "invalid number");
        while (QelVRXPR_IsDigit(t, p)) p++;
    }
    const char* first = t.data() + start;
    const char* last = t.data() + p;
    auto res = std::from_chars(first, last, *out);
    if (res.ec == std::errc::result_out_of_range) {
        // from_chars does not say which way; strtod does (the grammar was
        // checked above, so both read the same text).
        std::string copy(first, last);
        double d = std::strtod(copy.c_str(), nullptr);
        if (std::isfinite(d) && std::fabs(d) < 1.0) {
            *out = 0;  // too small: the nearest double is zero
        } else {
            return QelVRXPR_FailJson(r, start, "number out of range");
        }
    } else if (res.ec != std::errc() || res.ptr != last || !std::isfinite(*out)) {
        return QelVRXPR_FailJson(r, start, "number out of range");
    }
    r->Pos = p;
    return true;
}

bool QelVRXPR_MatchJsonWord(JSON_READER* r, const char* word)
{
    size_t n = std::strlen(word);
    if (r->Text->compare(r->Pos, n, word) != 0)
        return QelVRXPR_FailJson(r, r->Pos, "unexpected " + QelVRXPR_DescribeJsonChar(r, r->Pos));
    r->Pos += n;
    return true;
}

bool QelVRXPR_ReadJsonValue(JSON_READER* r, JSON_VALUE* v, int depth)
{
    const std::string& t = *r->Text;
    QelVRXPR_SkipJsonSpace(r);
    if (r->Pos >= t.size()) return QelVRXPR_FailJson(r, r->Pos, "unexpected end of text, expected a value");
    char c = t[r->Pos];
    *v = JSON_VALUE();
    if (c == '{' || c == '[') {
        if (depth >= JSON_MAX_DEPTH) return QelVRXPR_FailJson(r, r->Pos, "nested too deeply");
        bool isObject = c == '{';
        char close = isObject ? '}' : ']';
        v->Kind = isObject ? JSON_OBJECT : JSON_ARRAY;
        r->Pos++;
        QelVRXPR_SkipJsonSpace(r);
        if (r->Pos < t.size() && t[r->Pos] == close) {
            r->Pos++;
            return true;
        }
        for (;;) {
            QelVRXPR_SkipJsonSpace(r);
            if (isObject) {
                if (r->Pos >= t.size() || t[r->Pos] != '"')
                    return QelVRXPR_FailJson(r, r->Pos, "expected a member name, found " +
                                                            QelVRXPR_DescribeJsonChar(r, r->Pos));
                size_t keyPos = r->Pos;
                std::string key;
                if (!QelVRXPR_ReadJsonString(r, &key)) return false;
                for (const std::string& k : v->Keys)
                    if (k == key) return QelVRXPR_FailJson(r, keyPos, "duplicate member \"" + key + "\"");
                QelVRXPR_SkipJsonSpace(r);
                if (r->Pos >= t.size() || t[r->Pos] != ':')
                    return QelVRXPR_FailJson(r, r->Pos, "expected ':', found " +
                                                            QelVRXPR_DescribeJsonChar(r, r->Pos));
                r->Pos++;
                v->Keys.push_back(key);
            }
            v->Items.emplace_back();
            if (!QelVRXPR_ReadJsonValue(r, &v->Items.back(), depth + 1)) return false;
            QelVRXPR_SkipJsonSpace(r);
            if (r->Pos < t.size() && t[r->Pos] == ',') {
                r->Pos++;
                continue;
            }
            if (r->Pos < t.size() && t[r->Pos] == close) {
                r->Pos++;
                return true;
            }
            return QelVRXPR_FailJson(r, r->Pos, std::string("expected ',' or '") + close + "', found " +
                                                    QelVRXPR_DescribeJsonChar(r, r->Pos));
        }
    }
    if (c == '"') {
        v->Kind = JSON_STRING;
        return QelVRXPR_ReadJsonString(r, &v->Str);
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
        v->Kind = JSON_NUMBER;
        return QelVRXPR_ReadJsonNumber(r, &v->Number);
    }
    if (c == 't') {
        v->Kind = JSON_BOOL;
        v->Bool = true;
        return QelVRXPR_MatchJsonWord(r, "true");
    }
    if (c == 'f') {
        v->Kind = JSON_BOOL;
        return QelVRXPR_MatchJsonWord(r, "false");
    }
    if (c == 'n') return QelVRXPR_MatchJsonWord(r, "null");
    return QelVRXPR_FailJson(r, r->Pos, "unexpected " + QelVRXPR_DescribeJsonChar(r, r->Pos));
}

bool QelVRXPR_IsJsonScalar(const JSON_VALUE& v)
{
    return v.Kind != JSON_ARRAY && v.Kind != JSON_OBJECT;
}

void QelVRXPR_FormatJsonString(const std::string& s, std::string* out)
{
    out->push_back('"');
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': *out += "\\\""; break;
        case '\\': *out += "\\\\"; break;
        case '\b': *out += "\\b"; break;
        case '\f': *out += "\\f"; break;
        case '\n': *out += "\\n"; break;
        case '\r': *out += "\\r"; break;
        case '\t': *out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04X", c);
                *out += buf;
            } else {
                out->push_back(static_cast<char>(c));
            }
        }
    }
    out->push_back('"');
}

void QelVRXPR_FormatJsonNumber(double d, std::string* out)
{
    if (!std::isfinite(d)) {
        *out += "null";
        return;
    }
    char buf[64];
    if (d == std::floor(d) && std::fabs(d) < 1e15) {
        std::snprintf(buf, sizeof buf, "%.0f", d);
        *out += buf;
        return;
    }
    // Shortest text that reads back as the same double.
    auto res = std::to_chars(buf, buf + sizeof buf, d);
    out->append(buf, res.ptr);
}

void QelVRXPR_FormatJsonValue(const JSON_VALUE& v, int indent, std::string* out)
{
    switch (v.Kind) {
    case JSON_NULL: *out += "null"; return;
    case JSON_BOOL: *out += v.Bool ? "true" : "false"; return;
    case JSON_NUMBER: QelVRXPR_FormatJsonNumber(v.Number, out); return;
    case JSON_STRING: QelVRXPR_FormatJsonString(v.Str, out); return;
    case JSON_ARRAY:
    case JSON_OBJECT: break;
    }
    bool isObject = v.Kind == JSON_OBJECT;
    if (v.Items.empty()) {
        *out += isObject ? "{}" : "[]";
        return;
    }
    bool flat = true;
    for (const JSON_VALUE& item : v.Items)
        if (!QelVRXPR_IsJsonScalar(item)) flat = false;
    *out += isObject ? "{" : "[";
    for (size_t i = 0; i < v.Items.size(); i++) {
        if (i > 0) *out += ",";
        if (flat) {
            *out += " ";
        } else {
            *out += "\n";
            out->append(static_cast<size_t>(indent + 2), ' ');
        }
        if (isObject) {
            QelVRXPR_FormatJsonString(i < v.Keys.size() ? v.Keys[i] : std::string(), out);
            *out += ": ";
        }
        QelVRXPR_FormatJsonValue(v.Items[i], indent + 2, out);
    }
    if (flat) {
        *out += " ";
    } else {
        *out += "\n";
        out->append(static_cast<size_t>(indent), ' ');
    }
    *out += isObject ? "}" : "]";
}

}  // namespace

bool QelVRXPR_ParseJson(const std::string& text, JSON_VALUE* out, std::string* error)
{
    JSON_READER r{&text, 0, std::string(), 0};
    // An editor's byte order mark is not part of the value.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) r.Pos = 3;
    JSON_VALUE v;
    bool ok = QelVRXPR_ReadJsonValue(&r, &v, 0);
    if (ok) {
        QelVRXPR_SkipJsonSpace(&r);
        if (r.Pos < text.size())
            ok = QelVRXPR_FailJson(&r, r.Pos, "unexpected " + QelVRXPR_DescribeJsonChar(&r, r.Pos) +
                                                  " after the value");
    }
    if (!ok) {
        size_t line = 1, column = 1;
        for (size_t i = 0; i < r.ErrorPos && i < text.size(); i++) {
            if (text[i] == '\n') {
                line++;
                column = 1;
            } else {
                column++;
            }
        }
        if (error)
            *error = "line " + std::to_string(line) + " column " + std::to_string(column) + ": " + r.Error;
        if (out) *out = JSON_VALUE();
        return false;
    }
    if (out) *out = std::move(v);
    if (error) error->clear();
    return true;
}

std::string QelVRXPR_FormatJson(const JSON_VALUE& v)
{
    std::string out;
    QelVRXPR_FormatJsonValue(v, 0, &out);
    return out;
}

const JSON_VALUE* QelVRXPR_FindJson(const JSON_VALUE& obj, const std::string& key)
{
    if (obj.Kind != JSON_OBJECT) return nullptr;
    for (size_t i = 0; i < obj.Keys.size() && i < obj.Items.size(); i++)
        if (obj.Keys[i] == key) return &obj.Items[i];
    return nullptr;
}
