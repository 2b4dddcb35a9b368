#pragma once
// The main window as designed: its size, its six controls and their fonts, in twips.

#include <windows.h>

#include <array>

// Controls by creation order; the values are their control IDs.
enum class Control : int {
    CloseButton = 101,
    DeleteButton,
    NoticeFrame,  // the frame around the notice
    Notice,
    CompanyLine,
    Prompt,
};

struct ControlDesign {
    Control id;
    const wchar_t* className;
    DWORD style;
    const wchar_t* text;
    int left, top, width, height;  // twips, relative to the main window's client area
    int tabIndex;
    bool noticeFont;  // the notice has a font of its own
};

inline constexpr int kControlCount = 6;
extern const std::array<ControlDesign, kControlCount> kMainWindowControls;

// Client area of the main window.
inline constexpr int kClientWidthTwips = 7815;
inline constexpr int kClientHeightTwips = 4185;

struct FontDesign {
    const wchar_t* face;
    int points;
    int weight;
    BYTE charSet;
};
extern const FontDesign kWindowFont;  // every control but the notice
extern const FontDesign kNoticeFont;  // the notice

// 1440 twips make an inch; at 96 dpi, 15 twips make one pixel.
inline int TwipsToPixels(int twips, UINT dpi) { return ::MulDiv(twips, static_cast<int>(dpi), 1440); }

// The notice's lines, as it reads; the window joins them with line breaks when it fills in its texts.
inline constexpr int kNoticeLineCount = 9;
extern const std::array<const wchar_t*, kNoticeLineCount> kNoticeLines;
