#include "serial/port_namespace.h"
#include "serial/system_console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A private port directory, set as ZORVIDLK_PORT_DIR while the test runs.
class PortDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zvnsXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        setenv("ZORVIDLK_PORT_DIR", dir.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ZORVIDLK_PORT_DIR");
        std::system(("rm -rf '" + dir + "'").c_str());
        if (master >= 0) {
            close(master);
        }
    }
    std::string entry(int com) const { return dir + "/COM" + std::to_string(com); }
    // A pseudo-terminal's slave path; the master stays open for the test.
    std::string make_pty() {
        int slave = -1;
        char name[64];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            return "";
        }
        close(slave);
        return name;
    }
    SerialStatus open_com(int com) {
        std::unique_ptr<SerialEndpoint> endpoint;
        return open_endpoint(com - 1, SerialDefaults{}, endpoint);
    }
    std::string dir;
    int master = -1;
};

} // namespace

TEST(PortPath, FixedTableWithoutPortDirectory) {
    unsetenv("ZORVIDLK_PORT_DIR");
    EXPECT_EQ(port_path(0), "/dev/ttyS0");
    EXPECT_EQ(port_path(31), "/dev/ttyS31");
    EXPECT_EQ(port_path(32), "/dev/ttyUSB0");
    EXPECT_EQ(port_path(63), "/dev/ttyUSB31");
    EXPECT_EQ(port_path(64), "/dev/ttyACM0");
    EXPECT_EQ(port_path(95), "/dev/ttyACM31");
    EXPECT_EQ(port_path(96), "");
    EXPECT_EQ(port_path(255), "");
    EXPECT_EQ(port_path(-1), "");
    EXPECT_EQ(port_path(256), "");
}

TEST(PortPath, EmptyPortDirectoryNamesNoPorts) {
    setenv("ZORVIDLK_PORT_DIR", "", 1);
    EXPECT_EQ(port_path(0), "");
    std::unique_ptr<SerialEndpoint> endpoint;
    EXPECT_EQ(open_endpoint(0, SerialDefaults{}, endpoint), -10);
    unsetenv("ZORVIDLK_PORT_DIR");
}

TEST_F(PortDirTest, PortDirectoryReplacesTheTable) {
    EXPECT_EQ(port_path(0), entry(1));
    EXPECT_EQ(port_path(9), entry(10));
    EXPECT_EQ(port_path(255), entry(256));
    EXPECT_EQ(port_path(256), "");
}

TEST_F(PortDirTest, EntriesTellWhyAPortDoesNotOpen) {
    const std::string slave = make_pty();
    ASSERT_FALSE(slave.empty());
    ASSERT_EQ(symlink(slave.c_str(), entry(1).c_str()), 0);
    ASSERT_EQ(symlink((dir + "/unplugged").c_str(), entry(2).c_str()), 0);
    ASSERT_EQ(symlink(entry(3).c_str(), entry(3).c_str()), 0);
    std::fclose(std::fopen(entry(4).c_str(), "w"));
    ASSERT_EQ(mkdir(entry(5).c_str(), 0700), 0);

    EXPECT_EQ(open_com(1), 0);
    EXPECT_EQ(open_com(2), -13); // dangling link
    EXPECT_EQ(open_com(3), -13); // link loop
    EXPECT_EQ(open_com(4), -10); // regular file
    EXPECT_EQ(open_com(5), -10); // directory
    EXPECT_EQ(open_com(6), -10); // no entry
    std::unique_ptr<SerialEndpoint> endpoint;
    EXPECT_EQ(open_endpoint(-1, SerialDefaults{}, endpoint), -1);
}

TEST_F(PortDirTest, ConsoleListNamesTheConsoleTty) {
    const std::string slave = make_pty();
    ASSERT_FALSE(slave.empty());
    struct stat status {};
    ASSERT_EQ(stat(slave.c_str(), &status), 0);
    const std::string list = dir + "/active";
    const std::string name = slave.substr(std::string("/dev/").size()); // "pts/N"

    std::FILE* out = std::fopen(list.c_str(), "w");
    std::fprintf(out, "tty0 %s\n", name.c_str());
    std::fclose(out);
    EXPECT_TRUE(is_system_console(status.st_rdev, list.c_str()));

    out = std::fopen(list.c_str(), "w");
    std::fprintf(out, "tty0\n");
    std::fclose(out);
    EXPECT_FALSE(is_system_console(status.st_rdev, list.c_str()));
    EXPECT_FALSE(is_system_console(status.st_rdev, (dir + "/missing").c_str()));
}
