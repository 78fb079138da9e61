// The fixed texts of the help and description, as the operator reads
// them (the Japanese ones as UTF-8 text, to be converted by the test).
#ifndef VRXPR_TEST_TEXTS_H
#define VRXPR_TEST_TEXTS_H

inline const char kHelpEn[] =
    "vrxpr.exe [-c | -d | -h]\n"
    "  -c : Clears Persistent Reservation on a specific LU.\n"
    "  -d : Displays Persistent Reservation information for each LU managed\n"
    "       by VORX.\n"
    "  -h : Displays Help.\n"
    "  (No option specified): Displays vrxpr.exe instructions.\n";

inline const char kDescriptionEn[] =
    "This utility is for releasing a Persistent Reserve existing on an LU.\n"
    "When VORX is introduced into an MSCS environment, VORX issues a\n"
    "Persistent Reserve. If VORX is uninstalled while all the cables\n"
    "connecting storage with the host are disconnected, a Persistent Reserve\n"
    "might remain on the LU. If a Persistent Reserve remains, release it by\n"
    "using this utility. Before releasing the Persistent Reserve, make sure\n"
    "that other servers are not using the LU that is the target of the\n"
    "release operation. To view details on how to use the utility, execute\n"
    "\"vrxpr -h\".\n";

inline const char kHelpJa[] =
    "vrxpr.exe [-c | -d | -h]\n"
    "  -c : 特定の LU に対して Persistent Reservation 情報をクリアします。\n"
    "  -d : VORX 管理対象 LU の Persistent Reservation 情報を一覧表示します。\n"
    "  -h : ヘルプを表示します。\n"
    "  (オプション指定なし) : vrxpr.exe の説明を表示します。\n";

inline const char kDescriptionJa[] =
    "  本ユティリティは、LU に存在している Persistent Reserve を解除するため\n"
    "のものです。MSCS 環境で VORX を導入した場合、VORX が Persistent Reserve \n"
    "を発行します。ホストとストレージを接続しているケーブルをすべて断線させた\n"
    "まま VORX をアンインストールした場合、Persistent Reserve が LU に残った\n"
    "ままとなる場合があります。このような場合、本ユティリティを使用して \n"
    "Persistent Reserve を解除してください。解除する場合、他のサーバから解除\n"
    "対象の LU が使用されていないことを確認した後、本ユティリティを使用してく\n"
    "ださい。ユティリティの使用方法は vrxpr -h を実行して確認してください。\n";

#endif
