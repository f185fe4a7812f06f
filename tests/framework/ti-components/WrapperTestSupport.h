// What the tests of the device wrappers share: the platform stand-in with a private platform root,
// the input at 1080p60, the monitor a 1080p60 preset (another set with Monitor before the display
// is created), the log quiet, and every handle and thread given back.
#ifndef PELLIX_WRAPPER_TEST_SUPPORT_H
#define PELLIX_WRAPPER_TEST_SUPPORT_H

#include <memory>
#include <string>

#include "EngineTestSupport.h"
#include "FrameSink.h"
#include "LibraryTestSupport.h"
#include "TempDir.h"
#include "ti814x-omx.h"

class CWrapperTest : public CEngineTest
{
protected:
    void TearDown() override
    {
        SetInfoMessageLevel(0);
        CEngineTest::TearDown();
    }
    void Monitor(const std::string& roMonitor)
    {
        m_poMonitor.reset();
        m_poMonitor.reset(new CScopedEnv("PELLIX_SIM_MONITOR", roMonitor));
    }
    std::string DriverFile(const std::string& roName) const
    {
        return m_oRoot.Read("sys/devices/platform/vpss/display0/" + roName);
    }

    CTempDir m_oRoot;
    CScopedEnv m_oRootEnv{"PELLIX_PLATFORM_ROOT", m_oRoot.Path().string()};
    std::unique_ptr<CScopedEnv> m_poMonitor;
};

#endif // PELLIX_WRAPPER_TEST_SUPPORT_H
