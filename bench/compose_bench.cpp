// Expanding the reply template: one message with a 1 MB body to quote, and 10,000 stored messages
// in turn, against Python's email parser and a string.Template reply over the same messages
// (timed inside Python, so its start-up is not counted).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "compose/expand.h"

namespace kolvy {
namespace {

constexpr char kStatus[] = "\f st=0.3.0.0 dt=2612071030 rd=all               \r\n";

std::string message(int n, size_t bodyBytes) {
    std::string m = "From: Sender " + std::to_string(n) + " <s" + std::to_string(n) +
                    "@example.com>\r\nTo: me@example.jp\r\nSubject: Report number " +
                    std::to_string(n) + "\r\nMessage-ID: <m" + std::to_string(n) +
                    "@example.com>\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n\r\n";
    const std::string line = "The quick brown fox jumps over the lazy dog, line of the body.\r\n";
    while (m.size() < bodyBytes)
        m += line;
    return m;
}

const char kPeer[] = R"PY(
import email, email.policy, os, string, sys, time
paths = [os.path.join(sys.argv[2], '%d.eml' % i) for i in range(int(sys.argv[3]))]
texts = [open(p, 'rb').read() for p in paths]
rounds = int(sys.argv[1])
header = string.Template('From: $to\r\nTo: $replyto\r\nSubject: Re: $subject\r\n'
                         'In-Reply-To: $mid\r\nReferences: $mid\r\n\r\n$fromname\r\n\r\n$body')
best = 1e300
for _ in range(rounds):
    t0 = time.perf_counter()
    for t in texts:
        m = email.message_from_bytes(t, policy=email.policy.compat32)
        body = m.get_payload()
        quoted = ''.join('>' + l + '\r\n' for l in body.rstrip('\r\n').split('\r\n'))
        header.substitute(to='Me <me@example.jp>', replyto=m['From'], subject=m['Subject'] or '',
                          mid=m['Message-ID'] or '', fromname=m['From'], body=quoted)
    best = min(best, time.perf_counter() - t0)
print(best)
)PY";

double peerSeconds(const std::string& folder, size_t count, int rounds) {
    char dir[] = "/tmp/kolvy-compose-bench-XXXXXX";
    if (!mkdtemp(dir)) return -1;
    const std::string script = std::string(dir) + "/peer.py";
    std::ofstream(script) << kPeer;
    const std::string command = "python3 " + script + " " + std::to_string(rounds) + " " + folder +
                                " " + std::to_string(count);
    FILE* pipe = popen(command.c_str(), "r");
    double seconds = -1;
    if (pipe) {
        if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = -1;
        pclose(pipe);
    }
    std::remove(script.c_str());
    rmdir(dir);
    return seconds;
}

void run(const std::string& name, const std::vector<std::string>& messages, int rounds) {
    char dir[] = "/tmp/kolvy-compose-msgs-XXXXXX";
    if (!mkdtemp(dir)) return;
    std::vector<std::string> paths, files;
    for (size_t i = 0; i < messages.size(); ++i) {
        paths.push_back(std::string(dir) + "/" + std::to_string(i) + ".eml");
        std::ofstream(paths.back(), std::ios::binary) << messages[i];
        files.push_back(kStatus + messages[i]);
    }
    Account account{};
    std::snprintf(account.fromName, sizeof account.fromName, "Me");
    std::snprintf(account.mailAddress, sizeof account.mailAddress, "me@example.jp");
    compose::ExpandContext context;
    context.accounts = &account;
    context.paneAccount = &account;
    const compose::Template t = compose::defaultTemplate(compose::kReplyTemplate);
    size_t total = 0;
    const double kolvy = bench::bestSeconds(
        [&] {
            for (const std::string& f : files) {
                auto m = compose::SourceMessage::fromFile(f);
                compose::DraftRequest r;
                r.tmpl = &t;
                r.source = m.get();
                total += compose::replyDraft(r, context).size();
            }
        },
        rounds);
    const double peer = peerSeconds(dir, paths.size(), rounds);
    for (const std::string& p : paths)
        std::remove(p.c_str());
    rmdir(dir);
    if (total == 0 || peer <= 0) std::fprintf(stderr, "%s: no result\n", name.c_str());
    bench::printLine(name, kolvy * 1e3, peer * 1e3, "ms", peer / kolvy);
}

}  // namespace
}  // namespace kolvy

int main() {
    kolvy::run("compose_reply_1mb_body", {kolvy::message(0, 1u << 20)}, 5);
    std::vector<std::string> many;
    for (int i = 0; i < 10000; ++i)
        many.push_back(kolvy::message(i, 1500));
    kolvy::run("compose_reply_10000_messages", many, 3);
}
