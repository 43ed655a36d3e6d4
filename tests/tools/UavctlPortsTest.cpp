// uavctl ports on Linux: the port-map folder's links and the devices they lead to.
#include "PortListing.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(UavctlPorts, portsThatLeadToATerminal_areListedByNumberWithWhereTheyLead_danglingLinksLoopsAndFilesNot) {
    const fs::path root = fs::temp_directory_path() / ("uavctl-ports-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "map");
    fs::create_directories(root / "dev");
    fs::create_directories(root / "sys");
    std::ofstream(root / "dev" / "ttyUSB0") << "";
    std::ofstream(root / "dev" / "ttyACM0") << "";
    fs::create_symlink(root / "dev" / "ttyACM0", root / "map" / "com12");
    fs::create_symlink(root / "dev" / "ttyUSB0", root / "map" / "com2");
    fs::create_symlink(root / "dev" / "gone", root / "map" / "com3");    // dangling
    fs::create_symlink(root / "map" / "com4", root / "map" / "com4");    // a loop
    fs::create_symlink(root / "dev" / "ttyUSB0", root / "map" / "com0"); // no number --port takes
    std::ofstream(root / "map" / "notes") << "";
    // Somewhere, but no terminal: opening them would fail with ENOTTY or EISDIR.
    ASSERT_EQ(mkfifo((root / "dev" / "fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", root / "map" / "com5");
    fs::create_symlink(root / "map" / "notes", root / "map" / "com6");
    fs::create_symlink(root / "dev", root / "map" / "com7");
    fs::create_symlink(root / "dev" / "fifo", root / "map" / "com8");
    TPortRoots roots{(root / "map").string(), (root / "dev").string(), (root / "sys").string()};

    std::vector<std::string> rows;
    for (const TComPort& p : ListComPorts(roots))
        rows.push_back(std::to_string(p.Com) + " " + fs::path(p.Path).filename().string() + " " +
                       fs::path(p.Device).filename().string());
    EXPECT_EQ(rows, (std::vector<std::string>{"1 ttyUSB0 ttyUSB0", "2 com2 ttyUSB0", "12 com12 ttyACM0"}));
    fs::remove_all(root);
}
