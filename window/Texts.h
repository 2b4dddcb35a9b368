#pragma once
// Everything a person can read, UTF-16, exactly as it stands.

namespace Texts {

// Identity: the title of every message box that brings no title of its own.
inline constexpr wchar_t kAppTitle[] = L"删除控件";

// The main window as designed; FillInTexts replaces the caption and the three static texts before
// the window shows.
inline constexpr wchar_t kDesignCaption[] = L"Tavrex安全控件删除工具";
inline constexpr wchar_t kCloseButton[] = L"关闭";
inline constexpr wchar_t kDeleteButton[] = L"【删除】";
inline constexpr wchar_t kNoticeFrame[] = L"使用前请详细阅读下面的声明：";
inline constexpr wchar_t kNoticeDesign[] = L"Label1";
inline constexpr wchar_t kCompanyLineDesign[] = L"Label3";
inline constexpr wchar_t kPromptDesign[] = L"Label2";

// The notice: nine lines joined by CR LF; lines 3, 6 and 8 are empty.
inline constexpr wchar_t kNoticeLine1[] = L"1）本工具将\"Tavrex安全登录控件\"从您的机器中彻底删除，不会破坏您的系统的任何部";
inline constexpr wchar_t kNoticeLine2[] = L"分。如果对此有任何疑问，请致电Tavrex咨询。";
inline constexpr wchar_t kNoticeLine4[] = L"2）为防止其他人冒用我公司的名义，创建恶意的应用程序，您必须确保本程序是从Tavrex";
inline constexpr wchar_t kNoticeLine5[] = L"网站（www.tavrex.com）下载得到的，执行完本程序，请将本程序彻底删除。";
inline constexpr wchar_t kNoticeLine7[] = L"3）您必须有其卸载程序和删除文件的权限。如果这不是您的机器，请不要执行删除操作。";
inline constexpr wchar_t kNoticeLine9[] = L"4）执行删除之前，请首先关闭所有打开的浏览器。";
inline constexpr wchar_t kLineBreak[] = L"\r\n";

inline constexpr wchar_t kPrompt[] = L"您已经确定阅读并理解上述的声明，方可按下面的【删除】按钮，执行删除操作：";
inline constexpr wchar_t kCompany[] = L"Tavrex有限公司";
inline constexpr wchar_t kWindowTitle[] = L"QelpadRemover - Tavrex安全登录控件删除工具(TAVREX.COM) - Ver0.1";

// Message boxes of the removal.
inline constexpr wchar_t kConfirm[] = L"\r\n您确定要删除Tavrex安全登录控件吗？\r\n";
inline constexpr wchar_t kNotRegistered[] = L"未在你的计算机上发现Tavrex安全登录控件";
inline constexpr wchar_t kRemoved[] = L"删除成功，谢谢您的使用";
inline constexpr wchar_t kRemovalFailed[] = L"\r\n删除失败，请检查是否有权限或者正在使用！";

// The report of an error that no handler traps, followed by what failed.
inline constexpr wchar_t kRuntimeError[] = L"运行时错误，程序将结束：\r\n\r\n";

}  // namespace Texts
