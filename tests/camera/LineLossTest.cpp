// The start-up poll when sends start failing after the probe: a device that
// is gone ends it at once, any other failure paces it. Simulated clock.
#include <gtest/gtest.h>

#include "camera/CameraController.h"
#include "platform/SimPlatform.h"
#include "tests/support/FakeView.h"
#include "tests/support/SendErrors.h"

namespace pelvar {
namespace {

constexpr int kPort = 9;

// The adapter goes after the probe: RTS calls past the probe's raise and
// lower fail with `failErr`, each failure noted with its time.
class FailingRtsPlatform : public SimPlatform {
public:
    explicit FailingRtsPlatform(int err) : m_err(err) {}
    std::vector<std::uint32_t> failures;

    bool SetRts(PortHandle h, bool raised) override
    {
        if (++m_calls <= kProbeRtsCalls || m_recovered)
            return SimPlatform::SetRts(h, raised);
        failures.push_back(Now());
        return false;
    }
    int LastError() const override
    {
        return m_calls > kProbeRtsCalls && !m_recovered ? m_err : SimPlatform::LastError();
    }
    // The adapter is back: RTS works again.
    void Recover() { m_recovered = true; }

private:
    static constexpr int kProbeRtsCalls = 2;
    int m_err;
    int m_calls = 0;
    bool m_recovered = false;
};

// Answers every frame with an active sensor-L status.
class ActiveBoard : public ISimDevice {
public:
    void OnHostBytes(SimLine& line, const std::uint8_t*, std::size_t) override
    {
        line.Send(1, {0x02, 0x03, 0x00, 0x11, 0x10, 0x03});
    }
};

class StartPollLineLoss : public ::testing::TestWithParam<int> {
protected:
    FailingRtsPlatform sim{GetParam()};
    test::FakeView view;
    CameraController cam{view, sim};
};

TEST_P(StartPollLineLoss, DeviceGoneEndsThePollAtOnceDisconnected)
{
    ActiveBoard device;
    sim.AddPort(kPort, &device);
    view.ports.push_back("X (COM9)");
    cam.OnConnect();
    ASSERT_EQ(sim.failures.size(), 1u) << "one failed status query, then no more";
    EXPECT_EQ(sim.Now(), sim.failures[0]);
    EXPECT_EQ(cam.LineLostError(), GetParam());
    EXPECT_FALSE(cam.IsConnected());
    EXPECT_FALSE(sim.IsOpen(kPort));
    EXPECT_EQ(view.LastState(), std::make_pair(true, false));
    EXPECT_FALSE(cam.StartTimedOut());

    // The next Connect, with the adapter back, forgets the gone device.
    sim.Recover();
    cam.OnConnect();
    EXPECT_TRUE(cam.IsConnected());
    EXPECT_EQ(cam.LineLostError(), 0);
    EXPECT_EQ(view.LastStatus(), "Connected on COM9: ARVEN-L");
}

INSTANTIATE_TEST_SUITE_P(Gone, StartPollLineLoss, ::testing::ValuesIn(test::GoneDeviceErrors()));

class StartPollSendFailure : public ::testing::TestWithParam<int> {};

TEST_P(StartPollSendFailure, OtherFailuresArePacedTenMillisecondsApartUntilTheBound)
{
    FailingRtsPlatform sim(GetParam());
    test::FakeView view;
    CameraController cam{view, sim};
    ActiveBoard device;
    sim.AddPort(kPort, &device);
    view.ports.push_back("X (COM9)");
    cam.OnConnect();
    ASSERT_GE(sim.failures.size(), 2u);
    for (std::size_t i = 1; i < sim.failures.size(); ++i)
        ASSERT_EQ(sim.failures[i] - sim.failures[i - 1], 10u) << "at query " << i;
    EXPECT_EQ(sim.failures.back() - sim.failures.front(), 9990u) << "the last query starts before the 10 s bound";
    EXPECT_TRUE(cam.StartTimedOut());
    EXPECT_EQ(cam.LineLostError(), 0);
    EXPECT_FALSE(sim.IsOpen(kPort));
}

INSTANTIATE_TEST_SUITE_P(Other, StartPollSendFailure, ::testing::ValuesIn(test::OtherSendErrors()));

} // namespace
} // namespace pelvar
