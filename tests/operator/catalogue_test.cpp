// The catalogue's bytes: every Japanese text must be the code page 932
// form of its readable text, converted here by iconv and not by the
// program; the language is picked from the user's language name.
#include <gtest/gtest.h>

#include <string>

#include "operator/msg.h"
#include "run.h"
#include "texts.h"

namespace {

const char* const kJapanese[MSG_COUNT] = {
    /*  0 */ "ROVT10640-I VORX パーシステントリザーブ解除ユティリティ (vrxpr) が正常終了しました。\n",
    /*  1 */ "ROVT10644-W 同時に指定できないパラメタが指定されています。 パラメタ = %s\n",
    /*  2 */ "ROVT10654-W パラメタ(%s)は単独で指定できません。\n",
    /*  3 */ "ROVT10646-W パラメタが誤っています。 パラメタ = %s\n",
    /*  4 */ "ROVT10648-E VORX パーシステントリザーブ解除ユティリティ (vrxpr) で内部エラーが発生しました。Error Code = %s\n",
    /*  5 */ "ROVT10651-I ユーザの指定により，オペレーションの処理を中断しました。\n",
    /*  6 */ "ROVT10653-W 入力の値が不正です。再入力してください。 [y/n] : ",
    /*  7 */ "ROVT10652-E 入力の値が不正です。オペレーションを中断します。\n",
    /*  8 */ "ROVT10655-I Persistent Reservation 情報をクリアする LU の PathID を指定してください。 ( x で中止) : ",
    /*  9 */ "ROVT10656-I PathID = %lu の Persistent Reservation 情報をクリアします。よろしいですか？ [y/n] : ",
    /* 10 */ "ROVT10657-I 処理を続行した場合，指定した LU の排他が解除されます。他のサーバなどから指定 LU にアクセスしていないことを確認してください。処理を続行しますか？ [y/n] : ",
    /* 11 */ "ROVT10658-I PathID = %lu の Persistent Reservation 情報をクリアしました。\n",
    /* 12 */ "ROVT10659-I Persistent Reservation 情報が存在する LU はありません。\n",
    /* 13 */ "ROVT10660-I VORX 管理対象 LU はありません。\n",
    /* 14 */ "ROVT10661-E SCSI コマンド処理に失敗しました。SCSI Code = 0x%x, Service Action = 0x%x, Status Code = 0x%x, Error Code = 0x%x, LU = %s\n",
    /* 15 */ "ROVT10662-E 空きメモリが不足しています。\n",
    /* 16 */ "ROVT10663-W 入力の値が不正です。Persistent Reservation 情報をクリアする LU の PathID を再度指定してください。 ( x で中止) : ",
    /* 17 */ "ROVT10664-E Inquiry データの取得に失敗しました。 PortNo = 0x%x, Error Code = 0x%x\n",
    /* 18 */ "ROVT10668-E デバイスのオープンに失敗しました。 DeviceName = %s\n",
    /* 19 */ "ROVT10666-I PathID = %lu の LU には Persistent Reservation 情報が存在していません。クリアは行われませんでした。\n",
    /* 20 */ "ROVT10667-C 物理ドライブ番号の取得に失敗しました。LU = %s\n",
    /* 21 */ "ROVT10669-W VORX がインストールされているため、VORX パーシステントリザーブ解除ユティリティ（vrxpr）は実行できません。\n",
    /* 22 */ kHelpJa,
    /* 23 */ kDescriptionJa,
    /* 24 */ "ROVT10670-E PathID = %lu の Persistent Reservation 情報が一覧表示の後に変更されました。クリアは行われませんでした。ユティリティを再度実行して、LU の現在の状態を確認してください。\n",
};

std::string State(const std::string& languageJson)
{
    return "{\"language\": " + languageJson + "}";
}

}  // namespace

TEST(Catalogue, EveryJapaneseTextIsItsCodePage932Form)
{
    for (int id = 0; id < MSG_COUNT; ++id)
        EXPECT_EQ(ToCp932(kJapanese[id]), g_MsgText[0][id]) << "message " << id;
}

TEST(Catalogue, PromptsEndWithoutLineFeedAndOthersWithOne)
{
    for (int lang = 0; lang < 2; ++lang) {
        for (int id = 0; id < MSG_COUNT; ++id) {
            std::string text = g_MsgText[lang][id];
            bool prompt = id == 6 || id == 8 || id == 9 || id == 10 || id == 16;
            EXPECT_EQ(prompt, text.back() != '\n') << "language " << lang << " message " << id;
        }
    }
}

TEST(Language, EnglishWhenAbsentFailedOrOther)
{
    for (const char* state : {"{}", "{\"language\": null}", "{\"language\": \"French\"}",
                              "{\"language\": \"\"}", "{\"language\": \"Japanese \"}"}) {
        SimRun run = RunSim({"-h"}, state);
        EXPECT_EQ(run.r.code, 0) << state;
        EXPECT_EQ(run.r.out, kHelpEn) << state;
    }
}

TEST(Language, JapaneseInAnyLetterCaseGivesCodePage932Bytes)
{
    for (const char* name : {"\"Japanese\"", "\"JAPANESE\"", "\"japanese\"", "\"jApAnEsE\""}) {
        SimRun help = RunSim({"-h"}, State(name));
        EXPECT_EQ(help.r.code, 0);
        EXPECT_EQ(help.r.out, ToCp932(kJapanese[MSG_HELP])) << name;
    }
    SimRun desc = RunSim({}, State("\"Japanese\""));
    EXPECT_EQ(desc.r.code, 0);
    EXPECT_EQ(desc.r.out, ToCp932(kJapanese[MSG_DESCRIPTION]));
}

TEST(Language, EnglishDescription)
{
    SimRun run = RunSim({}, State("\"English\""));
    EXPECT_EQ(run.r.code, 0);
    EXPECT_EQ(run.r.out, kDescriptionEn);
}

TEST(Language, JapaneseMessageWithArgument)
{
    SimRun run = RunSim({"-q"}, State("\"Japanese\""));
    EXPECT_EQ(run.r.code, 2);
    EXPECT_EQ(run.r.out, ToCp932("ROVT10646-W パラメタが誤っています。 パラメタ = -q\n"));
}
