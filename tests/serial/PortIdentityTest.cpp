// Which port is which and why it will not open, read from a recorded tree (tests/serial/data/ports): an
// 8250 behind the serial core's own devices, an FTDI adapter, an odd USB entry, a CDC-ACM gadget, a
// device with no sysfs entry, port-map links (one dangling), and a /proc where ModemManager holds the FTDI
// and an indexer has it open only through a link outside /dev, which is never followed.
#include "OpenFailureHint.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path kData = UAV_PORTS_DATA;
const std::string kFtdiById = "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";

TPortRoots RecordedRoots() {
    TPortRoots roots;
    roots.MapDir = (kData / "map").string();
    roots.DevDir = (kData / "dev").string();
    roots.SysTtyDir = (kData / "sys/class/tty").string();
    return roots;
}

std::string Dev(const char* name) {
    return (kData / "dev" / name).string();
}

} // namespace

TEST(PortListing, recordedTree_namesEachAdapter_andLeavesWhatIsMissingOrOddEmpty) {
    const TPortIdentity ftdi{kFtdiById, "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A1B2C3"};
    const struct {
        int com;
        std::string path, device;
        TPortIdentity identity;
    } expected[] = {
        {1, Dev("ttyS0"), Dev("ttyS0"), {"", "serial", "", "", "", "", ""}},
        {2, Dev("ttyUSB0"), Dev("ttyUSB0"), ftdi},
        {3, Dev("ttyUSB1"), Dev("ttyUSB1"), {"", "", "", "6015", "Acme", "", ""}},
        {4,
         Dev("ttyACM0"),
         Dev("ttyACM0"),
         {"usb-Linux_6.1.0-28-amd64_with_dummy_udc_Gadget_Serial_v2.4-if00", "cdc_acm", "0525", "a4a7",
          "Linux 6.1.0-28-amd64 with dummy_udc", "Gadget Serial v2.4", ""}},
        {5, Dev("ttyACM1"), Dev("ttyACM1"), TPortIdentity{}},
        {9, (kData / "map/com9").string(), Dev("ttyUSB0"), ftdi}, // com8 dangles: left out
    };
    const std::vector<TComPort> ports = ListComPorts(RecordedRoots());
    ASSERT_EQ(ports.size(), std::size(expected));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE("COM" + std::to_string(expected[i].com));
        EXPECT_EQ(ports[i].Com, expected[i].com);
        EXPECT_EQ(ports[i].Path, expected[i].path);
        EXPECT_EQ(ports[i].Device, expected[i].device);
        EXPECT_EQ(DescribePortIdentity(ports[i].Identity), DescribePortIdentity(expected[i].identity));
        EXPECT_TRUE(ports[i].Identity == expected[i].identity) << ports[i].Identity.ById;
    }
    EXPECT_EQ(DescribePortIdentity(ftdi), "FTDI FT232R USB UART, 0403:6001, serial A1B2C3, ftdi_sio");
}

TEST(OpenFailureHint, eachRefusal_saysWhatTheOperatorCanActOn) {
    const std::vector<TComPort> listing = ListComPorts(RecordedRoots());
    const std::string numbers = "COM numbers that lead somewhere now: 1 (" + Dev("ttyS0") + "), 2 (" +
                                Dev("ttyUSB0") + ", FT232R USB UART), 3 (" + Dev("ttyUSB1") + "), 4 (" +
                                Dev("ttyACM0") + ", Gadget Serial v2.4), 5 (" + Dev("ttyACM1") + "), 9 (" +
                                Dev("ttyUSB0") + ", FT232R USB UART)";
    const struct {
        int error;
        std::string path, hint;
    } cases[] = {
        {EBUSY, Dev("ttyUSB0"), "held by ModemManager (pid 812)"},
        {EBUSY, (kData / "map/com9").string(), "held by ModemManager (pid 812)"},
        {EBUSY, Dev("ttyACM0"),
         "another program holds it, often ModemManager or brltty; sudo fuser -v " + Dev("ttyACM0") +
             " shows which"},
        {EBUSY, Dev("pts/3"),
         "another program holds it, or one that was killed left it claimed until the program that made this "
         "pseudo-terminal closes it; sudo fuser -v " +
             Dev("pts/3") + " shows a holder"},
        {ENOENT, "", numbers},
        {ENOENT, (kData / "map/com8").string(),
         "its link leads to ../dev/ttyUSB7, which is not there; " + numbers},
        {EIO, Dev("ttyUSB0"), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            OpenFailureHint(c.error, c.path, listing, (kData / "proc").string(), (kData / "dev").string()),
            c.hint)
            << c.path;
    EXPECT_EQ(OpenFailureHint(ENOENT, "", std::vector<TComPort>{}), "no COM number leads to a device now");
    TPortRoots broken = RecordedRoots();
    broken.MapError = ENOTDIR;
    EXPECT_EQ(OpenFailureHint(ENOTDIR, "", broken),
              "the port-map folder UAVCONTROL_PORTS=" + broken.MapDir + " cannot be used: Not a directory");
}

TEST(OpenFailureHint, refusedPermission_namesTheGroupToJoinOrWhyJoiningIsNotEnough) {
    const struct {
        TAccessFacts facts;
        std::string hint;
    } cases[] = {
        {{"crw-rw----", "root", "dialout", false, false, false},
         "the device belongs to group dialout, and you are not in it: sudo usermod -aG dialout $USER, then "
         "log out and in again"},
        {{"crw-rw----", "root", "dialout", false, false, true},
         "you were added to group dialout after this session began: log out and in again"},
        {{"crw-------", "root", "root", true, false, false},
         "the device is crw------- root root, which does not let you read and write it"},
        {{"crw-rw----", "root", "dialout", false, true, true}, ""}, // not the permissions: nothing to add
        {TAccessFacts{}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AccessHint(c.facts), c.hint) << c.facts.Mode;

    // The facts as the system gives them, on a file of this user's own group.
    const fs::path own = fs::temp_directory_path() / ("uav-access-" + std::to_string(getpid()));
    std::ofstream(own) << "";
    ::chmod(own.c_str(), 0660);
    const TAccessFacts facts = ReadAccessFacts(own.string());
    fs::remove(own);
    EXPECT_EQ(facts.Mode, "-rw-rw----");
    EXPECT_TRUE(facts.InGroupNow);
}
