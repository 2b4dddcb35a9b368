#pragma once
// Form1 as designed: its size, its six controls and their fonts, in twips.

#include <windows.h>

#include <array>

// Controls by creation order; the values are their control IDs.
enum class Control : int {
    Command2 = 101,  // Close
    Command1,        // Delete
    Frame1,          // the frame around the notice
    Label1,          // the notice
    Label3,          // the company name
    Label2,          // the prompt
};

struct ControlDesign {
    Control id;
    const wchar_t* className;
    DWORD style;
    const wchar_t* text;
    int left, top, width, height;  // twips, relative to Form1's client area
    int tabIndex;
    bool noticeFont;  // Label1 has a font of its own
};

inline constexpr int kControlCount = 6;
extern const std::array<ControlDesign, kControlCount> kForm1Controls;

// Client area of Form1.
inline constexpr int kClientWidthTwips = 7815;
inline constexpr int kClientHeightTwips = 4185;

struct FontDesign {
    const wchar_t* face;
    int points;
    int weight;
    BYTE charSet;
};
extern const FontDesign kFormFont;    // every control but Label1
extern const FontDesign kNoticeFont;  // Label1

// 1440 twips make an inch; at 96 dpi, 15 twips make one pixel.
inline int TwipsToPixels(int twips, UINT dpi) { return ::MulDiv(twips, static_cast<int>(dpi), 1440); }
