#include "pop/notify.h"

#include <cstring>

#include "store/tabs.h"

namespace kolvy::pop {

NoticeOptions readNoticeOptions(platform::Profile& ini) {
    NoticeOptions o;
    auto flag = [&](std::string_view key, bool def) {
        return platform::readInt(ini, "Option", key, def ? 1 : 0) == 1;
    };
    const int64_t dialog = platform::readInt(ini, "Option", "SinchakuDlg", 1);
    o.dialog = dialog >= 0 && dialog <= 2 ? static_cast<int>(dialog) : 1;
    o.onlyWhenArrived = flag("SinchakuDlg0", false);
    o.countAllNew = flag("SinchakuDlg1", false);
    o.sound = flag("SinchakuSound", true);
    o.soundOnlyWhenNew = flag("SinchakuSound0", false);
    o.animate = flag("SinchakuAnime", true);
    o.soundFile = platform::readString(ini, "Option", "SinchakuSoundFile", "sinchaku.wav", 63);
    o.animeFile = platform::readString(ini, "Option", "SinchakuAnimeFile", "sinchaku.bmp", 63);
    o.showList = flag("SinchakuInfo0", true);
    const int64_t pos = platform::readInt(ini, "Option", "TrayDlgSelectPos", 0);
    o.traySelectPos = pos >= 0 && pos <= 2 ? static_cast<int>(pos) : 0;
    o.catFoot = platform::readInt(ini, "TabOption", "CatFoot", 1) == 1;
    return o;
}

void saveShowList(platform::Profile& ini, bool shown) {
    ini.write("Option", "SinchakuInfo0", shown ? "1" : "0");
}

void saveTraySelectPos(platform::Profile& ini, int pos) {
    platform::writeInt(ini, "Option", "TrayDlgSelectPos", pos);
}

bool countedTab(const Tab& tab) {
    return tab.kind != store::kSendTab && !tab.closed && tab.newMailCount > 0;
}

NewMailCounts countNewMail(const Tab* first) {
    NewMailCounts c;
    for (const Tab* t = first; t; t = t->next) {
        if (!countedTab(*t)) continue;
        if (t->newMailInfoDlg) c.notifyTab = true;
        for (const MailItem* m = t->items.next; m; m = m->next) {
            if (m->newMark >= 1) ++c.newCount;
            if (m->newMark == 2) ++c.arrivedCount;
        }
    }
    return c;
}

NoticeDecision decideNotice(const NoticeOptions& o, const NewMailCounts& c, bool runFailed,
                            bool dialogOpen) {
    NoticeDecision d;
    const bool nothingAfterFailure = runFailed && c.arrivedCount == 0;
    d.sound = o.sound && o.dialog == 0 && !nothingAfterFailure &&
              !(o.soundOnlyWhenNew && c.newCount == 0);
    d.dialog = c.notifyTab && o.dialog >= 1 && !dialogOpen && !nothingAfterFailure &&
               !(o.onlyWhenArrived && c.arrivedCount == 0);
    d.openViewers = !d.dialog;
    return d;
}

bool opensViewer(const Tab& tab) {
    return countedTab(tab) && tab.openViewer;
}

int noticeCount(const NoticeOptions& o, const NewMailCounts& c) {
    return o.countAllNew ? c.newCount : c.arrivedCount;
}

std::string noticeText(int count) {
    if (count <= 0) return kNoNewMail;
    return std::to_string(count) + "通の新着メールがあります";
}

std::string noticeTitle(const std::vector<std::string>& orderNames) {
    std::string title = kNoticeTitle;
    for (size_t i = 0; i < orderNames.size() && i < kTitleOrders; ++i)
        title += " " + orderNames[i];
    return title;
}

bool tabBlinks(const Tab& tab) {
    return countedTab(tab);
}

bool anyTabBlinks(const Tab* first) {
    for (const Tab* t = first; t; t = t->next) {
        if (tabBlinks(*t)) return true;
    }
    return false;
}

bool Blinker::start(const Tab* first, bool catFoot) {
    if (running_ || !catFoot || !anyTabBlinks(first)) return false;
    running_ = true;
    phase_ = false;
    return true;
}

Blinker::Step Blinker::tick(const Tab* first, bool inTray, bool runActive) {
    Step s;
    if (!running_) {
        s.stopped = true;
        return s;
    }
    if (!anyTabBlinks(first)) {
        stop();
        return {true, Tray::Normal, true};
    }
    phase_ = !phase_;
    s.redraw = true;
    if (inTray && !runActive) s.tray = phase_ ? Tray::NewMail : Tray::Normal;
    return s;
}

Point placeNotice(Point centre, int width, int height, int screenW, int screenH) {
    Point p{centre.x - 140, centre.y - 65};
    if (p.x < 0) p.x = 3;
    if (p.y < 0) p.y = 4;
    if (p.x + width > screenW) p.x -= width;
    if (p.y + height > screenH) p.y -= height;
    // A dialog wider than the room left of the edge must still start on the screen.
    if (p.x < 3) p.x = 3;
    if (p.y < 4) p.y = 4;
    p.x -= ((p.x - 3) % 4 + 4) % 4;
    p.y -= p.y % 4;
    return p;
}

unsigned frameDelayMs(std::string_view animeFile) {
    const size_t n = animeFile.size();
    if (n >= 6 && animeFile[n - 6] == '_') {
        const char digit = animeFile[n - 5];
        // Only a digit names a delay; "_0" would spin the timer without pause.
        if (digit >= '1' && digit <= '9') return static_cast<unsigned>(digit - '0') * 100;
    }
    return 200;
}

// ----------------------------------------------------------------------------- the bitmap
namespace {

constexpr size_t kFileHeader = 14;
constexpr size_t kInfoHeader = 40;
// Big enough for any picture of the notice (the box is 124 pixels), small enough that a hostile
// header cannot make the drawing allocate or walk gigabytes.
constexpr int32_t kMaxWidth = 1024;
constexpr int32_t kMaxRows = 65536;

uint32_t le32(std::string_view s, size_t at) {
    const auto* b = reinterpret_cast<const unsigned char*>(s.data() + at);
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}
uint16_t le16(std::string_view s, size_t at) {
    const auto* b = reinterpret_cast<const unsigned char*>(s.data() + at);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

// The info header's size: the plain one and its longer later forms (their extra fields are
// colour-space data the drawing never reads).
bool knownInfoSize(uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

}  // namespace

std::optional<AnimationBitmap> readAnimationBitmap(std::string_view file) {
    if (file.size() < kFileHeader + kInfoHeader || file[0] != 'B' || file[1] != 'M')
        return std::nullopt;
    const uint64_t pixelsAt = le32(file, 10);
    const uint32_t infoSize = le32(file, 14);
    if (!knownInfoSize(infoSize) || kFileHeader + uint64_t{infoSize} > file.size())
        return std::nullopt;
    const int32_t width = static_cast<int32_t>(le32(file, 18));
    const int32_t height = static_cast<int32_t>(le32(file, 22));
    const uint16_t planes = le16(file, 26);
    const uint16_t bits = le16(file, 28);
    const uint32_t compression = le32(file, 30);
    const uint32_t used = le32(file, 46);
    if (planes != 1 || compression != 0) return std::nullopt;  // no RLE or bit fields
    if (bits != 4 && bits != 8 && bits != 16 && bits != 24) return std::nullopt;
    // INT32_MIN has no positive counterpart: the bound test comes before any negation.
    if (width < 1 || width > kMaxWidth || height == 0 || height < -kMaxRows || height > kMaxRows)
        return std::nullopt;
    AnimationBitmap b;
    b.width = width;
    b.rows = height < 0 ? -height : height;
    b.topDown = height < 0;
    b.bitCount = bits;
    b.frames = b.rows / width;
    if (b.frames == 0) return std::nullopt;
    b.colourTable = kFileHeader + infoSize;
    if (bits <= 8) {
        const uint32_t most = 1u << bits;
        if (used > most) return std::nullopt;
        b.colours = used ? used : most;
    }
    const uint64_t tableEnd = b.colourTable + uint64_t{b.colours} * 4;
    const uint64_t stride = (uint64_t{static_cast<uint32_t>(width)} * bits + 31) / 32 * 4;
    const uint64_t pixelBytes = stride * static_cast<uint64_t>(b.rows);
    if (pixelsAt < tableEnd || pixelsAt > file.size() || pixelBytes > file.size() - pixelsAt)
        return std::nullopt;
    b.pixels = static_cast<size_t>(pixelsAt);
    b.stride = static_cast<size_t>(stride);
    return b;
}

std::string frameRows(std::string_view file, const AnimationBitmap& b, int index) {
    if (index < 0 || index >= b.frames) return {};
    const size_t w = static_cast<size_t>(b.width);
    std::string out;
    out.reserve(b.stride * w);
    // Bottom-up output: its first row is the frame's lowest.
    for (size_t r = 0; r < w; ++r) {
        const size_t fromTop = static_cast<size_t>(index) * w + (w - 1 - r);
        const size_t stored = b.topDown ? fromTop : static_cast<size_t>(b.rows) - 1 - fromTop;
        out.append(file.substr(b.pixels + stored * b.stride, b.stride));
    }
    return out;
}

}  // namespace kolvy::pop
