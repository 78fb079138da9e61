// The texts the operator reads, as the catalogue words them: the help and
// description (the Japanese ones as UTF-8 text, to be converted by the
// test) and the English messages, each with its arguments put in.
#ifndef VRXPR_TEST_TEXTS_H
#define VRXPR_TEST_TEXTS_H

#include <cstdio>
#include <string>

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

// Message 0.
inline const char kDone[] = "ROVT10640-I The vrxpr utility completed normally.\n";

// Message 1: the options as typed.
inline std::string MsgConflict(const std::string& echo)
{
    return "ROVT10644-W The specified parameters cannot be specified at the same time. parameter = " +
           echo + "\n";
}

// Message 3.
inline std::string MsgInvalid(const std::string& arg)
{
    return "ROVT10646-W A parameter is invalid. parameter = " + arg + "\n";
}

// Message 4: the routine that failed.
inline std::string MsgInternal(const std::string& where)
{
    return "ROVT10648-E An internal error occurred in the vrxpr command. Error Code = " + where + "\n";
}

// Messages 5 to 8, 10, 12, 13, 15, 16 and 21.
inline const char kCancel[] = "ROVT10651-I The user terminated the operation.\n";
inline const char kReenterYn[] = "ROVT10653-W The entered value is invalid. Please re-enter it [y/n]:";
inline const char kStop[] = "ROVT10652-E The entered value is invalid. The operation will now stop.\n";
inline const char kAskPathId[] =
    "ROVT10655-I Specify the PathID of the LU for which you want to clear persistent reservation "
    "information. (To cancel, press the x key):";
inline const char kConfirm2[] =
    "ROVT10657-I If you continue this process, the reservation of the LU you specified will be "
    "cleared. Please confirm that no other servers are accessing this LU. [y/n]:";
inline const char kNoPrLu[] =
    "ROVT10659-I There is no LU for which persistent reservation information exists.\n";
inline const char kNoLu[] = "ROVT10660-I There is no LU managed by VORX.\n";
inline const char kNoMemory[] = "ROVT10662-E Free memory is insufficient.\n";
inline const char kReenterPathId[] =
    "ROVT10663-W The input value is invalid. Specify the PathID of the LU for you want to clear "
    "persistent reservation information. (To cancel: press the x key):";
inline const char kInstalled[] =
    "ROVT10669-W The utility for clearing VORX persistent reservation (vrxpr) cannot be executed "
    "because VORX is installed.\n";

// Message 9.
inline std::string MsgConfirm1(unsigned long pathId)
{
    return "ROVT10656-I The persistent reservation information of PathID = " + std::to_string(pathId) +
           " will be cleared. Is this OK? [y/n]:";
}

// Message 11.
inline std::string MsgCleared(unsigned long pathId)
{
    return "ROVT10658-I The persistent reservation information of PathID = " + std::to_string(pathId) +
           " was cleared.\n";
}

// Message 14: operation code, service action, status byte and system
// error, each in hexadecimal, then the LU name.
inline std::string MsgScsiFailed(unsigned op, unsigned action, unsigned status, unsigned error,
                                 const std::string& lu)
{
    char head[160];
    std::snprintf(head, sizeof head,
                  "ROVT10661-E The SCSI command failed. SCSI Code=0x%x, Service Action = 0x%x, "
                  "Status Code = 0x%x, Error Code = 0x%x, LU = ",
                  op, action, status, error);
    return head + lu + "\n";
}

// Message 17.
inline std::string MsgInquiryFailed(unsigned port, unsigned error)
{
    char text[128];
    std::snprintf(text, sizeof text,
                  "ROVT10664-E An attempt to acquire Inquiry data failed. PortNo = 0x%x, Error Code = 0x%x\n",
                  port, error);
    return text;
}

// Message 18.
inline std::string MsgOpenFailed(const std::string& device)
{
    return "ROVT10668-E An attempt to open a device failed. Device name = " + device + "\n";
}

// Message 19.
inline std::string MsgNoPrOnLu(unsigned long pathId)
{
    return "ROVT10666-I There is no persistent reservation information for the LU of PathID = " +
           std::to_string(pathId) + ". The clear processing will not be executed.\n";
}

// Message 20.
inline std::string MsgNoDrive(const std::string& lu)
{
    return "ROVT10667-C An attempt to the get physical drive number failed. LU = " + lu + "\n";
}

// Message 24.
inline std::string MsgChanged(unsigned long pathId)
{
    return "ROVT10670-E The persistent reservation information of PathID = " + std::to_string(pathId) +
           " changed after it was listed. Nothing was cleared. Run the utility again to see the LU "
           "as it is now.\n";
}

#endif
