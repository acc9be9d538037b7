// The outcome of an operation in words, for the panel's status line: the
// camera logic says what happened, every front end shows the same text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camera/CameraController.h"

namespace pelvar {

// What a failed exchange means to the operator: "no reply", "refused", ...
std::string FailureWords(std::int32_t result);

// "brightness 200: sent", "brightness 200: no reply".
std::string OperationText(const std::string& what, std::int32_t result);

// "Connected on COM7: ARVEN-L".
std::string ConnectedText(int port, const std::string& sensor);

// Why Connect found no board: the ports that stayed silent, and for ports
// that could not be opened the reason (with the group to join when the
// permission was missing). `platform` names the devices.
std::string NoBoardText(const std::vector<CandidateReport>& tried, IPlatform& platform);

constexpr const char* kStatusDisconnected = "Disconnected";
constexpr const char* kStatusNoReplyDisconnected = "No reply from camera: disconnected";
constexpr const char* kStatusUnplugged = "Board unplugged: disconnected";

// "Board back on COM7: reconnected, adjustments sent"; with adjustments that
// did not reach the board, "Board back on COM7: reconnected; brightness, blue
// not sent: no reply" (`failure` the last failure).
std::string ReconnectedText(int port, const std::vector<std::string>& unsent = {}, std::int32_t failure = LINK_OK);

} // namespace pelvar
