// The message catalogue. The Japanese set is stored as code page 932 bytes,
// written unconverted as the Windows console expects; each entry carries its
// readable text above it.
#include "operator/msg.h"

const char* const g_LangNameTable[] = {
    "Japanese",
    "",
};

const char* const g_MsgText[2][MSG_COUNT] = {
  {
    // ROVT10640-I VORX パーシステントリザーブ解除ユティリティ (vrxpr) が正常終了しました。
    /*  0 */ "ROVT10640-I VORX \203p\201[\203V\203X\203e\203\223\203g\203\212\203U\201[\203u\211\360\217\234\203\206\203e\203B\203\212\203e\203B (vrxpr) \202\252\220\263\217\355\217I\227\271\202\265\202\334\202\265\202\275\201B\n",
    // ROVT10644-W 同時に指定できないパラメタが指定されています。 パラメタ = %s
    /*  1 */ "ROVT10644-W \223\257\216\236\202\311\216w\222\350\202\305\202\253\202\310\202\242\203p\203\211\203\201\203^\202\252\216w\222\350\202\263\202\352\202\304\202\242\202\334\202\267\201B \203p\203\211\203\201\203^ = %s\n",
    // ROVT10654-W パラメタ(%s)は単独で指定できません。
    /*  2 */ "ROVT10654-W \203p\203\211\203\201\203^(%s)\202\315\222P\223\306\202\305\216w\222\350\202\305\202\253\202\334\202\271\202\361\201B\n",
    // ROVT10646-W パラメタが誤っています。 パラメタ = %s
    /*  3 */ "ROVT10646-W \203p\203\211\203\201\203^\202\252\214\353\202\301\202\304\202\242\202\334\202\267\201B \203p\203\211\203\201\203^ = %s\n",
    // ROVT10648-E VORX パーシステントリザーブ解除ユティリティ (vrxpr) で内部エラーが発生しました。Error Code = %s
    /*  4 */ "ROVT10648-E VORX \203p\201[\203V\203X\203e\203\223\203g\203\212\203U\201[\203u\211\360\217\234\203\206\203e\203B\203\212\203e\203B (vrxpr) \202\305\223\340\225\224\203G\203\211\201[\202\252\224\255\220\266\202\265\202\334\202\265\202\275\201BError Code = %s\n",
    // ROVT10651-I ユーザの指定により，オペレーションの処理を中断しました。
    /*  5 */ "ROVT10651-I \203\206\201[\203U\202\314\216w\222\350\202\311\202\346\202\350\201C\203I\203y\203\214\201[\203V\203\207\203\223\202\314\217\210\227\235\202\360\222\206\222f\202\265\202\334\202\265\202\275\201B\n",
    // ROVT10653-W 入力の値が不正です。再入力してください。 [y/n] : 
    /*  6 */ "ROVT10653-W \223\374\227\315\202\314\222l\202\252\225s\220\263\202\305\202\267\201B\215\304\223\374\227\315\202\265\202\304\202\255\202\276\202\263\202\242\201B [y/n] : ",
    // ROVT10652-E 入力の値が不正です。オペレーションを中断します。
    /*  7 */ "ROVT10652-E \223\374\227\315\202\314\222l\202\252\225s\220\263\202\305\202\267\201B\203I\203y\203\214\201[\203V\203\207\203\223\202\360\222\206\222f\202\265\202\334\202\267\201B\n",
    // ROVT10655-I Persistent Reservation 情報をクリアする LU の PathID を指定してください。 ( x で中止) : 
    /*  8 */ "ROVT10655-I Persistent Reservation \217\356\225\361\202\360\203N\203\212\203A\202\267\202\351 LU \202\314 PathID \202\360\216w\222\350\202\265\202\304\202\255\202\276\202\263\202\242\201B ( x \202\305\222\206\216~) : ",
    // ROVT10656-I PathID = %lu の Persistent Reservation 情報をクリアします。よろしいですか？ [y/n] : 
    /*  9 */ "ROVT10656-I PathID = %lu \202\314 Persistent Reservation \217\356\225\361\202\360\203N\203\212\203A\202\265\202\334\202\267\201B\202\346\202\353\202\265\202\242\202\305\202\267\202\251\201H [y/n] : ",
    // ROVT10657-I 処理を続行した場合，指定した LU の排他が解除されます。他のサーバなどから指定 LU にアクセスしていないことを確認してください。処理を続行しますか？ [y/n] : 
    /* 10 */ "ROVT10657-I \217\210\227\235\202\360\221\261\215s\202\265\202\275\217\352\215\207\201C\216w\222\350\202\265\202\275 LU \202\314\224r\221\274\202\252\211\360\217\234\202\263\202\352\202\334\202\267\201B\221\274\202\314\203T\201[\203o\202\310\202\307\202\251\202\347\216w\222\350 LU \202\311\203A\203N\203Z\203X\202\265\202\304\202\242\202\310\202\242\202\261\202\306\202\360\212m\224F\202\265\202\304\202\255\202\276\202\263\202\242\201B\217\210\227\235\202\360\221\261\215s\202\265\202\334\202\267\202\251\201H [y/n] : ",
    // ROVT10658-I PathID = %lu の Persistent Reservation 情報をクリアしました。
    /* 11 */ "ROVT10658-I PathID = %lu \202\314 Persistent Reservation \217\356\225\361\202\360\203N\203\212\203A\202\265\202\334\202\265\202\275\201B\n",
    // ROVT10659-I Persistent Reservation 情報が存在する LU はありません。
    /* 12 */ "ROVT10659-I Persistent Reservation \217\356\225\361\202\252\221\266\215\335\202\267\202\351 LU \202\315\202\240\202\350\202\334\202\271\202\361\201B\n",
    // ROVT10660-I VORX 管理対象 LU はありません。
    /* 13 */ "ROVT10660-I VORX \212\307\227\235\221\316\217\333 LU \202\315\202\240\202\350\202\334\202\271\202\361\201B\n",
    // ROVT10661-E SCSI コマンド処理に失敗しました。SCSI Code = 0x%x, Service Action = 0x%x, Status Code = 0x%x, Error Code = 0x%x, LU = %s
    /* 14 */ "ROVT10661-E SCSI \203R\203}\203\223\203h\217\210\227\235\202\311\216\270\224s\202\265\202\334\202\265\202\275\201BSCSI Code = 0x%x, Service Action = 0x%x, Status Code = 0x%x, Error Code = 0x%x, LU = %s\n",
    // ROVT10662-E 空きメモリが不足しています。
    /* 15 */ "ROVT10662-E \213\363\202\253\203\201\203\202\203\212\202\252\225s\221\253\202\265\202\304\202\242\202\334\202\267\201B\n",
    // ROVT10663-W 入力の値が不正です。Persistent Reservation 情報をクリアする LU の PathID を再度指定してください。 ( x で中止) : 
    /* 16 */ "ROVT10663-W \223\374\227\315\202\314\222l\202\252\225s\220\263\202\305\202\267\201BPersistent Reservation \217\356\225\361\202\360\203N\203\212\203A\202\267\202\351 LU \202\314 PathID \202\360\215\304\223x\216w\222\350\202\265\202\304\202\255\202\276\202\263\202\242\201B ( x \202\305\222\206\216~) : ",
    // ROVT10664-E Inquiry データの取得に失敗しました。 PortNo = 0x%x, Error Code = 0x%x
    /* 17 */ "ROVT10664-E Inquiry \203f\201[\203^\202\314\216\346\223\276\202\311\216\270\224s\202\265\202\334\202\265\202\275\201B PortNo = 0x%x, Error Code = 0x%x\n",
    // ROVT10668-E デバイスのオープンに失敗しました。 DeviceName = %s
    /* 18 */ "ROVT10668-E \203f\203o\203C\203X\202\314\203I\201[\203v\203\223\202\311\216\270\224s\202\265\202\334\202\265\202\275\201B DeviceName = %s\n",
    // ROVT10666-I PathID = %lu の LU には Persistent Reservation 情報が存在していません。クリアは行われませんでした。
    /* 19 */ "ROVT10666-I PathID = %lu \202\314 LU \202\311\202\315 Persistent Reservation \217\356\225\361\202\252\221\266\215\335\202\265\202\304\202\242\202\334\202\271\202\361\201B\203N\203\212\203A\202\315\215s\202\355\202\352\202\334\202\271\202\361\202\305\202\265\202\275\201B\n",
    // ROVT10667-C 物理ドライブ番号の取得に失敗しました。LU = %s
    /* 20 */ "ROVT10667-C \225\250\227\235\203h\203\211\203C\203u\224\324\215\206\202\314\216\346\223\276\202\311\216\270\224s\202\265\202\334\202\265\202\275\201BLU = %s\n",
    // ROVT10669-W VORX がインストールされているため、VORX パーシステントリザーブ解除ユティリティ（vrxpr）は実行できません。
    /* 21 */ "ROVT10669-W VORX \202\252\203C\203\223\203X\203g\201[\203\213\202\263\202\352\202\304\202\242\202\351\202\275\202\337\201AVORX \203p\201[\203V\203X\203e\203\223\203g\203\212\203U\201[\203u\211\360\217\234\203\206\203e\203B\203\212\203e\203B\201ivrxpr\201j\202\315\216\300\215s\202\305\202\253\202\334\202\271\202\361\201B\n",
    // vrxpr.exe [-c | -d | -h]
    //   -c : 特定の LU に対して Persistent Reservation 情報をクリアします。
    //   -d : VORX 管理対象 LU の Persistent Reservation 情報を一覧表示します。
    //   -h : ヘルプを表示します。
    //   (オプション指定なし) : vrxpr.exe の説明を表示します。
    /* 22 */ "vrxpr.exe [-c | -d | -h]\n"
             "  -c : \223\301\222\350\202\314 LU \202\311\221\316\202\265\202\304 Persistent Reservation \217\356\225\361\202\360\203N\203\212\203A\202\265\202\334\202\267\201B\n"
             "  -d : VORX \212\307\227\235\221\316\217\333 LU \202\314 Persistent Reservation \217\356\225\361\202\360\210\352\227\227\225\\\216\246\202\265\202\334\202\267\201B\n"
             "  -h : \203w\203\213\203v\202\360\225\\\216\246\202\265\202\334\202\267\201B\n"
             "  (\203I\203v\203V\203\207\203\223\216w\222\350\202\310\202\265) : vrxpr.exe \202\314\220\340\226\276\202\360\225\\\216\246\202\265\202\334\202\267\201B\n",
    //   本ユティリティは、LU に存在している Persistent Reserve を解除するため
    // のものです。MSCS 環境で VORX を導入した場合、VORX が Persistent Reserve 
    // を発行します。ホストとストレージを接続しているケーブルをすべて断線させた
    // まま VORX をアンインストールした場合、Persistent Reserve が LU に残った
    // ままとなる場合があります。このような場合、本ユティリティを使用して 
    // Persistent Reserve を解除してください。解除する場合、他のサーバから解除
    // 対象の LU が使用されていないことを確認した後、本ユティリティを使用してく
    // ださい。ユティリティの使用方法は vrxpr -h を実行して確認してください。
    /* 23 */ "  \226{\203\206\203e\203B\203\212\203e\203B\202\315\201ALU \202\311\221\266\215\335\202\265\202\304\202\242\202\351 Persistent Reserve \202\360\211\360\217\234\202\267\202\351\202\275\202\337\n"
             "\202\314\202\340\202\314\202\305\202\267\201BMSCS \212\302\213\253\202\305 VORX \202\360\223\261\223\374\202\265\202\275\217\352\215\207\201AVORX \202\252 Persistent Reserve \n"
             "\202\360\224\255\215s\202\265\202\334\202\267\201B\203z\203X\203g\202\306\203X\203g\203\214\201[\203W\202\360\220\332\221\261\202\265\202\304\202\242\202\351\203P\201[\203u\203\213\202\360\202\267\202\327\202\304\222f\220\374\202\263\202\271\202\275\n"
             "\202\334\202\334 VORX \202\360\203A\203\223\203C\203\223\203X\203g\201[\203\213\202\265\202\275\217\352\215\207\201APersistent Reserve \202\252 LU \202\311\216c\202\301\202\275\n"
             "\202\334\202\334\202\306\202\310\202\351\217\352\215\207\202\252\202\240\202\350\202\334\202\267\201B\202\261\202\314\202\346\202\244\202\310\217\352\215\207\201A\226{\203\206\203e\203B\203\212\203e\203B\202\360\216g\227p\202\265\202\304 \n"
             "Persistent Reserve \202\360\211\360\217\234\202\265\202\304\202\255\202\276\202\263\202\242\201B\211\360\217\234\202\267\202\351\217\352\215\207\201A\221\274\202\314\203T\201[\203o\202\251\202\347\211\360\217\234\n"
             "\221\316\217\333\202\314 LU \202\252\216g\227p\202\263\202\352\202\304\202\242\202\310\202\242\202\261\202\306\202\360\212m\224F\202\265\202\275\214\343\201A\226{\203\206\203e\203B\203\212\203e\203B\202\360\216g\227p\202\265\202\304\202\255\n"
             "\202\276\202\263\202\242\201B\203\206\203e\203B\203\212\203e\203B\202\314\216g\227p\225\373\226@\202\315 vrxpr -h \202\360\216\300\215s\202\265\202\304\212m\224F\202\265\202\304\202\255\202\276\202\263\202\242\201B\n",
    // ROVT10670-E PathID = %lu の Persistent Reservation 情報が一覧表示の後に変更されました。クリアは行われませんでした。ユティリティを再度実行して、LU の現在の状態を確認してください。
    /* 24 */ "ROVT10670-E PathID = %lu \202\314 Persistent Reservation \217\356\225\361\202\252\210\352\227\227\225\\\216\246\202\314\214\343\202\311\225\317\215X\202\263\202\352\202\334\202\265\202\275\201B\203N\203\212\203A\202\315\215s\202\355\202\352\202\334\202\271\202\361\202\305\202\265\202\275\201B\203\206\203e\203B\203\212\203e\203B\202\360\215\304\223x\216\300\215s\202\265\202\304\201ALU \202\314\214\273\215\335\202\314\217\363\221\324\202\360\212m\224F\202\265\202\304\202\255\202\276\202\263\202\242\201B\n",
  },
  {
    /*  0 */ "ROVT10640-I The vrxpr utility completed normally.\n",
    /*  1 */ "ROVT10644-W The specified parameters cannot be specified at the same time. parameter = %s\n",
    /*  2 */ "ROVT10654-W The parameter(%s) cannot be not specified alone.\n",
    /*  3 */ "ROVT10646-W A parameter is invalid. parameter = %s\n",
    /*  4 */ "ROVT10648-E An internal error occurred in the vrxpr command. Error Code = %s\n",
    /*  5 */ "ROVT10651-I The user terminated the operation.\n",
    /*  6 */ "ROVT10653-W The entered value is invalid. Please re-enter it [y/n]:",
    /*  7 */ "ROVT10652-E The entered value is invalid. The operation will now stop.\n",
    /*  8 */ "ROVT10655-I Specify the PathID of the LU for which you want to clear persistent reservation information. (To cancel, press the x key):",
    /*  9 */ "ROVT10656-I The persistent reservation information of PathID = %lu will be cleared. Is this OK? [y/n]:",
    /* 10 */ "ROVT10657-I If you continue this process, the reservation of the LU you specified will be cleared. Please confirm that no other servers are accessing this LU. [y/n]:",
    /* 11 */ "ROVT10658-I The persistent reservation information of PathID = %lu was cleared.\n",
    /* 12 */ "ROVT10659-I There is no LU for which persistent reservation information exists.\n",
    /* 13 */ "ROVT10660-I There is no LU managed by VORX.\n",
    /* 14 */ "ROVT10661-E The SCSI command failed. SCSI Code=0x%x, Service Action = 0x%x, Status Code = 0x%x, Error Code = 0x%x, LU = %s\n",
    /* 15 */ "ROVT10662-E Free memory is insufficient.\n",
    /* 16 */ "ROVT10663-W The input value is invalid. Specify the PathID of the LU for you want to clear persistent reservation information. (To cancel: press the x key):",
    /* 17 */ "ROVT10664-E An attempt to acquire Inquiry data failed. PortNo = 0x%x, Error Code = 0x%x\n",
    /* 18 */ "ROVT10668-E An attempt to open a device failed. Device name = %s\n",
    /* 19 */ "ROVT10666-I There is no persistent reservation information for the LU of PathID = %lu. The clear processing will not be executed.\n",
    /* 20 */ "ROVT10667-C An attempt to the get physical drive number failed. LU = %s\n",
    /* 21 */ "ROVT10669-W The utility for clearing VORX persistent reservation (vrxpr) cannot be executed because VORX is installed.\n",
    /* 22 */ "vrxpr.exe [-c | -d | -h]\n"
             "  -c : Clears Persistent Reservation on a specific LU.\n"
             "  -d : Displays Persistent Reservation information for each LU managed\n"
             "       by VORX.\n"
             "  -h : Displays Help.\n"
             "  (No option specified): Displays vrxpr.exe instructions.\n",
    /* 23 */ "This utility is for releasing a Persistent Reserve existing on an LU.\n"
             "When VORX is introduced into an MSCS environment, VORX issues a\n"
             "Persistent Reserve. If VORX is uninstalled while all the cables\n"
             "connecting storage with the host are disconnected, a Persistent Reserve\n"
             "might remain on the LU. If a Persistent Reserve remains, release it by\n"
             "using this utility. Before releasing the Persistent Reserve, make sure\n"
             "that other servers are not using the LU that is the target of the\n"
             "release operation. To view details on how to use the utility, execute\n"
             "\"vrxpr -h\".\n",
    /* 24 */ "ROVT10670-E The persistent reservation information of PathID = %lu changed after it was listed. Nothing was cleared. Run the utility again to see the LU as it is now.\n",
  },
};
