// The serial port on a pseudo-terminal whose master side the test drives byte by byte.

#include "link/CommPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A raw pseudo-terminal: the test writes to and reads from the master; a slave descriptor of its
// own keeps the line up while the port closes and reopens and lets the test read the line settings.
struct TRawPty {
    int Master = -1, Slave = -1;
    std::string Path;

    TRawPty() {
        char name[128];
        if (openpty(&Master, &Slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        Path = name;
        termios t{};
        tcgetattr(Slave, &t);
        cfmakeraw(&t);
        tcsetattr(Slave, TCSANOW, &t);
    }
    ~TRawPty() {
        CloseMaster();
        ::close(Slave);
    }
    void CloseMaster() {
        if (Master >= 0)
            ::close(Master);
        Master = -1;
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(::write(Master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // What the port wrote, once count bytes are there (or after a generous deadline, when it did not).
    std::string Receive(size_t count, int waitMs = 5000) {
        std::string got;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        fcntl(Master, F_SETFL, O_NONBLOCK);
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            char buf[256];
            ssize_t n = ::read(Master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, size_t(n));
            else
                usleep(1000);
        }
        return got;
    }
    termios Settings() const {
        termios t{};
        tcgetattr(Slave, &t);
        return t;
    }
};

class CommPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        Port.Open(Pty.Path);
        ASSERT_TRUE(Port.Opened) << Port.OpenFailure();
    }
    TRawPty Pty;
    TCommPort Port;
};

long Elapsed(std::chrono::steady_clock::time_point since) {
    return long(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
            .count());
}

} // namespace

TEST(CommPortClosed, FailedOpenLeavesThePortClosedAndSaysWhy) {
    TCommPort port;
    port.Open("/dev/korva-no-such-port");
    EXPECT_FALSE(port.Opened);
    EXPECT_EQ(port.Name, "");
    EXPECT_EQ(port.OpenError(), ENOENT);
    EXPECT_EQ(port.OpenFailure(), "No such device: /dev/korva-no-such-port");

    port.Open("/dev/null"); // opens as a file, but it is no serial line
    EXPECT_FALSE(port.Opened);
    EXPECT_EQ(port.OpenFailure(), "Not a serial device: /dev/null");
}

TEST(CommPortClosed, OperationsOnAClosedPortDoNothing) {
    TCommPort port;
    EXPECT_EQ(port.GetChar(), -1);
    EXPECT_EQ(port.InQueue(), 0);
    EXPECT_NO_THROW(port.PutString("0:CF?"));
    EXPECT_NO_THROW(port.Purge());
    EXPECT_NO_THROW(port.Close());
    auto start = std::chrono::steady_clock::now();
    try {
        port.ReadUntil('\n', 60);
        FAIL() << "a closed port cannot deliver a line";
    } catch (const ECommPort& e) {
        EXPECT_EQ(e.Code, 12);
        EXPECT_STREQ(e.what(), "Timeout reading from serial port!");
    }
    EXPECT_GE(Elapsed(start), 55);
}

TEST(CommPortClosed, PortNamesMapToDevices) {
    EXPECT_EQ(TSerialDevice::DevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(TSerialDevice::DevicePath("COM10"), "/dev/ttyS9");
    EXPECT_EQ(TSerialDevice::DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(TSerialDevice::DevicePath("ttyUSB1"), "/dev/ttyUSB1");
    EXPECT_EQ(TSerialDevice::DevicePath("com3"), "/dev/ttyS2");
    EXPECT_EQ(TSerialDevice::DevicePath("COM256"), "/dev/ttyS255");
    // COM numbers are read strictly: one that would wrap round to COM1 is no port at all.
    for (const char* name : {"COM4294967297", "COM0", "COM01", "COM257", "COM99999999999999999999"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(TSerialDevice::ComPortNumber(name), -1);
        EXPECT_EQ(TSerialDevice::DevicePath(name), name);
        TCommPort port;
        port.Open(name);
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.OpenError(), ENODEV);
        EXPECT_EQ(port.OpenFailure(), AnsiString("No such device: ") + name);
    }
    EXPECT_EQ(TSerialDevice::ComPortNumber("COMX"), 0);
    EXPECT_EQ(TSerialDevice::ComPortNumber("COM"), 0);
}

TEST(CommPortClosed, ErrorTable) {
    EXPECT_STREQ(CommPortErrorText[0], "Bad serial port specification.");
    EXPECT_STREQ(CommPortErrorText[10], "Error writing to serial port!");
    EXPECT_STREQ(CommPortErrorText[20], "Error CLEARCOMMERROR");
    EXPECT_STREQ(CommPortErrorMessage(uint8_t(TCommPortError::Timeout)), "Timeout reading from serial port!");
    EXPECT_STREQ(CommPortErrorMessage(21), CommPortErrorText[0]); // beyond the table: never past its end
    ECommPort e(TCommPortError::Purge, 5);
    ECommPort copy = e;
    EXPECT_EQ(copy.Code, 14); // the named codes keep the table's numbers
    EXPECT_EQ(copy.Error(), TCommPortError::Purge);
    EXPECT_EQ(copy.LastError, 5u);
    EXPECT_STREQ(copy.what(), "Error purging serial port!");
}

TEST_F(CommPortTest, OpensARawLineWithTheImposedSettings) {
    termios t = Pty.Settings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IXON), 0u);
    EXPECT_EQ(Port.Timeouts.ReadIntervalTimeout, 15u);
    EXPECT_EQ(Port.Timeouts.ReadTotalTimeoutConstant, 250u);
    EXPECT_EQ(Port.Dcb.DCBlength, 28u);
    EXPECT_EQ(Port.Dcb.RtsControl, TDcb::RtsToggle);
    EXPECT_EQ(Port.Dcb.DtrControl, TDcb::DtrDisable);
}

TEST_F(CommPortTest, SecondOpenIsIgnoredAndSecondProgramIsKeptOut) {
    Port.Open("/dev/korva-other");
    EXPECT_TRUE(Port.Opened);
    EXPECT_EQ(Port.Name, Pty.Path);

    TCommPort other;
    other.Open(Pty.Path);
    EXPECT_FALSE(other.Opened);
    EXPECT_EQ(other.OpenFailure(), "Device or resource busy: " + Pty.Path + " is in use by another program");
}

TEST_F(CommPortTest, CloseAndReopenKeepsTheLineSettings) {
    Port.SetBaudRate(19200);
    EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(Pty.Settings())), speed_t(B19200));
    Port.Close();
    EXPECT_FALSE(Port.Opened);
    EXPECT_EQ(Port.Name, "");

    // Closed, the line has its own settings back, and a change is only kept for the next open.
    const speed_t own = cfgetospeed(&static_cast<const termios&>(Pty.Settings()));
    EXPECT_NE(own, speed_t(B19200));
    Port.SetBaudRate(9600);
    EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(Pty.Settings())), own);
    Port.Open(Pty.Path);
    ASSERT_TRUE(Port.Opened) << Port.OpenFailure();
    EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(Pty.Settings())), speed_t(B9600));
}

