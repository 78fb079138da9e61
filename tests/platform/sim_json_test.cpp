// The state file's JSON as the layer reads and writes it: where an error
// is placed, what nlohmann alone would let through, and the layout of the
// written file.
#include <gtest/gtest.h>
#include <string>

#include "json.h"

namespace {

std::string ErrorOf(const std::string& text)
{
    SIM_JSON v = 1;
    std::string error;
    EXPECT_FALSE(SimParseJson(text, &v, &error)) << text;
    EXPECT_TRUE(v.is_null());
    return error;
}

std::string Reformat(const std::string& text)
{
    SIM_JSON v;
    std::string error;
    EXPECT_TRUE(SimParseJson(text, &v, &error)) << error;
    return SimFormatJson(v);
}

TEST(SimJson, WrittenLayoutIsStableAndReadsBack)
{
    const std::string text =
        "\xEF\xBB\xBF{\"b\":[1,-0.5,2e3,12345678901234567,true,false,null],\"a\":{\"x\":{},\"y\":[[]]},"
        "\"s\":\"q\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0001\\u00e9\\ud83d\\ude00\"}";
    const std::string expected = R"({
  "b": [ 1, -0.5, 2000.0, 12345678901234567, true, false, null ],
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
    EXPECT_EQ(Reformat(" \"\" "), "\"\"");
    EXPECT_EQ(Reformat("{ \"k\": {}, \"z\": [ { \"k\": 1 } ] }"), "{\n  \"k\": {},\n  \"z\": [\n    { \"k\": 1 }\n  ]\n}");
}

TEST(SimJson, ErrorsNameLineAndColumn)
{
    EXPECT_EQ(ErrorOf(""), "line 1 column 1: " + std::string("syntax error while parsing value - unexpected end of input; "
                                                             "expected '[', '{', or a literal"));
    EXPECT_EQ(ErrorOf("{\n  \"a\": tru\n}"),
              "line 2 column 11: syntax error while parsing value - invalid literal; last read: '\"a\": tru<U+000A>'");
    EXPECT_EQ(ErrorOf("[1,\n\n   2,]"),
              "line 3 column 6: syntax error while parsing value - unexpected ']'; expected '[', '{', or a literal");
    EXPECT_EQ(ErrorOf("{} {}"), "line 1 column 4: syntax error while parsing value - unexpected '{'; expected end of input");
    EXPECT_EQ(ErrorOf("[1, -1e400]"), "line 1 column 5: number overflow parsing '-1e400'");
    // A repeated member name, placed at its opening quote; the same name
    // in another object is no repeat.
    EXPECT_EQ(ErrorOf("{\"k\":1,\"k\":2}"), "line 1 column 8: duplicate member \"k\"");
    EXPECT_EQ(ErrorOf("{\"k\":{\"k\":{}},\n \"a\\\"\\\\\":1, \"a\\\"\\\\\":2}"),
              "line 2 column 13: duplicate member \"a\\\"\\\\\"");
    // Hostile nesting ends in an error, not in a deep recursion.
    EXPECT_EQ(ErrorOf(std::string(100000, '[')), "line 1 column 201: nested too deeply");
    SIM_JSON deepest;
    EXPECT_TRUE(SimParseJson(std::string(200, '[') + std::string(200, ']'), &deepest, nullptr));
}

}  // namespace
