#include "plugins/viewer-settings/script_logic.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "tests/support/test_env.h"

namespace {

using namespace kolvy;
using namespace kolvy::viewer;

struct Scripts {
    ViewScriptNode head{};
    ~Scripts() { freeScripts(head); }
    ViewScriptNode* add(const char* address, uint32_t bk = 0) {
        auto* n = viewerNew<ViewScriptNode>();
        sjis::copyField(n->address, address);
        n->viewBkColor = bk;
        listAppend(head, n);
        return n;
    }
    static ViewEffect* effect(ViewScriptNode* n, const EffectForm& f) {
        auto* e = viewerNew<ViewEffect>();
        e->topBottomPad = 2;
        e->leftRightPad = 3;
        applyForm(f, *e);
        listAppend(n->effects, e);
        return e;
    }
};

EffectForm box(const char* begin, const char* end, uint32_t colour) {
    EffectForm f;
    f.beginLine = begin;
    f.endLine = end;
    f.textColor = colour;
    return f;
}

TEST(ViewScriptFile, WritesTheBlocksOfEachAddress) {
    Scripts s;
    ViewScriptNode* a = s.add("news@example.jp");
    EffectForm hl;
    hl.highlight = "重要";
    hl.textColor = 0xff;
    hl.fontSizeIndex = 4;  // "10.5"
    hl.bold = true;
    Scripts::effect(a, hl);
    EffectForm b = box("---", "", 0x123456);
    b.edgeType = 1;
    b.textBkColor = 0xabcdef;
    Scripts::effect(a, b);
    s.add("b@example.com", 0x00ff00);
    EXPECT_EQ(formatScripts(s.head),
              "Address:news@example.jp\r\n\r\nViewBkColor:0xffffff\r\n\r\n"
              "BeginLine:\r\nEndLine:\r\nString:重要\r\nSize:10\r\nBold:1\r\nItalic:0\r\n"
              "TextColor:0xff\r\nTxtBkColor:0xffffff\r\nEdgeType:Rectangle\r\n"
              "Top_BottomPad:2\r\nLeft_RightPad:3\r\n\r\n"
              "BeginLine:---\r\nEndLine:\r\nString:\r\nSize:14\r\nBold:0\r\nItalic:0\r\n"
              "TextColor:0x123456\r\nTxtBkColor:0xabcdef\r\nEdgeType:RoundRectangle\r\n"
              "Top_BottomPad:2\r\nLeft_RightPad:3\r\n\r\n"
              "Address:b@example.com\r\n\r\nViewBkColor:0xff00\r\n\r\n");
}

TEST(ViewScriptFile, ReadsBackWhatItWrote) {
    Scripts s;
    ViewScriptNode* a = s.add("表示@example.jp", 0x102030);
    Scripts::effect(a, box("開始", "終了", 0x1));
    EffectForm hl;
    hl.highlight = "ソ表";  // trail bytes 0x5C
    hl.textBkColor = 0xffee00;
    hl.italic = true;
    hl.fontSizeIndex = 10;
    Scripts::effect(a, hl);
    const std::string text = formatScripts(s.head);
    Scripts back;
    ASSERT_TRUE(parseScripts(text, back.head));
    EXPECT_EQ(formatScripts(back.head), text);
    EXPECT_EQ(effectCount(*back.head.next), 2);
}

TEST(ViewScriptFile, FieldsWithLineBreaksStayOnTheirLine) {
    Scripts s;
    ViewScriptNode* a = s.add("a@example.jp\r\nAddress:evil@example.jp");
    Scripts::effect(a, box("x\nBold:1", "", 1));
    const std::string text = formatScripts(s.head);
    Scripts back;
    ASSERT_TRUE(parseScripts(text, back.head));
    EXPECT_EQ(listSize(back.head), 1u);
    EXPECT_EQ(std::string(back.head.next->address), "a@example.jp");
    EXPECT_EQ(std::string(back.head.next->effects.next->beginLine), "x");
    EXPECT_EQ(back.head.next->effects.next->bold, 0);
}

TEST(ViewScriptFile, DamagedFilesAreReadSafely) {
    const std::string longText(300, 'x');
    const std::string cut = std::string(126, 'a') + "字字";
    struct Case {
        std::string text;
        size_t addresses;
        int effects;  // of the first address
    } cases[] = {
        {"", 0, 0},
        {"garbage\r\n\x81", 0, 0},
        {"Bold:1\r\nBeginLine:x\r\n", 0, 0},  // nothing before an address
        {"Address:" + longText + "\r\nString:" + longText, 1, 1},
        {"Address:a\nSize:-7\nBold:99\nTextColor:0xfffffffff\nEdgeType:?\nTop_BottomPad:z", 1, 1},
        {"Address:a\r\nBeginLine:1\r\nBeginLine:2\r\nBeginLine:3\r\nNoSuchKey:1", 1, 3},
        {"Address:" + cut + "\r\nBeginLine:" + cut, 1, 1},
        {"Address:a\r\n\r\nAddress:b\r\nUnknown:1", 2, 0},
        {std::string("Address:\0\0:\r\nString:\x81", 22), 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        Scripts s;
        ASSERT_TRUE(parseScripts(c.text, s.head));
        EXPECT_EQ(listSize(s.head), c.addresses);
        if (!c.addresses) continue;
        ViewScriptNode& first = *s.head.next;
        EXPECT_EQ(effectCount(first), c.effects);
        EXPECT_LT(std::strlen(first.address), sizeof first.address);
        for (ViewEffect* e = first.effects.next; e; e = e->next) {
            EXPECT_LT(std::strlen(e->beginLine), sizeof e->beginLine);
            EXPECT_LT(std::strlen(e->highlight), sizeof e->highlight);
            EXPECT_TRUE(e->fontSize >= 8 && e->fontSize <= 20) << e->fontSize;
            EXPECT_TRUE(e->bold == 0 || e->bold == 1);
            EXPECT_TRUE(e->edgeType == 0 || e->edgeType == 1);
            EXPECT_LE(e->textColor, 0xffffffu);
        }
        // What was read can be written again and reads back the same.
        Scripts again;
        ASSERT_TRUE(parseScripts(formatScripts(s.head), again.head));
        EXPECT_EQ(formatScripts(again.head), formatScripts(s.head));
    }
}

TEST(ViewScriptFile, TextsAreCutAtACharacterBoundary) {
    Scripts s;
    const std::string cut = std::string(126, 'a') + "字字";
    ASSERT_TRUE(parseScripts("Address:" + cut + "\r\nBeginLine:" + cut, s.head));
    EXPECT_EQ(std::string(s.head.next->address), std::string(126, 'a'));
    EXPECT_EQ(std::string(s.head.next->effects.next->beginLine), std::string(126, 'a'));
    EffectForm f;
    f.highlight = std::string(125, 'b') + "字字";
    ViewEffect e{};
    applyForm(f, e);
    EXPECT_EQ(std::string(e.highlight), std::string(125, 'b') + "字");
}

TEST(ViewScriptFile, SaveReplacesTheFileAndThenClearsTheFolder) {
    test::TestEnv t;
    const std::string folder = t.path("_ViewScript");
    t.write("_ViewScript\\ViewScript.txt", "old");
    t.write("_ViewScript\\stray.txt", "x");
    t.write("_ViewScript\\ViewScript.tmp", "left by a crash");
    ASSERT_TRUE(t.fs->makeDir(t.path("_ViewScript\\sub")) == Err::None);
    EXPECT_EQ(saveScriptFile(*t.fs, folder, "new"), SaveFailure::None);
    EXPECT_EQ(t.read("_ViewScript\\ViewScript.txt"), "new");
    auto entries = t.fs->list(folder);
    ASSERT_TRUE(entries);
    std::vector<std::string> names;
    for (const auto& e : *entries)
        names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ViewScript.txt", "sub"}));
}

TEST(ViewScriptFile, AFailedSaveDeletesNothing) {
    test::TestEnv t;
    // The file's name is taken by a folder: the new file cannot be moved into place.
    ASSERT_EQ(platform::makeDirs(*t.fs, t.path("_ViewScript\\ViewScript.txt")), Err::None);
    t.write("_ViewScript\\other.txt", "keep");
    EXPECT_NE(saveScriptFile(*t.fs, t.path("_ViewScript"), "new"), SaveFailure::None);
    EXPECT_EQ(t.read("_ViewScript\\other.txt"), "keep");
    EXPECT_FALSE(t.fs->exists(t.path("_ViewScript\\ViewScript.tmp")));
    EXPECT_EQ(saveScriptFile(*t.fs, t.path("missing"), "new"), SaveFailure::Open);
}

struct CheckCase {
    const char* name;
    EffectForm form;
    bool selectFirst;
    const char* message;
    Focus focus;
    bool ask;
};

EffectForm form(const char* address, const char* begin, const char* end, const char* hl,
                bool colour = true) {
    EffectForm f;
    f.address = address;
    f.beginLine = begin;
    f.endLine = end;
    f.highlight = hl;
    if (colour) f.textBkColor = 0xff;
    return f;
}

TEST(ViewScriptChecks, RegisterChecksInOrder) {
    Scripts s;
    s.add("a@example.jp");
    s.add("b@example.jp");
    const CheckCase cases[] = {
        {"empty address", form("", "x", "", "y", false), false,
         "「アドレス」が記入されていません。   ", Focus::Address, false},
        {"lines and highlight", form("c", "", "e", "h", false), false,
         "「開始行文字列」「終了行文字列」と「選択文字列」は同時に設定できません。"
         "設定を分けてください。   ",
         Focus::Texts, false},
        {"end only", form("c", "", "e", "", false), false,
         "「終了行文字列」のみの設定はできません。   ", Focus::Texts, false},
        {"no text", form("c", "", "", "", false), false, "記入されていない項目があります。   ",
         Focus::Texts, false},
        {"one colour is enough", form("c", "s", "", ""), false, nullptr, Focus::None, false},
        {"no colour at all", form("c", "s", "", "", false), false, "色が設定されていません。   ",
         Focus::Colour, false},
        {"same address, other node", form("B@example.jp", "s", "", ""), true,
         "同一のアドレスが存在します。    ", Focus::Address, false},
        {"new address taken", form("a@example.jp", "", "", "h"), false,
         "同一のアドレスが存在します。    ", Focus::Address, false},
        {"renamed", form("z@example.jp", "s", "", ""), true, nullptr, Focus::None, true},
        {"unchanged", form("a@example.jp", "s", "", ""), true, nullptr, Focus::None, false},
        {"start without end is a box", form("n@example.jp", "s", "", ""), false, nullptr,
         Focus::None, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RegisterCheck r =
            checkRegister(c.form, s.head, c.selectFirst ? s.head.next : nullptr);
        EXPECT_STREQ(r.message, c.message);
        EXPECT_EQ(r.focus, c.focus);
        EXPECT_EQ(r.askRename, c.ask);
    }
}

TEST(ViewScriptChecks, StoredEffectLoadsIntoTheForm) {
    ViewEffect e{};
    e.fontSize = 0;  // counts as 14
    e.edgeType = 7;
    e.textColor = 0x10;
    e.textBkColor = 0x20;
    std::memset(e.highlight, 'h', sizeof e.highlight);  // unterminated
    const EffectForm f = formOf(e);
    EXPECT_EQ(f.fontSizeIndex, kDefaultFontIndex);
    EXPECT_EQ(f.edgeType, 0);
    EXPECT_EQ(f.highlight.size(), sizeof e.highlight);
    EXPECT_EQ(f.textColor, 0x10u);
}

TEST(ViewScriptColours, CustomColoursRoundTripAndSurviveDamage) {
    test::TestEnv t;
    auto ini = platform::makeProfile(t.path("Ombrel.ini"));
    std::array<uint32_t, 16> colours{};
    for (int i = 0; i < 16; ++i)
        colours[i] = 0x010101u * static_cast<uint32_t>(i);
    ASSERT_EQ(writeCustomColours(*ini, colours), Err::None);
    EXPECT_EQ(ini->read("CustColors", "15"), "0xf0f0f");
    EXPECT_EQ(readCustomColours(*ini), colours);
    t.write("Ombrel.ini", "[CustColors]\r\n0=zz\r\n1=-5\r\n2=0xffffffffffff\r\n3=\r\n");
    auto damaged = platform::makeProfile(t.path("Ombrel.ini"));
    const auto read = readCustomColours(*damaged);
    EXPECT_EQ(read[0], 0u);
    EXPECT_EQ(read[1], 0u);
    EXPECT_EQ(read[2], 0xffffffu);
    EXPECT_EQ(read[3], 0xffffffu);
    EXPECT_EQ(read[4], 0xffffffu);
}

}  // namespace
