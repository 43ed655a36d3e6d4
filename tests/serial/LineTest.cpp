// Pure rules of the line: the terminal layer's error marks in received bytes, and which read-back
// settings count as taken. Kept apart from <termios.h>, with which <asm/termbits.h> clashes.
#include "MarkedInput.h"
#include "PosixTermios.h"

#include <asm/termbits.h>
#include <gtest/gtest.h>

namespace {

const std::string FF = "\xFF";
const std::string NUL(1, '\0');

} // namespace

TEST(MarkedInput, marksBecomeCountsAndDataStaysData) {
    struct Case {
        std::vector<std::string> chunks;
        std::string data;
        TLineErrors errors;
        bool keepErrored = false; // parity not checked
    };
    const Case cases[] = {
        {{"a" + NUL + "b"}, "a" + NUL + "b", {}}, // a zero byte is data
        {{"a" + FF + FF + "b"}, "a" + FF + "b", {}},
        {{"a" + FF + NUL + NUL + "b"}, "ab", {1, 0, 0}}, // a break
        {{"a" + FF + NUL + "x" + "b"}, "ab", {0, 1, 0}}, // a byte with a parity or framing error
        {{"a" + FF, NUL, NUL + "b"}, "ab", {1, 0, 0}},   // a mark cut between reads
        {{"a" + FF, FF + "b"}, "a" + FF + "b", {}},
        {{FF + "q"}, FF + "q", {}}, // does not come from the kernel: nothing is lost
        // Unchecked, a byte in error is still marked (INPCK stays on), and kept: 0x41, or 0xFF itself.
        {{FF + NUL + "A" + "b"}, "Ab", {}, true},
        {{FF + NUL + FF + NUL + NUL}, FF + NUL + NUL, {}, true},
        {{FF + NUL + NUL + "b"}, "b", {1, 0, 0}, true}, // a break all the same
    };
    for (const Case& c : cases) {
        TMarkedInput marks;
        marks.KeepErrored(c.keepErrored);
        std::string data;
        TLineErrors errors;
        for (const std::string& chunk : c.chunks)
            marks.Feed(chunk, data, errors);
        EXPECT_EQ(data, c.data) << ::testing::PrintToString(c.chunks);
        EXPECT_EQ(errors, c.errors) << ::testing::PrintToString(c.chunks);
    }
}

TEST(DriverSettings, readBackCountsAsTaken_onlyWhereTheDriverKeptTheSetting) {
    termios2 asked{};
    asked.c_cflag = CS7 | PARENB | CREAD | CLOCAL | CRTSCTS;
    asked.c_iflag = PARMRK | INPCK;
    asked.c_ospeed = 14400;
    asked.c_cc[VMIN] = 1;
    struct Case {
        const char* what;
        void (*change)(termios2&);
        bool framingFixed;
        bool taken;
    };
    const Case cases[] = {
        {"all kept", [](termios2&) {}, false, true},
        {"rate 1% off", [](termios2& t) { t.c_ospeed = 14256; }, false, true},
        {"rate fell back", [](termios2& t) { t.c_ospeed = 9600; }, false, false},
        {"8 bits, no parity", [](termios2& t) { t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB)) | CS8; }, false,
         false},
        {"8 bits, no parity on a pty", [](termios2& t) { t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB)) | CS8; },
         true, true},
        {"no RTS/CTS on a pty", [](termios2& t) { t.c_cflag &= ~CRTSCTS; }, true, false},
        {"marks off", [](termios2& t) { t.c_iflag &= ~PARMRK; }, false, false},
        {"echo on", [](termios2& t) { t.c_lflag |= ECHO; }, false, false},
    };
    for (const Case& c : cases) {
        termios2 got = asked;
        c.change(got);
        EXPECT_EQ(DriverTookSettings(asked, got, c.framingFixed), c.taken) << c.what;
    }
}

TEST(DriverSettings, restoringWaitsForTheHardwareToEmpty_onlyWhenTheWireChangesAndNothingMayHoldIt) {
    termios2 ours{};
    ours.c_cflag = CS8 | CREAD | CLOCAL;
    ours.c_ospeed = 9600;
    struct Case {
        const char* what;
        void (*saved)(termios2&);
        tcflag_t ourFlow; // c_cflag CRTSCTS or c_iflag IXON
        bool waits;
    };
    const Case cases[] = {
        {"same wire, other local flags", [](termios2& t) { t.c_lflag |= ICANON | ECHO; }, 0, false},
        {"another rate", [](termios2& t) { t.c_ospeed = 115200; }, 0, true},
        {"parity", [](termios2& t) { t.c_cflag |= PARENB; }, 0, true},
        {"7 bits", [](termios2& t) { t.c_cflag = (t.c_cflag & ~CSIZE) | CS7; }, 0, true},
        {"two stop bits", [](termios2& t) { t.c_cflag |= CSTOPB; }, 0, true},
        {"another rate, RTS/CTS", [](termios2& t) { t.c_ospeed = 115200; }, CRTSCTS, false},
        {"another rate, XON/XOFF", [](termios2& t) { t.c_ospeed = 115200; }, IXON, false},
    };
    for (const Case& c : cases) {
        termios2 now = ours, saved = ours;
        (c.ourFlow == IXON ? now.c_iflag : now.c_cflag) |= c.ourFlow;
        c.saved(saved);
        EXPECT_EQ(RestoreWaitsForOutput(now, saved), c.waits) << c.what;
    }
}
