#include "shell/run_status.h"

#include <cstdio>

namespace kolvy::shell {
namespace {

constexpr const char* kTexts[kStatusStates] = {
    "     接続中",
    "     接続しました",
    "POPサーバに接続開始",
    "     アカウント送信",
    "     パスワード認証OK",
    "番目のメールを受信しています",
    "通－ダウンロードが完了しました",
    "     メールチェック中",
    "     メールチェックが完了しました",
    "     切断しました",
    "     ハングアップ処理中",
    "新着メールはありません",
    "サーバに接続開始",
    "通のメールを送信しています",
    "通－送信が完了しました",
    "接続完了",
    "     中断処理中（現在のメールは受信します）",
    "サーバ情報の取得",
    "     中断処理中（現在のメールは送信します）",
    "     中断処理中（２０秒程かかることがあります）",
    "番目のメールを削除しています",
    "振り分け実行中",
    "目次データ読み込み中",
    "スレッド作成中 （Ｓｔｅｐ１）",
    "スレッド作成中 （Ｓｔｅｐ２）",
    "表示リスト作成中",
    "目次ファイルの作り直し中",
    "番号の振り直し中",
    "リスト編集中",
    "ごみ箱のメールを削除しています",
};

std::string counted(int a, int b, const char* text) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "     %d / %d %s", a, b, text);
    return buf;
}

}  // namespace

std::string statusText(int state, int current, int total, int received) {
    if (state < 0 || state >= kStatusStates) return {};
    if (state == 5 || state == 13 || state == 14 || state == 20) {
        return counted(current, total, kTexts[state]);
    }
    if (state == 6) return counted(received, total, kTexts[state]);
    return kTexts[state];
}

std::string RunStatus::accountText() {
    return (unattended ? "    " : "") + account;
}

std::string RunStatus::stateText() {
    return statusText(state, current, total, received);
}

RunStatus& runStatus() {
    static RunStatus status;
    return status;
}

}  // namespace kolvy::shell
