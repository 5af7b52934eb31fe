// The tool bar's buttons and their order as stored in Option/ToolBarIcon: button numbers
// separated by ";", 0 a separator; the numbers before "100" are shown, those after it are the
// hidden ones the tool-bar dialog offers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kolvy::shell {

inline constexpr int kToolButtons = 19;
inline constexpr int kToolSeparator = 0;
inline constexpr int kToolBarEnd = 100;
inline constexpr char kToolBarKey[] = "ToolBarIcon";
inline constexpr char kDefaultToolBar[] =
    "1;2;3;0;4;5;0;9;11;12;100;6;7;8;10;13;14;15;16;17;18;19;0";

struct ToolButton {
    int command;
    const char* tip;
};
// Button 1..19; the image of button n is image n - 1.
const ToolButton& toolButton(int number);

struct ToolBarLayout {
    std::vector<int> shown;   // button numbers and separators, in order
    std::vector<int> hidden;  // likewise
    bool operator==(const ToolBarLayout&) const = default;
};

// Numbers outside 0..19 are skipped, a button listed twice keeps its first place, and a button
// that is in neither list joins the hidden ones. Without "100" (or nothing usable at all) the
// stored text is not a layout: the default is used.
ToolBarLayout parseToolBar(std::string_view stored);
ToolBarLayout defaultToolBar();
std::string formatToolBar(const ToolBarLayout& layout);

}  // namespace kolvy::shell
