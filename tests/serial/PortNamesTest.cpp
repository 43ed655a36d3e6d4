#include "PortNames.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class PortNames : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("uav-ports-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        for (const char* d : {"map", "dev", "sys"})
            fs::create_directories(root_ / d);
        roots_.MapDir = (root_ / "map").string();
        roots_.DevDir = (root_ / "dev").string();
        roots_.SysTtyDir = (root_ / "sys").string();
    }
    void TearDown() override { fs::remove_all(root_); }

    void Device(const std::string& name) { std::ofstream(root_ / "dev" / name) << ""; }
    void Uart(const std::string& name, int type) {
        Device(name);
        fs::create_directories(root_ / "sys" / name);
        std::ofstream(root_ / "sys" / name / "type") << type << "\n";
    }
    std::string Dev(const std::string& name) const { return (root_ / "dev" / name).string(); }

    fs::path root_;
    TPortRoots roots_;
};

} // namespace

TEST_F(PortNames, devices_areNumberedByFamilyThenNumericOrder) {
    Uart("ttyS0", 4);
    Uart("ttyS1", 0); // no chip behind it
    Uart("ttyS10", 4);
    Uart("ttyS2", 4);
    Device("ttyACM0");
    Device("ttyUSB11");
    Device("ttyUSB2");
    Device("ttyUSBx"); // not a numbered device
    Device("tty0");
    const std::vector<std::string> expected{Dev("ttyS0"),   Dev("ttyS2"),    Dev("ttyS10"),
                                            Dev("ttyUSB2"), Dev("ttyUSB11"), Dev("ttyACM0")};
    EXPECT_EQ(ListSerialDevices(roots_), expected);
    EXPECT_EQ(ResolveComPort("COM1", roots_), Dev("ttyS0"));
    EXPECT_EQ(ResolveComPort("COM4", roots_), Dev("ttyUSB2"));
    EXPECT_EQ(ResolveComPort("COM6", roots_), Dev("ttyACM0"));
    EXPECT_EQ(ResolveComPort("COM7", roots_), std::nullopt);
    EXPECT_EQ(ResolveComPort("COM0", roots_), std::nullopt);
}

TEST_F(PortNames, mapLink_winsOverDeviceOrder_evenWhenDangling) {
    Uart("ttyS0", 4);
    fs::create_symlink("/dev/null", root_ / "map" / "com1");
    fs::create_symlink(root_ / "nowhere", root_ / "map" / "com0");
    EXPECT_EQ(ResolveComPort("COM1", roots_), (root_ / "map" / "com1").string());
    EXPECT_EQ(ResolveComPort("COM0", roots_), (root_ / "map" / "com0").string())
        << "a dangling link still names the port, so opening it fails as a missing file";
}

TEST_F(PortNames, missingFolders_andOtherNames_resolveToNothing) {
    roots_.MapDir = (root_ / "absent").string();
    roots_.DevDir = (root_ / "absent").string();
    EXPECT_EQ(ResolveComPort("COM1", roots_), std::nullopt);
    EXPECT_EQ(ResolveComPort("LPT1", roots_), std::nullopt);
    EXPECT_EQ(ResolveComPort("COM", roots_), std::nullopt);
}

TEST_F(PortNames, portMapVariableThatNamesNoFolder_resolvesNothingByPosition_andSaysWhy) {
    Device("ttyUSB0"); // COM1 by position
    std::ofstream(root_ / "file") << "";
    const char* old = std::getenv("UAVCONTROL_PORTS");
    const std::string saved = old ? old : "";
    const std::vector<std::pair<std::string, int>> cases = {
        {(root_ / "absent").string(), ENOENT}, {(root_ / "file").string(), ENOTDIR}, {"map", EINVAL}};
    for (const auto& [dir, code] : cases) {
        setenv("UAVCONTROL_PORTS", dir.c_str(), 1);
        TPortRoots roots = TPortRoots::FromEnvironment();
        roots.DevDir = roots_.DevDir;
        int error = 0;
        EXPECT_EQ(ResolveComPort("COM1", roots, &error), std::nullopt) << dir;
        EXPECT_EQ(error, code) << dir;
    }
    old ? setenv("UAVCONTROL_PORTS", saved.c_str(), 1) : unsetenv("UAVCONTROL_PORTS");
}

TEST(PortRoots, environmentFolder_beatsHome) {
    const char* old = std::getenv("UAVCONTROL_PORTS");
    const std::string saved = old ? old : "";
    setenv("UAVCONTROL_PORTS", "/tmp/x-ports", 1);
    EXPECT_EQ(TPortRoots::FromEnvironment().MapDir, "/tmp/x-ports");
    unsetenv("UAVCONTROL_PORTS");
    const char* home = std::getenv("HOME");
    if (home) {
        EXPECT_EQ(TPortRoots::FromEnvironment().MapDir, std::string(home) + "/.config/uavcontrol/ports");
    }
    if (old)
        setenv("UAVCONTROL_PORTS", saved.c_str(), 1);
}
