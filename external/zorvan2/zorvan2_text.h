// The texts the SSL library gives its callers to log or show.
#pragma once

#include <string>

namespace zorvan2 {

inline const std::string kTextNoSocket = "SSL接続するソケットがありません。";
inline const std::string kTextSetupFailed = "SSLの準備に失敗しました。";
inline const std::string kTextHandshakeFailed = "SSLネゴシエーションに失敗しました。";
inline const std::string kTextCertRefused = "サーバ証明書を検証できないため接続を中止しました。（";
inline const std::string kTextCertAccepted =
    "サーバ証明書を検証できませんが、設定により接続します。（";
inline const std::string kTextEstablished = "SSL接続しました。（";
inline const std::string kTextClose = "）";
inline const std::string kTextNotConnected = "SSL接続されていません。";
inline const std::string kTextWriteFailed = "SSLの送信に失敗しました。";
inline const std::string kTextReadFailed = "SSLの受信に失敗しました。";

}  // namespace zorvan2