TEST_F(CommPortTest, RefusedSettingRestoresTheOldValue) {
    try {
        Port.SetBaudRate(12345);
        FAIL();
    } catch (const ECommPort& e) {
        EXPECT_EQ(e.Code, 1);
        EXPECT_EQ(e.LastError, uint32_t(EINVAL));
    }
    EXPECT_EQ(Port.Dcb.BaudRate, 9600u);
    try {
        Port.SetByteSize(9);
        FAIL();
    } catch (const ECommPort& e) {
        EXPECT_EQ(e.Code, 4);
    }
    EXPECT_EQ(Port.Dcb.ByteSize, 8);
    EXPECT_THROW(Port.SetStopBits(7), ECommPort);
    EXPECT_EQ(Port.Dcb.StopBits, TDcb::OneStopBit);
    EXPECT_THROW(Port.SetParity(9), ECommPort);
    EXPECT_EQ(Port.Dcb.Parity, TDcb::NoParity);
    // A pseudo-terminal keeps 8 bits without parity whatever it is told: the read-back catches that.
    try {
        Port.SetParity(TDcb::EvenParity);
        FAIL();
    } catch (const ECommPort& e) {
        EXPECT_EQ(e.Code, 5);
    }
    EXPECT_EQ(Port.Dcb.Parity, TDcb::NoParity);
}

