// The logic behind the panel's handlers: connection life cycle, image
// adjustments and function buttons, register access. The window and
// pelvarctl both drive it through IPanelView.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/Adjustments.h"
#include "camera/BoardConnection.h"
#include "camera/Commands.h"
#include "camera/PanelView.h"
#include "link/FrameLink.h"

namespace pelvar {

class CameraController {
public:
    explicit CameraController(IPanelView& view, IPlatform& platform = DefaultPlatform());
    ~CameraController();
    CameraController(const CameraController&) = delete;
    CameraController& operator=(const CameraController&) = delete;

    // Connection.
    void OnConnect();
    void OnDisconnect();
    void OnPortSelChange();
    // The detection alone: finds the board, holds its link; no start-up.
    // Returns whether a port answered; *status is the probe's status byte.
    bool DetectBoard(std::uint8_t* status);
    // Start-up after the detection: CMD_INIT when needed, the bounded
    // status poll, the sensor identification.
    void StartBoard(std::uint8_t probeStatus);
    // Opens port n as the link, sending nothing; false (and no link) when
    // it cannot be opened. For exchanges that must run alone on the line.
    bool AttachPort(int port);

    // The device behind the link has gone (unplugged, hung up).
    bool LineGone();
    // Ends a connection whose device has gone, as a Disconnect whose board
    // did not answer but without the message box.
    void OnLineLost();
    // Sends the adjustments held for the commands in *cmds (slider order),
    // so the board shows what the sliders show; the status line is left
    // alone. The commands whose transaction failed stay in *cmds. Returns
    // the last failure, or LINK_OK.
    std::int32_t SendAdjustments(std::vector<std::uint8_t>* cmds);
    // The status line after StartBoard: connected, or why not.
    void ReportStart();
    // When set, the start-up poll gives up as soon as it reads true.
    void SetCancelFlag(const std::atomic<bool>* cancel)
    {
        m_pCancel = cancel;
        m_board.SetCancelFlag(cancel);
    }
    // Every link made from now on reports its traffic to `tap` (or to none).
    void SetLinkTap(ILinkTap* tap) { m_board.SetTap(tap); }

    // Adjustments and function buttons.
    void OnHScroll(int controlId, int position);
    void SendAdjustment(std::uint8_t cmd);
    void OnFunctionButton(int controlId);

    // Register access.
    std::uint16_t ReadHexBox(int boxId);
    void OnRegisterWrite();
    void OnRegisterRead();

    bool IsConnected() const { return m_board.IsOpen(); }
    CFrameLink* Link() const { return m_board.Link(); }
    // The board's plain calls, for callers that read and write no control.
    BoardConnection& Board() { return m_board; }
    // Result of the exchange that decided the last operation.
    std::int32_t LastResult() const { return m_nLastResult; }
    const std::vector<CandidateReport>& Candidates() const { return m_board.Candidates(); }
    bool StartTimedOut() const { return m_bStartTimedOut; }
    // errno of the device that went away during the start-up poll; 0 if none.
    int LineLostError() const { return m_nLineLostError; }
    std::int32_t Adjustment(std::uint8_t cmd) const;

    Adjustments m_adjust;
    std::int32_t m_nPort = 0;
    std::int32_t m_nBaud = 115200;

    // The status poll after the probe gives up after this long.
    std::uint32_t m_nStartLimitMs = kStartLimitMs;

private:
    IPanelView& m_view;
    IPlatform& m_platform;
    BoardConnection m_board;
    std::int32_t m_nLastResult = LINK_OK;
    bool m_bStartTimedOut = false;
    int m_nLineLostError = 0;
    const std::atomic<bool>* m_pCancel = nullptr;
};

// The function button of each control identifier; 0 for none.
std::uint8_t ButtonCommand(int controlId);

// The command and value box of a slider; false for any other control.
bool SliderBinding(int sliderId, std::uint8_t* cmd, int* valueBoxId);

// A register box's text as the box reads it: at most its first 8 characters,
// hexadecimal with optional blanks, sign and 0x prefix, low 16 bits.
std::uint16_t ParseHexBoxText(const std::string& text);

} // namespace pelvar
