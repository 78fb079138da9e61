// The JSON reader and writer behind the state file.
#include <gtest/gtest.h>
#include <string>

#include "json.h"

namespace {

std::string ErrorOf(const std::string& text)
{
    JSON_VALUE v;
    std::string error;
    EXPECT_FALSE(QelVRXPR_ParseJson(text, &v, &error)) << text;
    EXPECT_EQ(v.Kind, JSON_NULL);
    return error;
}

std::string Reformat(const std::string& text)
{
    JSON_VALUE v;
    std::string error;
    EXPECT_TRUE(QelVRXPR_ParseJson(text, &v, &error)) << error;
    return QelVRXPR_FormatJson(v);
}

TEST(SimJson, ValuesReadAndWriteBackStably)
{
    const std::string text =
        "\xEF\xBB\xBF{\"b\":[1,-0.5,2e3,12345678901234567,true,false,null],\"a\":{\"x\":{},\"y\":[[]]},"
        "\"s\":\"q\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0001\\u00e9\\ud83d\\ude00\"}";
    const std::string expected = R"({
  "b": [ 1, -0.5, 2000, 12345678901234568, true, false, null ],
  "a": {
    "x": {},
    "y": [
      []
    ]
  },
  "s": "q\"\\/\b\f\n\r\t\u0001é😀"
})";
    std::string once = Reformat(text);
    EXPECT_EQ(once, expected);
    EXPECT_EQ(Reformat(once), once);

    JSON_VALUE v;
    ASSERT_TRUE(QelVRXPR_ParseJson(text, &v, nullptr));
    EXPECT_EQ(v.Keys, (std::vector<std::string>{"b", "a", "s"}));
    ASSERT_NE(QelVRXPR_FindJson(v, "s"), nullptr);
    EXPECT_EQ(QelVRXPR_FindJson(v, "s")->Str, "q\"\\/\b\f\n\r\t\x01\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(QelVRXPR_FindJson(v, "c"), nullptr);
    EXPECT_EQ(QelVRXPR_FindJson(v.Items[0], "b"), nullptr);  // not an object
    EXPECT_EQ(Reformat("0.1"), "0.1");
    EXPECT_EQ(Reformat("1e-400"), "0");
    EXPECT_EQ(Reformat(" \"\" "), "\"\"");
}

TEST(SimJson, ErrorsNameLineAndColumn)
{
    EXPECT_EQ(ErrorOf("{\n  \"a\": tru\n}"), "line 2 column 8: unexpected 't'");
    EXPECT_EQ(ErrorOf("[1,\n\n   2,]"), "line 3 column 6: unexpected ']'");
    EXPECT_EQ(ErrorOf("[1 2]"), "line 1 column 4: expected ',' or ']', found '2'");
    EXPECT_EQ(ErrorOf("\"a\nb\""), "line 1 column 3: control character in string");
    EXPECT_EQ(ErrorOf("\"\\x\""), "line 1 column 2: invalid escape in string");
    EXPECT_EQ(ErrorOf("\"\\ud800x\""), "line 1 column 2: unpaired surrogate in \\u escape");
    EXPECT_EQ(ErrorOf("\"\\u12G4\""), "line 1 column 6: expected 4 hexadecimal digits after \\u");
    EXPECT_EQ(ErrorOf("[-]"), "line 1 column 2: invalid number");
    EXPECT_EQ(ErrorOf("1.e5"), "line 1 column 1: invalid number");
    EXPECT_EQ(ErrorOf("-1e400"), "line 1 column 1: number out of range");
    EXPECT_EQ(ErrorOf("{\"k\":1,\"k\":2}"), "line 1 column 8: duplicate member \"k\"");
    EXPECT_EQ(ErrorOf("\"open"), "line 1 column 1: string not terminated");
    EXPECT_EQ(ErrorOf("\x01"), "line 1 column 1: unexpected byte 0x01");
    // Hostile nesting ends in an error, not in a stack overflow.
    EXPECT_EQ(ErrorOf(std::string(100000, '[')), "line 1 column 201: nested too deeply");
}

}  // namespace