TEST_F(CommPortTest, ReadUntilKeepsTheCarriageReturn) {
    Pty.Send("12.5\r\nOK\n");
    EXPECT_EQ(Port.ReadUntil('\n', 1000), "12.5\r");
    EXPECT_EQ(Port.ReadUntil('\n', 1000), "OK");
    Pty.Send("\n");
    EXPECT_EQ(Port.ReadUntil('\n', 1000), "");
}

TEST_F(CommPortTest, ReadUntilTimesOutOnAnUnfinishedLineAndLosesIt) {
    Pty.Send("OK");
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(Port.ReadUntil('\n', 100), ECommPort);
    EXPECT_GE(Elapsed(start), 95);
    EXPECT_LT(Elapsed(start), 2000); // ends at its limit, not at the line end that never comes

    Pty.Send("\n");
    EXPECT_EQ(Port.ReadUntil('\n', 1000), ""); // the "OK" went with the failed read
}

TEST_F(CommPortTest, ReadUntilStopsAnOverlongLine) {
    Pty.Send(std::string(300, 'x'));
    auto start = std::chrono::steady_clock::now();
    AnsiString line = Port.ReadUntil('\n', 5000, 100);
    EXPECT_EQ(line, std::string(101, 'x'));
    EXPECT_LT(Elapsed(start), 2000);
}

TEST_F(CommPortTest, BytesGoOutAsWrittenAndPurgeDiscardsInput) {
    Port.PutString("3:CF?");
    Port.PutChar('\n');
    EXPECT_EQ(Pty.Receive(6), "3:CF?\n");

    Pty.Send("stale\n");
    for (int i = 0; i < 5000 && Port.InQueue() < 6; ++i)
        usleep(1000);
    EXPECT_EQ(Port.InQueue(), 6);
    EXPECT_EQ(Port.GetChar(), 's');
    Port.Purge();
    EXPECT_EQ(Port.InQueue(), 0);
}

// Input comes in blocks into the port's buffer: what a line read brought beyond its terminator waits
// there, in order, counted by InQueue with the device's bytes, and Purge empties it with the device.
TEST_F(CommPortTest, BlockReadingKeepsTheByteWiseMeaning) {
    Pty.Send("one\ntwo\nthr");
    EXPECT_EQ(Port.ReadUntil('\n', 1000), "one");
    EXPECT_EQ(Port.InQueue(), 7);
    EXPECT_EQ(Port.GetChar(), 't');
    EXPECT_EQ(Port.InQueue(), 6);
    Pty.Send("ee\n");
    for (int i = 0; i < 200 && Port.InQueue() < 9; ++i)
        usleep(1000);
    EXPECT_EQ(Port.InQueue(), 9);
    EXPECT_EQ(Port.ReadUntil('\n', 1000), "wo");
    EXPECT_EQ(Port.ReadUntil('\n', 1000), "three");

    Pty.Send("stale\nline\n");
    EXPECT_EQ(Port.ReadUntil('\n', 1000), "stale");
    Port.Purge(); // "line" was in the port's buffer, not the device's
    EXPECT_EQ(Port.InQueue(), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Port.GetChar(), -1); // nothing within the read time-outs (250 ms + 1 ms per byte)
    EXPECT_GE(Elapsed(start), 240);
    Pty.Send("x\n");
    EXPECT_EQ(Port.ReadUntil('\n', 1000), "x");
}

