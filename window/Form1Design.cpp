#include "window/Form1Design.h"

#include "window/Texts.h"

namespace {
constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kFrame = WS_CHILD | WS_VISIBLE | BS_GROUPBOX;
constexpr DWORD kLabel = WS_CHILD | WS_VISIBLE | SS_LEFT;
}  // namespace

// Creation order. Label1 is given in Form1's coordinates: 240, 360 inside Frame1 at 120, 120.
const std::array<ControlDesign, kControlCount> kForm1Controls = {{
    {Control::Command2, L"BUTTON", kButton, Texts::kCommand2, 6540, 3480, 1215, 375, 3, false},
    {Control::Command1, L"BUTTON", kButton, Texts::kCommand1, 6540, 3000, 1215, 375, 2, false},
    {Control::Frame1, L"BUTTON", kFrame, Texts::kFrame1, 120, 120, 7575, 2415, 0, false},
    {Control::Label1, L"STATIC", kLabel, Texts::kLabel1Design, 120 + 240, 120 + 360, 7215, 1695, 1, true},
    {Control::Label3, L"STATIC", kLabel, Texts::kLabel3Design, 120, 3840, 4455, 255, 5, false},
    {Control::Label2, L"STATIC", kLabel, Texts::kLabel2Design, 120, 2640, 7455, 255, 4, false},
}};

const FontDesign kFormFont = {L"宋体", 9, FW_NORMAL, GB2312_CHARSET};
const FontDesign kNoticeFont = {L"新宋体", 9, FW_NORMAL, GB2312_CHARSET};
