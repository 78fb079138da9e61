// The native build's output: language and character set from the locale
// variables, checked on the bytes vrxpr writes, and the exit code kept when
// the output has no reader.
#include <gtest/gtest.h>

#include <cerrno>
#include <iconv.h>
#include <string>
#include <vector>

#include "fake_root.h"
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

// Messages 3 and 1 echo the operator's text: the catalogue's part is
// converted, the argument keeps the bytes typed.
TEST(LinuxLanguage, JapaneseEchoKeepsTheArgumentsOwnBytes)
{
    const std::string invalid = "ROVT10646-W パラメタが誤っています。 パラメタ = ";
    RunResult u = RunWithLocale({{"LANG", "ja_JP.UTF-8"}}, {"-\xc3\xa9"});
    EXPECT_EQ(u.out, invalid + "-\xc3\xa9\n");
    EXPECT_EQ(u.code, 2);

    // "-あ" typed in EUC-JP; its bytes are half-width katakana in code page 932.
    RunResult e = RunWithLocale({{"LC_ALL", "ja_JP.eucJP"}}, {"-\xa4\xa2"});
    EXPECT_EQ(e.out, ConvertText(invalid, "EUC-JP") + "-\xa4\xa2\n");

    // Longer than the message buffer: formatted a second time, same rule.
    std::string longArg = "-";
    for (int i = 0; i < 1500; ++i) longArg += "\xc3\xa9";
    RunResult l = RunWithLocale({{"LANG", "ja_JP.UTF-8"}}, {longArg});
    EXPECT_EQ(l.out, invalid + longArg + "\n");

    RunResult c = RunWithLocale({{"LANG", "ja_JP.UTF-8"}}, {"-C", "-d"});
    EXPECT_EQ(c.out, "ROVT10644-W 同時に指定できないパラメタが指定されています。 パラメタ = -C -d\n");
    EXPECT_EQ(c.code, 2);
}

TEST(LinuxLanguage, EnglishEchoKeepsTheArgumentsOwnBytes)
{
    RunResult r = RunWithLocale({{"LANG", "en_US.UTF-8"}}, {"-\xc3\xa9"});
    EXPECT_EQ(r.out, "ROVT10646-W A parameter is invalid. parameter = -\xc3\xa9\n");
    EXPECT_EQ(r.code, 2);
}

TEST(LinuxOutput, ReaderGoneBeforeTheFirstByteLeavesTheExitCode)
{
    // SIGPIPE at its default action, as a shell starts the utility.
    FAKE_ROOT none = MakeRoot();
    FAKE_ROOT unmapped = MakeRoot();
    AddHost(unmapped, 2);
    AddDevice(unmapped, "2:0:1:44", "ZORBELT", "TQ44");
    FAKE_ROOT guarded = MakeRoot();
    fs::create_directories(guarded.Dir + "/sys/module/vrxfdrv");
    struct {
        const FAKE_ROOT& Root;
        const char* Option;
        int Code;
    } const rows[] = {
        {none, "-d", 0}, {none, "-c", 0}, {none, "-h", 0},
        {unmapped, "-d", 3}, {guarded, "-d", 2}, {none, "-x", 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.Option) + " " + row.Root.Dir);
        RunOptions opt;
        opt.unsetEnv = {"LC_ALL", "LC_MESSAGES", "LANG"};
        opt.env = {{"VRXPR_TEST_ROOT", row.Root.Dir}};
        opt.defaultSigpipe = true;
        opt.outputClosed = true;
        RunResult res = RunProgram(LinuxTestExe(), {row.Option}, opt);
        EXPECT_EQ(res.signal, 0);
        EXPECT_EQ(res.code, row.Code);
        EXPECT_EQ(res.err, "");
    }
}

}  // namespace
