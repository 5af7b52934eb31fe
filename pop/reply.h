// Framing of server replies, fed chunk by chunk as they arrive. Each byte is looked at once and
// the little state needed to find a terminator survives chunk boundaries, so a reply split
// across reads (down to one byte per read) is framed exactly like one that came whole, and
// collecting a 10 MB listing stays linear.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kolvy::pop {

enum class ReplyKind {
    Line,       // POP3 "+OK …" / "-ERR …": one line
    MultiLine,  // POP3 listing: "+OK" line, data lines, "." line; "-ERR" is one line
    Smtp,       // "250-…" lines, then the line whose code is followed by a blank (or nothing)
};

// Finds where one reply ends.
class ReplyFramer {
  public:
    explicit ReplyFramer(ReplyKind kind) : kind_(kind) {}
    // Looks at the bytes that follow what was fed before; returns how many of them belong to
    // the reply (all of them until the end is found). Nothing may be fed after done().
    size_t feed(std::string_view bytes);
    bool done() const { return done_; }
    // The first byte of the reply was '-' (POP3) — the server refused the command.
    bool negative() const { return negative_; }

  private:
    void endOfLine();
    ReplyKind kind_;
    bool done_ = false, negative_ = false;
    bool firstLine_ = true;
    size_t lineLength_ = 0;  // bytes of the current line before its LF
    char lineStart_[4] = {};
    bool lastWasCr_ = false;
};

// A multi-line POP3 reply (RETR, TOP) turned into the text message analysis takes: the status
// line is kept apart, the stuffing dot of every data line that begins with "." is removed
// (RFC 1939), and the text ends with the "." line. It starts with the LF that ended the status
// line. After the removal a data line may itself read "."; the end of the text is its length.
class MultiLineDecoder {
  public:
    // Appends the decoded bytes to `out`; returns how many input bytes belong to this reply.
    size_t feed(std::string_view bytes, std::string& out);
    bool done() const { return state_ == State::Done; }
    bool negative() const { return negative_; }
    // The status line as received, without its line end (cut at kMaxStatusLine bytes).
    const std::string& statusLine() const { return status_; }
    // Input bytes of the reply so far (the size the server's listing speaks of, roughly).
    uint64_t received() const { return received_; }

    // A status line longer than this is cut in statusLine(): the line itself is still consumed.
    static constexpr size_t kMaxStatusLine = 1024;

  private:
    enum class State { Status, LineStart, Middle, Dot, DotCr, Done };
    State state_ = State::Status;
    bool negative_ = false;
    bool statusStarted_ = false;
    std::string status_;
    uint64_t received_ = 0;
};

// ----------------------------------------------------------------------------- judging replies
// A POP3 reply accepts the command when it begins with "+" ("+OK", and "+ " continuations of
// SASL); "-ERR" and anything else refuse it.
bool popAccepted(std::string_view reply);

// The code of an SMTP reply (RFC 5321): the three digits that open its last line, followed by
// a blank or the line end. A code named anywhere else in the text ("550 ... 250 ...") does not
// count. -1 when the last line carries no code (a broken or empty reply).
int smtpReplyCode(std::string_view reply);
// The last line of a reply without its line end.
std::string_view lastReplyLine(std::string_view reply);

}  // namespace kolvy::pop
