// One mail transaction of the SMTP session: MAIL, RCPT per recipient, DATA, the text, the end.
#include <algorithm>
#include <cstdio>

#include "core/sjis.h"
#include "external/ssl_binding.h"
#include "pop/reply.h"
#include "report/logs.h"
#include "report/report.h"
#include "smtp/session.h"

namespace kolvy::smtp {
namespace {

using pop::SendCommand;
using pop::smtpReplyCode;

constexpr size_t kEndOfDataCapacity = 512;
// The text goes out in writes of whole lines of about this size.
constexpr size_t kWriteSize = 32768;

// 251: the server takes the recipient and forwards (RFC 5321).
bool recipientAccepted(int code) {
    return code == 250 || code == 251;
}

}  // namespace

int Session::send(std::string_view message, const std::vector<std::string>& recipients, int current,
                  int total) {
    const std::string from(sjis::fieldView(account_.mailAddress));
    std::string reply;
    // "MAIL FROM:<addr>": no blank after the colon, which strict servers refuse.
    if (SendCommand(conn_, reply, "MAIL", "FROM:<" + from + ">") != 0) return 1;
    if (smtpReplyCode(reply) != 250) {
        fail(from + "で送信時、MAIL FROM:コマンドに対してエラーが発生しました。\r\n" + reply,
             "MAIL FROM:コマンドに対してエラーが発生しました。   ");
        return 1;
    }
    int accepted = 0;
    for (const std::string& to : recipients) {
        if (SendCommand(conn_, reply, "RCPT", "TO:<" + to + ">") != 0) return 1;
        if (recipientAccepted(smtpReplyCode(reply))) {
            ++accepted;
            continue;
        }
        fail(to + "がサーバにより拒否されました。\r\n" + reply,
             "相手先アドレス「 " + to + " 」がサーバにより拒否されました。    \n");
    }
    if (accepted == 0) {
        // Nothing to deliver: the transaction is reset so the connection stays in step.
        SendCommand(conn_, reply, "RSET", std::nullopt);
        return 1;
    }
    if (SendCommand(conn_, reply, "DATA", std::nullopt) != 0) return 1;
    if (smtpReplyCode(reply) != 354) {
        fail("DATAコマンドに対してエラーが発生しました。\r\n" + reply,
             "DATAコマンドに対してエラーが発生しました。   ");
        return 1;
    }
    // The end-of-data line travels with the last piece of text: a write of its own would wait
    // for the server's delayed acknowledgement of the one before.
    std::string data = dataText(message);
    data += ".\r\n";
    if (transmit(data, current, total) != 0) return 1;
    return endOfData();
}

int Session::transmit(std::string_view data, int current, int total) {
    bool stopShown = false;
    size_t sent = 0;
    std::string why;
    while (sent < data.size()) {
        // Whole lines: the last CR LF within the next kWriteSize bytes (or the line's own end).
        size_t end = std::min(data.size(), sent + kWriteSize);
        if (end < data.size()) {
            const size_t lf = data.rfind('\n', end - 1);
            if (lf != std::string_view::npos && lf >= sent) {
                end = lf + 1;
            } else {
                const size_t next = data.find('\n', end);
                end = next == std::string_view::npos ? data.size() : next + 1;
            }
        }
        if (!conn_.writeLine(std::string(data.substr(sent, end - sent)), why)) {
            if (!why.empty()) {
                fail(why, why);
            } else {
                fail("エラーが発生し、送信が中断されました。",
                     "エラーが発生し、送信が中断されました。    ");
            }
            return 1;
        }
        sent = end;
        // A stop request lets the message finish: it is shown once.
        if (!stopShown && observer_.stopRequested()) {
            observer_.status(kStatusStopping);
            stopShown = true;
        }
        const int percent = static_cast<int>(std::min<uint64_t>(100, sent * 100 / data.size()));
        observer_.progress(current, total, percent);
    }
    return 0;
}

int Session::endOfData() {
    std::string reply;
    const pop::ReceiveFailure got =
        pop::ReadReply(conn_, reply, pop::ReplyKind::Smtp, kEndOfDataCapacity);
    if (got == pop::ReceiveFailure::TooLong) {
        fail("送信終了に対するサーバからの返事が返ってきません。",
             "サーバから送信終了に対する返事が返ってきません。    ");
        conn_.close();
        return 1;
    }
    if (got != pop::ReceiveFailure::None) {
        fail("送信終了に対するサーバの返事を受信中、ソケットエラーが発生しました。",
             "送信終了に対するサーバの返事を受信中、ソケットエラーが発生しました。    ");
        conn_.close();
        return 1;
    }
    if (smtpReplyCode(reply) == 250) {
        // With the transaction's lines, in the same append.
        if (report::logsFailures(env_)) pending_ += "送信完了\r\n" + reply;
        return 0;
    }
    fail("送信に対しサーバがエラーを返しました。   \r\n" + reply,
         "送信に対しサーバがエラーを返しました。   \r\n" + reply);
    return 1;
}

}  // namespace kolvy::smtp
