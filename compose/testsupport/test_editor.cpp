// A stand-in for the user's editor in the composer's tests. Each start takes the next action of
// KOLVY_TEST_EDITOR_ACTIONS (";"-separated; the last one repeats), appends the argument it got to
// the log file KOLVY_TEST_EDITOR_LOG, and does it to the file named by its only argument:
//   keep            leave the file as it is
//   append=TEXT     add TEXT and CR LF at the end
//   set=NAME=VALUE  give the header line NAME: (or a new one) the value VALUE
//   drop=NAME       remove the header line NAME:
//   fail            exit with code 3 without touching the file
// Several actions joined by "|" are done in one start.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::istringstream in(s + sep);
    for (std::string part; std::getline(in, part, sep);)
        out.push_back(part);
    return out;
}

// The header line "NAME:" (after the status line, before the blank line): its start and end.
bool findHeader(const std::string& text, const std::string& name, size_t& start, size_t& end) {
    size_t pos = text.find('\n');  // the status line
    pos = pos == std::string::npos ? 0 : pos + 1;
    while (pos < text.size() && text[pos] != '\r' && text[pos] != '\n') {
        size_t eol = text.find('\n', pos);
        eol = eol == std::string::npos ? text.size() : eol + 1;
        if (text.compare(pos, name.size() + 1, name + ":") == 0) {
            start = pos;
            end = eol;
            return true;
        }
        pos = eol;
    }
    start = end = pos;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const char* log = std::getenv("KOLVY_TEST_EDITOR_LOG");
    const char* actionsEnv = std::getenv("KOLVY_TEST_EDITOR_ACTIONS");
    int round = 0;
    if (log) {
        std::ifstream in(log, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            ++round;
        std::ofstream(log, std::ios::binary | std::ios::app) << argv[1] << "\n";
    }
    const std::vector<std::string> actions = split(actionsEnv ? actionsEnv : "keep", ';');
    const std::string action = actions[std::min<size_t>(round, actions.size() - 1)];
    if (action == "fail") return 3;
    if (action == "keep") return 0;
    std::ifstream in(argv[1], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    for (const std::string& one : split(action, '|')) {
        if (one.rfind("append=", 0) == 0) {
            text += one.substr(7) + "\r\n";
        } else if (one.rfind("set=", 0) == 0) {
            const std::vector<std::string> parts = split(one.substr(4), '=');
            size_t start = 0, end = 0;
            const std::string line = parts[0] + ": " + (parts.size() > 1 ? parts[1] : "") + "\r\n";
            if (findHeader(text, parts[0], start, end)) {
                text.replace(start, end - start, line);
            } else {
                text.insert(start, line);
            }
        } else if (one.rfind("drop=", 0) == 0) {
            size_t start = 0, end = 0;
            if (findHeader(text, one.substr(5), start, end)) text.erase(start, end - start);
        } else {
            return 4;
        }
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << text;
    return out ? 0 : 5;
}
