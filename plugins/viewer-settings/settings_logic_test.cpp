#include "plugins/viewer-settings/settings_logic.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/list.h"
#include "tests/support/test_env.h"

namespace {

using namespace kolvy;
using namespace kolvy::viewer;

struct KeyCase {
    unsigned vk;
    bool shift, ctrl;
    int code;
    const char* text;
};

TEST(ViewerKeys, CodesAndTexts) {
    const KeyCase cases[] = {
        {'K', true, true, 2075, "Ctrl+K"},  // Ctrl wins over Shift
        {'K', false, true, 2075, "Ctrl+K"}, {'N', true, false, 1078, "Shift+N"},
        {'Q', false, false, 81, "Q"},       {46, true, false, 1046, "Shift+Delete"},
        {112, false, false, 112, "F1"},     {123, false, true, 2123, "Ctrl+F12"},
        {'0', false, false, 48, "0"},       {92, false, false, 92, "\\"},
        {45, false, false, 0, ""},   // Insert: below the usable range
        {91, false, false, 0, ""},   // left Windows key
        {93, false, false, 0, ""},   // application key
        {124, false, false, 0, ""},  // F13
        {13, false, true, 0, ""},    // Enter
        {16, true, false, 0, ""},    // Shift on its own
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vk);
        EXPECT_EQ(shortcutCode(c.vk, c.shift, c.ctrl), c.code);
        if (c.code) {
            EXPECT_EQ(keyText(c.code), c.text);
        }
    }
}

TEST(ViewerKeys, ShortCutValueReadBack) {
    const std::vector<int> standard(kStandardKeys.begin(), kStandardKeys.end());
    const struct {
        const char* value;
        std::vector<int> codes;
        bool written;  // formatShortcuts gives the value back
    } cases[] = {
        {"81;112;78;80;S78;S80;114;113;72;83;46;S46", standard, true},
        {"C75;S46;123", {2075, 1046, 123}, true},
        {"81;112;C75;S46", {81, 112, 2075, 1046}, true},
        {"", {0}, false},
        {"x;;S;C99999;-5", {0, 0, 0, 0, 0}, false},
        {"1;2;3;4;5;6;7;8;9;10;11;12;13;14", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(parseShortcuts(c.value), c.codes);
        if (c.written) {
            EXPECT_EQ(formatShortcuts(c.codes), c.value);
        }
    }
}

TEST(ViewerKeys, FirstDuplicateNamesTheUpperAction) {
    EXPECT_EQ(firstDuplicate(kStandardKeys), -1);
    std::vector<int> codes(kStandardKeys.begin(), kStandardKeys.end());
    codes[10] = 'N';  // "削除" on the key of "次のメール"
    codes[11] = 'Q';  // and "完全に削除" on the first action's
    EXPECT_EQ(firstDuplicate(codes), 0);
    EXPECT_EQ(duplicateMessage(codes[0]),
              "キーが重複している場合、並び順の上のキーが優先され    \n下のキーは無視されます\n\n"
              "重複しているキー「 Q 」");
    EXPECT_EQ(firstDuplicate(std::vector<int>{0, 5, 0, 6}), -1);  // unset keys are no duplicates
}

TEST(ViewerFontSizes, HalvesAreStoredRoundedDownAndShownWhole) {
    for (int i = 0; i < kFontSizeCount; ++i) {
        const int stored = kFontSizeValues[i];
        const int shown = fontSizeIndex(stored, -1);
        SCOPED_TRACE(kFontSizeLabels[i]);
        EXPECT_EQ(std::string(kFontSizeLabels[shown]), std::to_string(stored));
    }
    EXPECT_EQ(fontSizeIndex(13, 7), 7);
}

TEST(ViewerHeaders, BoxLinesBecomeNamesAndBack) {
    const auto names = headerLines("From:\r\n\r\nTo:\r\nX-件名;Y:\r\nSubject:");
    EXPECT_EQ(names, (std::vector<std::string>{"From:", "To:", "X-件名Y:", "Subject:"}));
    EXPECT_EQ(joinHeaders(names), "From:;To:;X-件名Y:;Subject:");
    EXPECT_EQ(splitHeaders("From:;;To:"), (std::vector<std::string>{"From:", "To:"}));

    CustomHeaderNode head{};
    ASSERT_TRUE(rebuildHeaders(head, names));
    EXPECT_EQ(listSize(head), 4u);
    EXPECT_EQ(headerBoxText(head), "From:\r\nTo:\r\nX-件名Y:\r\nSubject:");
    ASSERT_TRUE(rebuildHeaders(head, {"Date:"}));
    EXPECT_EQ(headerBoxText(head), "Date:");
    freeHeaders(head);
    EXPECT_TRUE(listEmpty(head));
}

TEST(ViewerHeaders, LongNameIsCutAtACharacterBoundary) {
    // 126 ASCII bytes and then a two-byte character: the field holds 127 bytes, which would
    // split the character.
    const std::string line = std::string(126, 'A') + "件";
    const auto names = headerLines(line);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], std::string(126, 'A'));
    CustomHeaderNode head{};
    ASSERT_TRUE(rebuildHeaders(head, {std::string(125, 'B') + "件件"}));
    EXPECT_EQ(std::strlen(head.next->name), 127u);
    EXPECT_EQ(std::string(head.next->name), std::string(125, 'B') + "件");
    freeHeaders(head);
}

