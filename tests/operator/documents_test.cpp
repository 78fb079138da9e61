// Every numbered message of the catalogue, as the program prints it, in
// each document the operator reads: its identifier in all four, its English
// text in all four, its Japanese text in the Japanese README and manual page.
#include <gtest/gtest.h>

#include <iconv.h>

#include <string>
#include <vector>

#include "operator/msg.h"
#include "run.h"

namespace {

struct DOC {
    const char* Path;
    bool Manual;
    bool Japanese;
};

const DOC kDocs[] = {
    {"README.md", false, false},
    {"README.ja.md", false, true},
    {"doc/vrxpr.8.in", true, false},
    {"doc/vrxpr.ja.8.in", true, true},
};

// What a manual page's source says, with the escapes a message text needs
// in it undone.
std::string Unescape(std::string text)
{
    for (const char* esc : {"\\-", "\\&"}) {
        std::string to = esc[1] == '-' ? "-" : "";
        for (size_t at = 0; (at = text.find(esc, at)) != std::string::npos; at += to.size())
            text.replace(at, 2, to);
    }
    return text;
}

std::string FromCp932(const std::string& text)
{
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == (iconv_t)-1) return "";
    std::string out(text.size() * 3 + 1, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* o = out.data();
    size_t outLeft = out.size();
    size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == (size_t)-1) return "";
    out.resize(out.size() - outLeft);
    return out;
}

// The text as a document quotes it: no line feed, no space the prompt
// leaves for the answer.
std::string Quoted(const std::string& text)
{
    size_t end = text.find_last_not_of(" \n");
    return end == std::string::npos ? "" : text.substr(0, end + 1);
}

TEST(OperatorDocuments, EveryNumberedMessageIsInEveryDocument)
{
    std::vector<std::string> docs;
    for (const DOC& d : kDocs) {
        std::string text = ReadFile(std::string(VRXPR_SOURCE_DIR) + "/" + d.Path);
        ASSERT_FALSE(text.empty()) << d.Path;
        docs.push_back(d.Manual ? Unescape(text) : text);
    }
    int numbered = 0;
    for (int id = 0; id < MSG_COUNT; ++id) {
        std::string english = g_MsgText[1][id];
        if (english.compare(0, 4, "ROVT") != 0) continue;  // help and description
        ++numbered;
        std::string ident = english.substr(0, english.find(' '));
        std::string japanese = FromCp932(g_MsgText[0][id]);
        ASSERT_EQ(japanese.compare(0, ident.size() + 1, ident + " "), 0) << id;
        for (size_t i = 0; i < docs.size(); ++i) {
            SCOPED_TRACE(std::string(kDocs[i].Path) + ", message " + std::to_string(id));
            EXPECT_NE(docs[i].find(ident), std::string::npos) << ident;
            EXPECT_NE(docs[i].find(Quoted(english)), std::string::npos) << Quoted(english);
            if (kDocs[i].Japanese) {
                EXPECT_NE(docs[i].find(Quoted(japanese)), std::string::npos) << Quoted(japanese);
            }
        }
    }
    // Every message but the help and the description has its identifier.
    EXPECT_EQ(numbered, MSG_COUNT - 2);
}

}  // namespace
