// The access-token list: slots, the master token, the token file and its hostile variants,
// and eight threads at once.
#include "solvan_token.h"

#include <gtest/gtest.h>

#include "CapturedLog.h"
#include "Shell.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

uint64_t tokenOf(const char* name) {
    struct {
        char name[128];  // a device record as the bus lays it out: the name comes first
    } device{};
    std::snprintf(device.name, sizeof device.name, "%s", name);
    return solvan_get_device_token(reinterpret_cast<const solvan_device*>(&device));
}

class Token : public ::testing::Test {
  protected:
    void SetUp() override {
        solvan_clear_device_tokens();
        solvan_set_master_token(0);
    }
    // Writes `text` as the token file.
    void write(const std::string& text) { dir_.write("acl", text); }
    // Saves the list and returns the file.
    std::string save() {
        EXPECT_TRUE(solvan_save_device_tokens(path_.c_str()));
        return shell("cat " + path_);
    }

    ScratchDir dir_;
    const std::string path_ = (dir_.path / "acl").string();
};

TEST_F(Token, FourLineFileLoadsDeviceAndMasterAndSavesWithoutMaster) {
    write("# tokens\n\n2a CCD Camera\nBEEF @\n");
    CapturedLog log(SOLVAN_LOG_DEBUG);
    ASSERT_TRUE(solvan_load_device_tokens(path_.c_str()));
    EXPECT_EQ(tokenOf("CCD Camera"), 0x2au);
    EXPECT_EQ(tokenOf("CCD"), 0u);
    EXPECT_EQ(solvan_get_master_token(), 0xbeefu);
    EXPECT_TRUE(log.has("ACL: Token for 'CCD Camera' = 0x2a added at slot 0"));
    EXPECT_EQ(save(), "# Device ACL saved by SOLVAN\n      2a CCD Camera\n");
}

TEST_F(Token, WindowsLineEndsLoadTheSameRecords) {
    write("# tokens\r\n\r\n12ab34cd CCD Camera\r\ndeadbeef @\r\n");
    ASSERT_TRUE(solvan_load_device_tokens(path_.c_str()));
    EXPECT_EQ(tokenOf("CCD Camera"), 0x12ab34cdu);
    EXPECT_EQ(tokenOf("CCD Camera\r"), 0u);
    EXPECT_EQ(solvan_get_master_token(), 0xdeadbeefu);
    EXPECT_EQ(save(), "# Device ACL saved by SOLVAN\n12ab34cd CCD Camera\n");
}

TEST_F(Token, SlotsRunOutAtTwoHundredFiftySeven) {
    for (int i = 0; i < 256; i++)
        ASSERT_TRUE(solvan_add_device_token(("device " + std::to_string(i)).c_str(), i + 1));
    CapturedLog log(SOLVAN_LOG_DEBUG);
    EXPECT_FALSE(solvan_add_device_token("device 256", 1));
    EXPECT_EQ(log.lines(), Lines{"ACL: No slots available."});
    EXPECT_TRUE(solvan_add_device_token("device 7", 0x77));  // a present name is replaced
    EXPECT_EQ(tokenOf("device 7"), 0x77u);
    EXPECT_TRUE(solvan_remove_device_token("device 100"));
    EXPECT_FALSE(solvan_remove_device_token("device 100"));
    EXPECT_TRUE(solvan_add_device_token("device 256", 0x256));  // takes the freed slot
    EXPECT_TRUE(log.has("ACL: Token for 'device 256' = 0x256 added at slot 100"));
    EXPECT_FALSE(solvan_add_device_token(nullptr, 1));
    EXPECT_FALSE(solvan_remove_device_token(nullptr));
}

