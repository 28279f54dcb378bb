#include "support/WizardHarness.h"

#include "TestEnvironment.h"
#include "devices/camera/CameraDetector.h"
#include "devices/camera/CameraDevice.h"
#include "devices/phone/MobileDevice.h"

#include <gtest/gtest.h>

// The camera library loads and unloads its driver modules; what their
// dependencies set aside is matched by the library suppressions only when
// the whole stack is unwound.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace {

using vtr::camera::CameraPort;
using vtr::camera::FixedCameraDetector;

// The camera connection has no public constructor: tests make their own.
class TestConnection : public CameraConnection
{
public:
    explicit TestConnection(std::vector<CameraPort> ports)
        : TestConnection(std::make_unique<FixedCameraDetector>(std::move(ports)))
    {}
    FixedCameraDetector *const detector;

private:
    explicit TestConnection(std::unique_ptr<FixedCameraDetector> fixed) : CameraConnection(nullptr), detector(fixed.get())
    {
        setDetector(std::move(fixed));
    }
};

// An iPhone's camera roll served by the camera library's directory driver.
CameraPort iPhoneCamera(quint16 product)
{
    const QString root = testenv::makeTempDir(QStringLiteral("roll"));
    testenv::writeFile(root + QStringLiteral("/DCIM/100APPLE/IMG_0001.JPG"), QByteArray(2048, 'j'));
    CameraPort port;
    port.model = QStringLiteral("Directory Browse");
    port.port = QStringLiteral("disk:") + root;
    port.vendorID = 1452;
    port.productID = product;
    port.productName = QStringLiteral("iPhone");
    return port;
}

TEST(CameraRoll, TheOldIPhoneGetsTheCameraWithItsProductOnly)
{
    struct Case { const char *name; quint16 cameraProduct; bool plugIPhone; bool attached; };
    const Case cases[] = {
        {"matching iPhone", 4752, true, true},
        {"another iPhone's camera", 4754, true, false},
        {"not an Apple phone", 4752, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestConnection connection({iPhoneCamera(c.cameraProduct)});
        WizardHarness h(&connection);
        connection.setUdevSource(h.phones.usb());
        h.wizard().setState(3);
        ASSERT_TRUE(c.plugIPhone ? h.plugIPhone() : h.plugBlackBerry());
        EXPECT_EQ(h.wizard().oldDevice()->camera() != nullptr, c.attached);
        if (c.attached) {
            // Found while the backup advice shows: the wizard passes through
            // the connect step again and comes back.
            EXPECT_TRUE(h.waitFor([&] { return h.visited.size() >= 3 && h.wizard().currentState() == 3; }));
            EXPECT_EQ(h.visited.mid(0, 3), (QList<int>{3, 2, 3}));
        }
    }
}

}  // namespace
