// Dialog templates built in memory (DLGTEMPLATEEX) from the panel's one
// description, so the Win32 window has no layout of its own to keep in step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camera/PanelTemplate.h"

namespace pelvar {

// A window class and styles for one control of the template.
struct Win32Control {
    std::wstring windowClass; // "Button", "msctls_trackbar32", ...
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
};

Win32Control ControlClassAndStyle(const ControlTemplate& item);

// One DLGTEMPLATEEX, DWORD-aligned, ready for DialogBoxIndirectParamW.
class DialogTemplateBuilder {
public:
    DialogTemplateBuilder(std::uint32_t style, std::uint32_t exStyle, const DialogRect& size,
                          const std::string& caption);
    // `iconResource` nonzero: the control's text is that resource's ordinal.
    void Add(int id, const Win32Control& control, const DialogRect& rect, const std::string& text,
             int iconResource = 0);
    // The template; valid until the builder changes.
    const void* Data() const { return m_words.data(); }
    std::size_t Size() const { return m_words.size() * sizeof(std::uint16_t); }

private:
    void Word(std::uint16_t w) { m_words.push_back(w); }
    void Dword(std::uint32_t d);
    void Text(const std::string& text);
    void AlignDword();

    std::vector<std::uint16_t> m_words;
    std::size_t m_countAt = 0;
};

// The status line under the panel template's area; the window is as much
// taller, and every control of the template keeps its place.
constexpr int IDC_STATUS_LINE = 1040;

DialogTemplateBuilder BuildPanelTemplate();
DialogTemplateBuilder BuildAboutTemplate(int iconResource);

} // namespace pelvar