TEST_F(Token, MasterTokenStandsInForDevicesWithoutTheirOwn) {
    solvan_add_device_token("Mount", 0x11);
    solvan_add_device_token("Unlocked", 0);
    EXPECT_EQ(solvan_get_device_or_master_token("Focuser"), 0u);
    solvan_set_master_token(0x1234567890abcdefULL);
    EXPECT_EQ(solvan_get_device_or_master_token("Mount"), 0x11u);
    EXPECT_EQ(solvan_get_device_or_master_token("Focuser"), 0x1234567890abcdefULL);
    EXPECT_EQ(solvan_get_device_or_master_token("Unlocked"), 0x1234567890abcdefULL);
    EXPECT_EQ(solvan_get_device_or_master_token(nullptr), 0x1234567890abcdefULL);
    EXPECT_EQ(solvan_get_device_token(nullptr), 0u);
    solvan_clear_device_tokens();  // keeps the master token
    EXPECT_EQ(tokenOf("Mount"), 0u);
    EXPECT_EQ(solvan_get_master_token(), 0x1234567890abcdefULL);
    const std::pair<const char*, uint64_t> texts[] = {{"2a", 0x2a},
                                                      {"  0xFF name", 0xff},
                                                      {"deadbeefcafe", 0xdeadbeefcafeULL},
                                                      {"", 0},
                                                      {"zz", 0},
                                                      {"12345678901234567890abc", ~0ULL},
                                                      {nullptr, 0}};
    for (auto [text, token] : texts)
        EXPECT_EQ(solvan_string_to_token(text), token) << (text ? text : "(none)");
}

TEST_F(Token, NamesTheFileCannotGiveBackAreRefused) {
    const std::string prefix(127, 'N');
    const struct {
        std::string name;
        bool added;
    } cases[] = {
        {prefix, true},
        {prefix + "A", false},  // 128 characters
        {prefix + "B", false},  // would share the slot of the one above
        {std::string(300, 'L'), false},
        {"Evil\nffff @", false},  // would load back as the master token
        {"@", false},
        {"Line\nfeed", false},
        {"CR\rstays", true},
        {"CR\r", false},  // the load takes a return before the line feed as the line end
        {"CR \r", false},
        {"", false},
        {" CCD", false},  // the load skips white space before a name
        {"\tCCD", false},
        {"\rCCD", false},
        {"CCD ", false},  // and cuts blanks and tabs after it
        {"CCD\t", false},
        {"CCD  Camera", true},
        {"\t", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        solvan_clear_device_tokens();
        EXPECT_EQ(solvan_add_device_token(c.name.c_str(), 0x77), c.added);
        EXPECT_EQ(solvan_get_device_or_master_token(c.name.c_str()), c.added ? 0x77u : 0u);
        save();
        solvan_clear_device_tokens();
        ASSERT_TRUE(solvan_load_device_tokens(path_.c_str()));
        EXPECT_EQ(solvan_get_master_token(), 0u);
        EXPECT_EQ(solvan_get_device_or_master_token(c.name.c_str()), c.added ? 0x77u : 0u);
        const std::string saved = save();
        EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), c.added ? 2 : 1);
    }
}

