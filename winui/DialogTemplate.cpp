#include "winui/DialogTemplate.h"

#include <windows.h>
#include <commctrl.h>

#include "camera/AboutTemplate.h"
#include "winui/WideText.h"

namespace pelvar {

namespace {

constexpr DWORD kPanelStyle =
    DS_SETFONT | DS_FIXEDSYS | WS_MINIMIZEBOX | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
constexpr DWORD kPanelExStyle = WS_EX_APPWINDOW;
constexpr DWORD kAboutStyle = DS_SETFONT | DS_MODALFRAME | DS_FIXEDSYS | WS_POPUP | WS_CAPTION | WS_SYSMENU;

Win32Control Button(DWORD style) { return {L"Button", style | WS_TABSTOP, 0}; }

Win32Control Edit(unsigned flags)
{
    DWORD style = ES_LEFT | WS_BORDER | WS_TABSTOP;
    if (flags & kReadOnlyDigits)
        style |= ES_READONLY | ES_NUMBER;
    if (!(flags & kNoHScroll))
        style |= ES_AUTOHSCROLL;
    return {L"Edit", style, 0};
}

Win32Control KindStyle(ControlKind kind, unsigned flags)
{
    switch (kind) {
    case ControlKind::PushButton: return Button(BS_PUSHBUTTON);
    case ControlKind::DefaultPushButton: return Button(BS_DEFPUSHBUTTON);
    case ControlKind::GroupBox: return {L"Button", BS_GROUPBOX, 0};
    case ControlKind::Label: return {L"Static", SS_LEFT, 0};
    case ControlKind::Edit: return Edit(flags);
    case ControlKind::Slider: return {TRACKBAR_CLASSW, TBS_HORZ | TBS_AUTOTICKS | TBS_TOP | WS_TABSTOP, 0};
    case ControlKind::PortList: return {L"ComboBox", CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 0};
    }
    return {L"Static", 0, 0};
}

} // namespace

Win32Control ControlClassAndStyle(const ControlTemplate& item)
{
    Win32Control control = KindStyle(item.kind, item.flags);
    control.style |= WS_CHILD;
    if (!(item.flags & kHidden))
        control.style |= WS_VISIBLE;
    return control;
}

DialogTemplateBuilder::DialogTemplateBuilder(std::uint32_t style, std::uint32_t exStyle, const DialogRect& size,
                                             const std::string& caption)
{
    Word(1);      // dlgVer
    Word(0xFFFF); // signature: the extended template
    Dword(0);     // helpID
    Dword(exStyle);
    Dword(style);
    m_countAt = m_words.size();
    Word(0); // cDlgItems, counted by Add
    Word(static_cast<std::uint16_t>(size.x));
    Word(static_cast<std::uint16_t>(size.y));
    Word(static_cast<std::uint16_t>(size.cx));
    Word(static_cast<std::uint16_t>(size.cy));
    Word(0); // no menu
    Word(0); // the dialog class
    Text(caption);
    Word(static_cast<std::uint16_t>(kDialogFontPoints));
    Word(FW_NORMAL);
    Word(DEFAULT_CHARSET << 8); // italic 0, then the character set
    Text(kDialogFontName);
}

void DialogTemplateBuilder::Dword(std::uint32_t d)
{
    Word(static_cast<std::uint16_t>(d & 0xFFFF));
    Word(static_cast<std::uint16_t>(d >> 16));
}

void DialogTemplateBuilder::Text(const std::string& text)
{
    for (wchar_t c : Widen(text))
        Word(static_cast<std::uint16_t>(c));
    Word(0);
}

void DialogTemplateBuilder::AlignDword()
{
    if (m_words.size() % 2 != 0)
        Word(0);
}

void DialogTemplateBuilder::Add(int id, const Win32Control& control, const DialogRect& rect, const std::string& text,
                                int iconResource)
{
    AlignDword();
    Dword(0); // helpID
    Dword(control.exStyle);
    Dword(control.style);
    Word(static_cast<std::uint16_t>(rect.x));
    Word(static_cast<std::uint16_t>(rect.y));
    Word(static_cast<std::uint16_t>(rect.cx));
    Word(static_cast<std::uint16_t>(rect.cy));
    Dword(static_cast<std::uint32_t>(id));
    for (wchar_t c : control.windowClass)
        Word(static_cast<std::uint16_t>(c));
    Word(0);
    if (iconResource != 0) {
        Word(0xFFFF);
        Word(static_cast<std::uint16_t>(iconResource));
    } else {
        Text(text);
    }
    Word(0); // no creation data
    m_words[m_countAt]++;
}

DialogTemplateBuilder BuildPanelTemplate()
{
    DialogTemplateBuilder builder(kPanelStyle, kPanelExStyle, kPanelWithStatusSize, kPanelCaption);
    for (const ControlTemplate& item : kPanelTemplate)
        builder.Add(item.id, ControlClassAndStyle(item), item.rect, item.text);
    // One line, cut with an ellipsis rather than wrapped out of sight.
    builder.Add(IDC_STATUS_LINE,
                {L"Static", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_ENDELLIPSIS, 0},
                kStatusLineRect, "");
    return builder;
}

DialogTemplateBuilder BuildAboutTemplate(int iconResource)
{
    DialogTemplateBuilder builder(kAboutStyle, 0, kAboutSize, kAboutCaption);
    const DWORD text = WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP;
    builder.Add(kNoControlId, {L"Static", WS_CHILD | WS_VISIBLE | SS_ICON, 0}, kAboutIconRect, "", iconResource);
    builder.Add(kNoControlId, {L"Static", text | SS_NOPREFIX, 0}, kAboutVersionRect, kAboutVersionText);
    builder.Add(kNoControlId, {L"Static", text, 0}, kAboutNoticeRect, kAboutNoticeText);
    builder.Add(IDOK, {L"Button", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0}, kAboutOkRect,
                "OK");
    return builder;
}

} // namespace pelvar