ViewerSettings sampleRecord() {
    ViewerSettings r{};
    r.fontSize = 10;
    std::strcpy(r.fontFace, "ＭＳ ゴシック");
    r.spaceBar = 3;
    r.lineDown = 2;
    r.statusChangeTiming2 = 1;
    r.statusChangeTime = 7;
    r.positionFix = 1;
    r.title[0] = r.title[9] = 1;
    return r;
}

TEST(ViewerValues, RecordRoundTripsThroughTheValues) {
    const ViewerSettings r = sampleRecord();
    const SettingsValues v = valuesFromRecord(r);
    EXPECT_EQ(std::string(kFontSizeLabels[v.fontSizeIndex]), "10");
    EXPECT_EQ(v.fontFace, "ＭＳ ゴシック");
    EXPECT_TRUE(v.readAfterTime);
    EXPECT_EQ(v.readSeconds, 7);
    ViewerSettings back{};
    storeValues(v, Mode::Full, back);
    EXPECT_EQ(std::memcmp(&back, &r, sizeof r), 0);
}

TEST(ViewerValues, OutOfRangeRecordValuesAreBroughtIntoTheLists) {
    ViewerSettings r{};
    r.fontSize = -4;
    r.spaceBar = 999;
    r.lineDown = 0;
    r.statusChangeTime = 500;
    std::memset(r.fontFace, 'F', sizeof r.fontFace);  // no NUL at all
    const SettingsValues v = valuesFromRecord(r);
    EXPECT_EQ(v.fontSizeIndex, 7);
    EXPECT_EQ(v.spaceBar, 49);
    EXPECT_EQ(v.lineDown, 1);
    EXPECT_EQ(v.readSeconds, 20);
    EXPECT_EQ(v.fontFace.size(), sizeof r.fontFace);
}

TEST(ViewerValues, FaceNameIsCutToTheFieldAtACharacterBoundary) {
    SettingsValues v;
    v.fontFace = std::string(45, 'a') + "字字";  // 49 bytes
    ViewerSettings r{};
    storeValues(v, Mode::Full, r);
    EXPECT_EQ(std::string(r.fontFace), std::string(45, 'a'));
    test::TestEnv t;
    writeValues(*t.ini, v, Mode::Full);
    EXPECT_EQ(t.ini->read("Option", "FontType"), std::string(45, 'a'));
}

TEST(ViewerValues, ReducedModeLeavesTheViewersOwnSwitchesAlone) {
    SettingsValues v = valuesFromRecord(sampleRecord());
    v.general.fill(true);
    v.title.fill(true);
    ViewerSettings r = sampleRecord();
    r.noDoubleWindow = 0;
    storeValues(v, Mode::Reduced, r);
    EXPECT_EQ(r.positionFix, 1);
    EXPECT_EQ(r.noDoubleWindow, 0);
    EXPECT_EQ(r.htmlDisplay, 1);
    EXPECT_EQ(r.title[1], 0);

    test::TestEnv t;
    ASSERT_EQ(writeValues(*t.ini, v, Mode::Reduced), Err::None);
    for (const char* key : kTitleKeys)
        EXPECT_FALSE(t.ini->read("Option", key)) << key;
    EXPECT_FALSE(t.ini->read("Option", "PositionFix"));
    EXPECT_FALSE(t.ini->read("Option", "NoDoubleWindow"));
    EXPECT_EQ(t.ini->read("Option", "AutoReturn"), "1");
    EXPECT_EQ(t.ini->read("Option", "FontSize"), "10");
}

TEST(ViewerShortcuts, CommitMakesPendingKeysTheKeys) {
    ShortcutNode head{};
    for (int k : kStandardKeys) {
        auto* n = viewerNew<ShortcutNode>();
        n->key = k;
        listAppend(head, n);
    }
    head.next->pending = 2075;
    head.next->next->next->pending = 1046;
    test::TestEnv t;
    std::vector<int> codes;
    ASSERT_EQ(commitShortcuts(*t.ini, head, codes), Err::None);
    EXPECT_EQ(t.ini->read("Option", "ShortCut"), "C75;112;S46;80;S78;S80;114;113;72;83;46;S46");
    EXPECT_EQ(codes[0], 2075);
    EXPECT_EQ(firstDuplicate(codes), 2);  // "次のメール" now on Shift+Delete
    for (ShortcutNode* n = head.next; n; n = n->next)
        EXPECT_EQ(n->pending, 0);
    for (ShortcutNode* n = head.next; n;) {
        ShortcutNode* next = n->next;
        viewerDelete(n);
        n = next;
    }
}

}  // namespace