TEST_F(Token, HostileFilesFailClearly) {
    const struct {
        const char* name;
        std::string text;
        bool loads;
        int errorLine;                 // 0: no error line
        int devices;                   // slots filled afterwards
        const char* device = nullptr;  // a device that must have been loaded
    } cases[] = {
        {"token only", "# x\n1 A\n1234\n2 B\n", false, 3, 1},
        {"no token", "Mount one\n", false, 1, 0},
        {"master alone", "@\n", false, 1, 0},
        {"blanks only", " \t \n\t\n", true, 0, 0},
        {"empty", "", true, 0, 0},
        {"zero byte", std::string("1 A\0B\n2 C\n", 10), true, 0, 2},
        {"binary", std::string("\xff\xfe\x01\x02\n", 5), false, 1, 0},
        {"windows line ends", "1 A\r\n2 B \r\n", true, 0, 2, "A"},
        {"two returns", "1 A\r\r\n", true, 0, 0},  // "A\r" is no name the file gives back
        {"return inside", "1 A\rB\r\n", true, 0, 1, "A\rB"},
        {"return at the end of the file", "1 A\r", true, 0, 1, "A"},
        {"token only, windows", "# x\r\n1234\r\n", false, 2, 0},
        // The first zero byte ends a line's text, also past the part kept of a long line.
        {"zero byte after long padding",
         "1 A" + std::string(5000, ' ') + std::string("\0junk\n2 B\n", 10), true, 0, 2, "A"},
        {"zero byte after a long name", "1 " + std::string(5000, 'n') + std::string("\0\n2 B\n", 7),
         true, 0, 1, "B"},
        {"return after long padding", "1 A" + std::string(5000, ' ') + "\r\n2 B\n", true, 0, 2,
         "A"},
        // A line is one line whatever its length; a name over 127 characters is skipped and
        // nothing in it becomes a record.
        {"long name", "1 " + std::string(300, 'x') + "\n2 B\n", true, 0, 1, "B"},
        {"name of 200", "1 " + std::string(200, 'N') + "\n2 B\n3 C\n", true, 0, 2, "C"},
        {"record inside a name", "1 " + std::string(175, 'A') + "cafe Mount\n", true, 0, 0},
        {"line number after a long line", "1 A" + std::string(400, ' ') + "\nMount\n", false, 2, 1,
         "A"},
        {"name of a megabyte", "1 " + std::string(1 << 20, 'm') + "\n2 B", true, 0, 1, "B"},
        {"long unterminated", "1 A\n2 " + std::string(5000, 'u'), true, 0, 1, "A"},
        {"long line without a token", std::string(5000, 'z') + "\n", false, 1, 0},
        {"trailing blanks", "1 A" + std::string(5000, ' ') + "\t\n2 B\n", true, 0, 2, "A"},
        {"long comment", "#" + std::string(400, '#') + "\n1 A\n", true, 0, 1, "A"},
        {"177 characters", "1 " + std::string(175, 'y') + "\n2 B", true, 0, 1, "B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        solvan_clear_device_tokens();
        write(c.text);
        CapturedLog log(SOLVAN_LOG_ERROR);
        EXPECT_EQ(solvan_load_device_tokens(path_.c_str()), c.loads);
        EXPECT_EQ(log.lines(), c.errorLine ? Lines{"ACL: Error in ACL file '" + path_ +
                                                   "' at line " + std::to_string(c.errorLine)}
                                           : Lines{});
        const std::string saved = save();
        EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), c.devices + 1);
        if (c.device) {
            EXPECT_NE(tokenOf(c.device), 0u);
        }
        EXPECT_EQ(tokenOf("Mount"), 0u);
    }
    CapturedLog log(SOLVAN_LOG_ERROR);
    EXPECT_FALSE(solvan_load_device_tokens("/nonexistent/acl"));
    EXPECT_FALSE(solvan_load_device_tokens("/tmp"));
    EXPECT_FALSE(solvan_save_device_tokens("/nonexistent/acl"));
    EXPECT_FALSE(solvan_save_device_tokens("/dev/full"));
    EXPECT_EQ(log.lines(), (Lines{"ACL: Can not open ACL file '/nonexistent/acl'",
                                  "ACL: Can not open ACL file '/tmp'",
                                  "ACL: Can not open ACL file '/nonexistent/acl' for writing",
                                  "ACL: Can not save ACL to file '/dev/full'"}));
}

TEST_F(Token, EightThreadsAtOnce) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++)
        threads.emplace_back([t] {
            const std::string own = "own " + std::to_string(t);
            solvan_add_device_token(own.c_str(), 0x100 + t);
            for (int i = 0; i < 500; i++) {
                const std::string name = "dev " + std::to_string(t) + "." + std::to_string(i % 20);
                solvan_add_device_token(name.c_str(), i + 1);
                EXPECT_EQ(solvan_get_device_or_master_token(own.c_str()), uint64_t(0x100 + t));
                solvan_remove_device_token(name.c_str());
                if (i % 50 == 0) solvan_set_master_token(i);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    const std::string saved = save();
    for (int t = 0; t < 8; t++)
        EXPECT_NE(saved.find("     10" + std::to_string(t) + " own " + std::to_string(t) + "\n"),
                  std::string::npos);
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 9);
}

}  // namespace