// The pause between empty polls ends as soon as a byte is there, and never outlasts its bound.
TEST(SerialDeviceWait, EndsEarlyOnInputAndKeepsItsBound) {
    TRawPty pty;
    TLocalSerialDevice device;
    ASSERT_TRUE(device.Open(pty.Path));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(device.WaitForInput(200));
    EXPECT_GE(Elapsed(start), 190);
    pty.Send("x");
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(device.WaitForInput(5000));
    EXPECT_LT(Elapsed(start), 1000);
}

// A hung-up line (the adapter pulled out) fails the call that meets it, closes the port and keeps
// its name for Reopen; a port the user closed, or one whose Open failed, is never taken up again.
TEST(CommPortLost, AVanishedDeviceClosesThePortAndReopenTakesItUpAgain) {
    const std::string link = ::testing::TempDir() + "korva-lost-port-" + std::to_string(::getpid());
    struct TRow {
        const char* What;
        int Code;
        std::function<void(TCommPort&)> Call;
    };
    const TRow rows[] = {{"InQueue", 20, [](TCommPort& p) { p.InQueue(); }},
                         {"PutString", 10, [](TCommPort& p) { p.PutString("0:VER?"); }},
                         {"ReadUntil", 20, [](TCommPort& p) { p.ReadUntil('\n', 1000); }}};
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
        auto first = std::make_unique<TRawPty>();
        ::unlink(link.c_str());
        ASSERT_EQ(::symlink(first->Path.c_str(), link.c_str()), 0);
        TCommPort port;
        port.Open(link);
        ASSERT_TRUE(port.Opened) << port.OpenFailure();

        first.reset(); // both ends gone, as when the adapter is pulled out
        // The name now leads nowhere. (Not the old pseudo-terminal's path: the system hands its
        // number out again at once, perhaps to another test running beside this one.)
        ::unlink(link.c_str());
        ASSERT_EQ(::symlink((link + "-gone").c_str(), link.c_str()), 0);
        try {
            row.Call(port);
            ADD_FAILURE() << "a hung-up line must not look like an idle one";
        } catch (const ECommPort& e) {
            EXPECT_EQ(e.Code, row.Code);
            EXPECT_EQ(e.LastError, uint32_t(EIO));
        }
        EXPECT_FALSE(port.Opened);
        EXPECT_TRUE(port.Lost());
        EXPECT_EQ(port.Name, link);
        EXPECT_EQ(port.OpenError(), EIO);
        EXPECT_NO_THROW(port.PutString("0:VER?")); // closed now: nothing happens

        EXPECT_FALSE(port.Reopen()); // the node still points at nothing
        EXPECT_TRUE(port.Lost());
        EXPECT_EQ(port.OpenFailure().rfind("No such device: ", 0), 0u) << port.OpenFailure();

        TRawPty second;
        ::unlink(link.c_str());
        ASSERT_EQ(::symlink(second.Path.c_str(), link.c_str()), 0);
        ASSERT_TRUE(port.Reopen()) << port.OpenFailure();
        EXPECT_EQ(port.Name, link);
        EXPECT_EQ(port.OpenFailure(), "");
        EXPECT_EQ(second.Settings().c_cflag & CSIZE, tcflag_t(CS8)); // the line settings again
        port.PutString("ok");
        EXPECT_EQ(second.Receive(2), "ok");

        port.Close();
        EXPECT_FALSE(port.Lost());
        EXPECT_FALSE(port.Reopen());
        EXPECT_FALSE(port.Opened);
    }
    ::unlink(link.c_str());
}

