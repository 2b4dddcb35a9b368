// The main window's six controls and its fonts, as designed.

#include "window/MainWindowDesign.h"

#include "window/Texts.h"

namespace {
constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kFrame = WS_CHILD | WS_VISIBLE | BS_GROUPBOX;
constexpr DWORD kLabel = WS_CHILD | WS_VISIBLE | SS_LEFT;
}  // namespace

// Creation order. The notice is given in the window's coordinates: 240, 360 inside the notice frame at 120, 120.
const std::array<ControlDesign, kControlCount> kMainWindowControls = {{
    {Control::CloseButton, L"BUTTON", kButton, Texts::kCloseButton, 6540, 3480, 1215, 375, 3, false},
    {Control::DeleteButton, L"BUTTON", kButton, Texts::kDeleteButton, 6540, 3000, 1215, 375, 2, false},
    {Control::NoticeFrame, L"BUTTON", kFrame, Texts::kNoticeFrame, 120, 120, 7575, 2415, 0, false},
    {Control::Notice, L"STATIC", kLabel, Texts::kNoticeDesign, 120 + 240, 120 + 360, 7215, 1695, 1, true},
    {Control::CompanyLine, L"STATIC", kLabel, Texts::kCompanyLineDesign, 120, 3840, 4455, 255, 5, false},
    {Control::Prompt, L"STATIC", kLabel, Texts::kPromptDesign, 120, 2640, 7455, 255, 4, false},
}};

const FontDesign kWindowFont = {L"宋体", 9, FW_NORMAL, GB2312_CHARSET};
const FontDesign kNoticeFont = {L"新宋体", 9, FW_NORMAL, GB2312_CHARSET};

// The notice's lines, as it reads; 3, 6 and 8 are empty.
const std::array<const wchar_t*, kNoticeLineCount> kNoticeLines = {
    Texts::kNoticeLine1, Texts::kNoticeLine2, L"", Texts::kNoticeLine4, Texts::kNoticeLine5, L"",
    Texts::kNoticeLine7, L"", Texts::kNoticeLine9,
};
