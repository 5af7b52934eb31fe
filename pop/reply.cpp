#include "pop/reply.h"

namespace kolvy::pop {

void ReplyFramer::endOfLine() {
    const size_t n = lineLength_ - (lastWasCr_ ? 1 : 0);  // without CR
    switch (kind_) {
        case ReplyKind::Line:
            done_ = true;
            break;
        case ReplyKind::MultiLine:
            if (firstLine_) {
                // "-ERR" ends the reply at once; "+OK" opens the listing.
                if (negative_) done_ = true;
            } else if (n == 1 && lineStart_[0] == '.') {
                done_ = true;
            }
            break;
        case ReplyKind::Smtp: {
            const bool coded = n >= 3 && lineStart_[0] >= '0' && lineStart_[0] <= '9' &&
                               lineStart_[1] >= '0' && lineStart_[1] <= '9' &&
                               lineStart_[2] >= '0' && lineStart_[2] <= '9';
            // Only "ddd-" continues; anything else is the last line.
            if (!(coded && n >= 4 && lineStart_[3] == '-')) done_ = true;
            break;
        }
    }
    firstLine_ = false;
    lineLength_ = 0;
    lastWasCr_ = false;
}

size_t ReplyFramer::feed(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size() && !done_) {
        const char c = bytes[i++];
        if (firstLine_ && lineLength_ == 0 && c == '-') negative_ = true;
        if (c == '\n') {
            endOfLine();
            continue;
        }
        if (lineLength_ < sizeof lineStart_) lineStart_[lineLength_] = c;
        ++lineLength_;
        lastWasCr_ = c == '\r';
    }
    return i;
}

size_t MultiLineDecoder::feed(std::string_view bytes, std::string& out) {
    size_t i = 0;
    // Runs of ordinary bytes are copied in one piece.
    while (i < bytes.size() && state_ != State::Done) {
        const char c = bytes[i];
        switch (state_) {
            case State::Status:
                ++i;
                if (!statusStarted_) {
                    statusStarted_ = true;
                    negative_ = c == '-';
                }
                if (c == '\n') {
                    if (!status_.empty() && status_.back() == '\r') status_.pop_back();
                    if (negative_) {
                        state_ = State::Done;
                    } else {
                        out.push_back('\n');
                        state_ = State::LineStart;
                    }
                } else if (status_.size() < kMaxStatusLine) {
                    status_.push_back(c);
                }
                break;
            case State::LineStart:
                if (c == '.') {
                    ++i;
                    state_ = State::Dot;
                    break;
                }
                state_ = State::Middle;
                [[fallthrough]];
            case State::Middle: {
                const size_t lf = bytes.find('\n', i);
                const size_t end = lf == std::string_view::npos ? bytes.size() : lf + 1;
                out.append(bytes.data() + i, end - i);
                i = end;
                if (lf != std::string_view::npos) state_ = State::LineStart;
                break;
            }
            case State::Dot:
                if (c == '\n') {
                    // ".\n" ends the reply as it ends it for the framer; kept in the form the
                    // callers look for.
                    ++i;
                    out.append(".\r\n");
                    state_ = State::Done;
                } else if (c == '\r') {
                    ++i;
                    state_ = State::DotCr;
                } else if (c == '.') {
                    // The stuffing dot: keep one.
                    ++i;
                    out.push_back('.');
                    state_ = State::Middle;
                } else {
                    // An unstuffed dot line from a careless server: keep it as it came.
                    out.push_back('.');
                    state_ = State::Middle;
                }
                break;
            case State::DotCr:
                if (c == '\n') {
                    ++i;
                    out.append(".\r\n");
                    state_ = State::Done;
                } else {
                    out.append(".\r");
                    state_ = State::Middle;
                }
                break;
            case State::Done:
                break;
        }
    }
    received_ += i;
    return i;
}

bool popAccepted(std::string_view reply) {
    return !reply.empty() && reply[0] == '+';
}

std::string_view lastReplyLine(std::string_view reply) {
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) {
        reply.remove_suffix(1);
    }
    const size_t lf = reply.rfind('\n');
    std::string_view line = lf == std::string_view::npos ? reply : reply.substr(lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

int smtpReplyCode(std::string_view reply) {
    const std::string_view line = lastReplyLine(reply);
    if (line.size() < 3) return -1;
    int code = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') return -1;
        code = code * 10 + (line[i] - '0');
    }
    if (line.size() > 3 && line[3] != ' ') return -1;
    return code;
}

}  // namespace kolvy::pop
