// The control panel as a native Win32 dialog: the template is built from the
// shared panel description, and every handler hands its work to the camera
// logic, as the Qt window does on Linux.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "camera/CameraController.h"
#include "camera/PanelView.h"
#include "discovery/PortList.h"

namespace pelvar {

// Where a minimised window draws its icon: centred, rounding as the
// window system's integer division does (toward zero).
struct IconOrigin {
    int x;
    int y;
};
IconOrigin IconOriginFor(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

class CPelvarDlg : public IPanelView {
public:
    using PortListFiller = std::function<void(IPortList&)>;

    CPelvarDlg(HINSTANCE instance, PortListFiller fillPorts, IPlatform& platform = DefaultPlatform());
    ~CPelvarDlg() override;
    CPelvarDlg(const CPelvarDlg&) = delete;
    CPelvarDlg& operator=(const CPelvarDlg&) = delete;

    // The machine's port list (WMI, or PELVAR_COM_PORTS).
    static PortListFiller DefaultPortListFiller();

    // Runs the panel until it is closed.
    INT_PTR DoModal(HWND owner = nullptr);
    // The panel without its own loop (tests drive it by messages).
    HWND Create(HWND owner = nullptr);
    HWND Handle() const { return m_hWnd; }
    CameraController& Camera() { return *m_camera; }
    // Called once, after the panel's first paint has reached the screen.
    void OnFirstPaint(std::function<void(HWND)> hook) { m_firstPaint = std::move(hook); }

    // IPanelView
    void SetControlText(int id, const std::string& text) override;
    std::string ControlText(int id) override;
    void SetControlStates(bool connectEnabled, bool othersEnabled) override;
    void ShowError(const std::string& text, const std::string& caption) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    int PortCount() override;
    std::string PortEntry(int index) override;
    int SelectedPortIndex() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void AddAboutItem();
    void FillPorts();
    void SetUpSlider(int sliderId, int valueBoxId, std::int32_t value);
    bool OnCommand(int id, int code);
    void OnHScroll(UINT code, UINT position, HWND control);
    bool OnSysCommand(UINT nID, LPARAM lParam);
    bool OnPaint();
    void NoteFirstPaint();
    void OnClose();
    void OnOK() {}
    void OnCancel() {}

    void OnConnect() { m_camera->OnConnect(); }
    void OnDisconnect() { m_camera->OnDisconnect(); }
    void OnPortSelChange() { m_camera->OnPortSelChange(); }
    void OnRegisterWrite() { m_camera->OnRegisterWrite(); }
    void OnRegisterRead() { m_camera->OnRegisterRead(); }
    void OnFunctionButton(int id) { m_camera->OnFunctionButton(id); }

    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

    HINSTANCE m_hInstance;
    PortListFiller m_fillPorts;
    std::unique_ptr<CameraController> m_camera;
    HWND m_hWnd = nullptr;
    HICON m_hIcon = nullptr;
    HCURSOR m_hPrevCursor = nullptr;
    std::function<void(HWND)> m_firstPaint;
    bool m_bPainted = false;
};

} // namespace pelvar
