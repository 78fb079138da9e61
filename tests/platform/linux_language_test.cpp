// The native build's language and output character set, from the locale
// variables, checked on the bytes vrxpr writes.
#include <gtest/gtest.h>

#include <cerrno>
#include <iconv.h>
#include <string>
#include <vector>

#include "run.h"
#include "texts.h"

namespace {

// Only the given locale variables are set.
RunResult RunWithLocale(const std::vector<std::pair<std::string, std::string>>& vars,
                        const std::vector<std::string>& args, const std::string& input = "")
{
    RunOptions opt;
    opt.unsetEnv = {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"};
    opt.env = vars;
    opt.input = input;
    return RunProgram(LinuxExe(), args, opt);
}

TEST(LinuxLanguage, JapaneseUtf8LocaleWritesReadableUtf8)
{
    RunResult h = RunWithLocale({{"LANG", "ja_JP.UTF-8"}}, {"-h"});
    EXPECT_EQ(h.out, kHelpJa);
    EXPECT_EQ(h.code, 0);

    RunResult d = RunWithLocale({{"LANG", "ja_JP.UTF-8"}}, {});
    EXPECT_EQ(d.out, kDescriptionJa);
    EXPECT_EQ(d.code, 0);

    // A message with an argument: the argument passes through the conversion.
    RunResult bad = RunWithLocale({{"LANG", "ja_JP.utf8"}}, {"-q"});
    EXPECT_EQ(bad.out, "ROVT10646-W パラメタが誤っています。 パラメタ = -q\n");
    EXPECT_EQ(bad.code, 2);

    // No character set named: UTF-8.
    RunResult plain = RunWithLocale({{"LANG", "ja_JP"}}, {"-h"});
    EXPECT_EQ(plain.out, kHelpJa);
}

TEST(LinuxLanguage, ShiftJisLocaleWritesCodePage932Unchanged)
{
    for (const char* value : {"ja_JP.SJIS", "ja_JP.Shift_JIS", "ja_JP.CP932"}) {
        SCOPED_TRACE(value);
        RunResult h = RunWithLocale({{"LANG", value}}, {"-h"});
        EXPECT_EQ(h.out, ToCp932(kHelpJa));
        RunResult d = RunWithLocale({{"LANG", value}}, {});
        EXPECT_EQ(d.out, ToCp932(kDescriptionJa));
    }
}

TEST(LinuxLanguage, OtherJapaneseCharsetIsHonoured)
{
    RunResult h = RunWithLocale({{"LANG", "ja_JP.eucJP"}}, {"-h"});
    EXPECT_EQ(h.out, ConvertText(kHelpJa, "EUC-JP"));
}

TEST(LinuxLanguage, VariablePrecedenceDecidesTheLanguage)
{
    // LC_ALL first, then LC_MESSAGES, then LANG; empty ones do not count.
    EXPECT_EQ(RunWithLocale({{"LC_ALL", "C"}, {"LANG", "ja_JP.UTF-8"}}, {"-h"}).out, kHelpEn);
    EXPECT_EQ(RunWithLocale({{"LC_ALL", ""}, {"LC_MESSAGES", "ja_JP.UTF-8"}, {"LANG", "C"}},
                            {"-h"}).out,
              kHelpJa);
    EXPECT_EQ(RunWithLocale({{"LC_MESSAGES", "en_US.UTF-8"}, {"LANG", "ja_JP.UTF-8"}}, {"-h"}).out,
              kHelpEn);
    EXPECT_EQ(RunWithLocale({}, {"-h"}).out, kHelpEn);
    EXPECT_EQ(RunWithLocale({{"LANG", "jp_JP.UTF-8"}}, {"-h"}).out, kHelpEn);
}

TEST(LinuxLanguage, EnglishEchoKeepsTheArgumentsOwnBytes)
{
    RunResult r = RunWithLocale({{"LANG", "en_US.UTF-8"}}, {"-\xc3\xa9"});
    EXPECT_EQ(r.out, "ROVT10646-W A parameter is invalid. parameter = -\xc3\xa9\n");
    EXPECT_EQ(r.code, 2);
}

}  // namespace