TEST(CommPortLost, ClosedOrNeverOpenedOrFailedPortsAreNotReopened) {
    TRawPty pty;
    TCommPort never;
    EXPECT_FALSE(never.Lost());
    EXPECT_FALSE(never.Reopen());

    TCommPort failed;
    failed.Open("/dev/korva-no-such-port");
    EXPECT_FALSE(failed.Lost());
    EXPECT_FALSE(failed.Reopen());

    TCommPort closed;
    closed.Open(pty.Path);
    ASSERT_TRUE(closed.Opened);
    closed.Close();
    EXPECT_FALSE(closed.Reopen());
    EXPECT_FALSE(closed.Opened);
}

namespace {

// A process of its own that runs a session on the pseudo-terminal, as a shell does: the terminal
// is that session's controlling terminal for as long as the process lives.
struct TSessionOn {
    explicit TSessionOn(int slave) {
        int ready[2];
        if (::pipe(ready) != 0)
            throw std::runtime_error("pipe failed");
        Pid = ::fork();
        if (Pid == 0) {
            ::setsid();
            const char ok = ::ioctl(slave, TIOCSCTTY, 0) == 0 ? '1' : '0';
            (void)!::write(ready[1], &ok, 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char ok = 0;
        Ready = ::read(ready[0], &ok, 1) == 1 && ok == '1';
        ::close(ready[0]);
    }
    ~TSessionOn() {
        ::kill(Pid, SIGKILL);
        ::waitpid(Pid, nullptr, 0);
    }
    pid_t Pid = -1;
    bool Ready = false;
};

} // namespace

// The name of a lost port taken meanwhile by a shell's terminal (a pseudo-terminal number handed
// out again): neither a reopen nor an open takes it over, and the reason says why.
TEST(CommPortLost, ASessionsTerminalIsNeverTakenOver) {
    const std::string link = ::testing::TempDir() + "korva-session-port-" + std::to_string(::getpid());
    auto first = std::make_unique<TRawPty>();
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(first->Path.c_str(), link.c_str()), 0);
    TCommPort port;
    port.Open(link);
    ASSERT_TRUE(port.Opened) << port.OpenFailure();
    first.reset();
    EXPECT_THROW(port.InQueue(), ECommPort);
    ASSERT_TRUE(port.Lost());

    TRawPty shells;
    termios cooked = shells.Settings();
    cooked.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(shells.Slave, TCSANOW, &cooked), 0);
    TSessionOn session(shells.Slave);
    ASSERT_TRUE(session.Ready);
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(shells.Path.c_str(), link.c_str()), 0);

    EXPECT_FALSE(port.Reopen());
    EXPECT_TRUE(port.Lost());
    EXPECT_EQ(port.OpenFailure(), "In use as a session's terminal: " + link +
                                      " belongs to a shell or a login, not to a controller");
    EXPECT_EQ(shells.Settings().c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO)) << "left as it was";
    EXPECT_EQ(shells.Receive(1, 300), ""); // nothing was written into it

    TCommPort direct;
    direct.Open(shells.Path);
    EXPECT_FALSE(direct.Opened);
    EXPECT_EQ(direct.OpenError(), TSerialDevice::SessionTerminalError);
    ::unlink(link.c_str());
}

// Whatever the console did to the line, the port gets back the settings it had before.
TEST(CommPortClose, ThePortGetsBackItsOwnLineSettings) {
    TRawPty pty;
    termios before = pty.Settings();
    before.c_iflag |= ICRNL | IXON;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_cflag = (before.c_cflag & ~CSIZE) | CS7 | PARENB;
    cfsetispeed(&before, B19200);
    cfsetospeed(&before, B19200);
    ASSERT_EQ(tcsetattr(pty.Slave, TCSANOW, &before), 0);
    before = pty.Settings();

    TCommPort port;
    port.Open(pty.Path);
    ASSERT_TRUE(port.Opened) << port.OpenFailure();
    EXPECT_EQ(pty.Settings().c_lflag & ICANON, 0u);
    port.SetBaudRate(4800);
    port.Close();

    const termios after = pty.Settings();
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(cfgetospeed(&after), speed_t(B19200));
}
