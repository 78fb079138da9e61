// The native build's language and output character set, from the locale
// variables, checked on the bytes vrxpr writes.
#include <gtest/gtest.h>

#include <cerrno>
#include <iconv.h>
#include <string>
#include <vector>

#include "run.h"

namespace {

const char kHelpEn[] =
    "vrxpr.exe [-c | -d | -h]\n"
    "  -c : Clears Persistent Reservation on a specific LU.\n"
    "  -d : Displays Persistent Reservation information for each LU managed\n"
    "       by VORX.\n"
    "  -h : Displays Help.\n"
    "  (No option specified): Displays vrxpr.exe instructions.\n";

const char kHelpJa[] =
    "vrxpr.exe [-c | -d | -h]\n"
    "  -c : 特定の LU に対して Persistent Reservation 情報をクリアします。\n"
    "  -d : VORX 管理対象 LU の Persistent Reservation 情報を一覧表示します。\n"
    "  -h : ヘルプを表示します。\n"
    "  (オプション指定なし) : vrxpr.exe の説明を表示します。\n";

const char kDescriptionJa[] =
    "  本ユティリティは、LU に存在している Persistent Reserve を解除するため\n"
    "のものです。MSCS 環境で VORX を導入した場合、VORX が Persistent Reserve \n"
    "を発行します。ホストとストレージを接続しているケーブルをすべて断線させた\n"
    "まま VORX をアンインストールした場合、Persistent Reserve が LU に残った\n"
    "ままとなる場合があります。このような場合、本ユティリティを使用して \n"
    "Persistent Reserve を解除してください。解除する場合、他のサーバから解除\n"
    "対象の LU が使用されていないことを確認した後、本ユティリティを使用してく\n"
    "ださい。ユティリティの使用方法は vrxpr -h を実行して確認してください。\n";

// An independent conversion of the expected text.
std::string Convert(const std::string& text, const char* to)
{
    iconv_t cd = iconv_open(to, "UTF-8");
    if (cd == (iconv_t)-1) throw std::runtime_error(std::string("no converter to ") + to);
    std::vector<char> out(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* o = out.data();
    size_t outLeft = out.size();
    size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == (size_t)-1) throw std::runtime_error("conversion failed");
    return std::string(out.data(), out.size() - outLeft);
}

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
        EXPECT_EQ(h.out, Convert(kHelpJa, "CP932"));
        RunResult d = RunWithLocale({{"LANG", value}}, {});
        EXPECT_EQ(d.out, Convert(kDescriptionJa, "CP932"));
    }
}

TEST(LinuxLanguage, OtherJapaneseCharsetIsHonoured)
{
    RunResult h = RunWithLocale({{"LANG", "ja_JP.eucJP"}}, {"-h"});
    EXPECT_EQ(h.out, Convert(kHelpJa, "EUC-JP"));
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
