// What the plant sends, read before anything reaches the controller: topic levels, the allowed
// writes, the credentials file and the set payloads.
#include "link/IxaInterface.h"
#include "publish/Publisher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const TIxaParameter& P(const char* mnemonic) {
    const TIxaParameter* p = FindIxaMnemonic(mnemonic);
    EXPECT_NE(p, nullptr) << mnemonic;
    return *p;
}

TEST(TopicLevels, NoTextOfTheControllerOrThePortMakesALevelOrAWildcard) {
    const struct {
        std::string In, Out;
    } rows[] = {
        {"Cell+4", "Cell_4"}, {"a#b", "a_b"},    {"a/b/c", "a_b_c"},   {"", "_"},
        {"x\ny\tz", "x_y_z"}, {"\xe4rm", "_rm"}, {"Cell 4", "Cell_4"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TopicLevel(row.In), row.Out) << row.In;
    EXPECT_EQ(UnitLevel("/dev/ttyUSB0", 3), "ttyUSB0-3");
    EXPECT_EQ(UnitLevel("rfc2217://host:4001", 0), "rfc2217:__host:4001-0");
    EXPECT_EQ(UnitLevel("/dev/serial/by-id/usb+x#", 15), "serial_by-id_usb_x_-15");
}

TEST(AllowedWrites, TakesWritableMnemonicsOnceAndRefusesTheRest) {
    EXPECT_EQ(ParseAllowedWrites("CF, act,CF"), (std::vector<std::string>{"CF", "ACT"}));
    EXPECT_THROW(ParseAllowedWrites("CF,XX"), EPublish);
    EXPECT_THROW(ParseAllowedWrites("AF"), EPublish); // measured: read only
    EXPECT_THROW(ParseAllowedWrites("CF,"), EPublish);
    EXPECT_THROW(ParseAllowedWrites("GetCommandForce"), EPublish); // mnemonics only
}

struct TTempFile {
    std::string Path;
    TTempFile(const std::string& text, mode_t mode) {
        char name[] = "/tmp/korva-credentials-XXXXXX";
        const int fd = mkstemp(name);
        close(fd);
        Path = name;
        std::ofstream(Path) << text;
        chmod(Path.c_str(), mode);
    }
    ~TTempFile() { std::filesystem::remove(Path); }
};

TEST(Credentials, AFileOthersMayReadOrChangeIsRefused) {
    const std::string text = "# the plant's broker\nusername=bridge\npassword=s3cr=t\n";
    for (mode_t mode : {0604, 0644, 0606, 0620}) {
        TTempFile file(text, mode);
        EXPECT_THROW(ReadCredentials(file.Path), EPublish) << std::oct << mode;
    }
    for (mode_t mode : {0600, 0640, 0400}) {
        TTempFile file(text, mode);
        const TCredentials c = ReadCredentials(file.Path);
        EXPECT_EQ(c.UserName, "bridge");
        EXPECT_EQ(c.Password, "s3cr=t");
    }
    TTempFile noUser("password=x\n", 0600);
    EXPECT_THROW(ReadCredentials(noUser.Path), EPublish);
    TTempFile unknown("user=bridge\n", 0600);
    EXPECT_THROW(ReadCredentials(unknown.Path), EPublish);
    // A link is not followed: whoever may place it could point it anywhere.
    TTempFile target(text, 0600);
    const std::string link = target.Path + ".link";
    ASSERT_EQ(symlink(target.Path.c_str(), link.c_str()), 0);
    EXPECT_THROW(ReadCredentials(link), EPublish);
    std::filesystem::remove(link);
}

TEST(PlantCommand, ValuesAreReadWholeByTheRegistryOrRefused) {
    const struct {
        const char* Mnemonic;
        std::string Payload;
        bool Taken;
        std::string Wire;
        int Index;
    } rows[] = {
        {"CF", "12.5", true, "12.500", -1},
        {"CF", "\"12.5\"", true, "12.500", -1},
        {"CF", "{\"value\": 40}", true, "40.000", -1},
        {"CF", "\" 7.25\\t\"", true, "7.250", -1},
        {"CF", "\"12.5abc\"", false, "", -1}, // a leading number is no number
        {"CF", "\"1,5\"", false, "", -1},
        {"CF", "\"0x10\"", false, "", -1},
        {"CF", "12.5001", false, "", -1}, // more decimals than the line carries
        {"CF", "1e400", false, "", -1},
        {"CF", "\"nan\"", false, "", -1},
        {"CF", "true", false, "", -1}, // wrong kind
        {"CF", "null", false, "", -1},
        {"CF", "[12.5]", false, "", -1},
        {"CF", "12.5 7", false, "", -1}, // no JSON
        {"CF", "{\"value\": 1, \"index\": 0}", false, "", -1},
        {"CF", "{\"value\": 1, \"force\": 2}", false, "", -1},
        {"ACT", "true", true, "1", -1},
        {"ACT", "0", true, "0", -1},
        {"ACT", "2", false, "", -1}, // out of the flag's range
        {"ACT", "\"yes\"", false, "", -1},
        {"FL", "{\"index\": 3, \"value\": \"40\"}", true, "40.000", 3},
        {"FL", "40", false, "", -1},                            // needs its index
        {"FL", "{\"index\": 16, \"value\": 1}", false, "", -1}, // out of the index range
        {"FL", "{\"index\": -1, \"value\": 1}", false, "", -1},
        {"FL", "{\"index\": 1.5, \"value\": 1}", false, "", -1},
        {"CN", "\"Cell \\u00c4\"", true, "Cell \xc4", -1}, // UTF-8 to the controller's code page
        {"CN", "\"Cell \\u4e00\"", false, "", -1},         // a character the controller cannot hold
        {"CN", "\"a\\nCF 1\"", false, "", -1},             // no second command in a text
        {"CN", "12", false, "", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.Mnemonic) + " " + row.Payload);
        if (row.Taken) {
            const TPlantCommand c = ParsePlantCommand(P(row.Mnemonic), row.Payload);
            EXPECT_EQ(c.Value.Wire, row.Wire);
            EXPECT_EQ(c.Index, row.Index);
        } else {
            EXPECT_ANY_THROW(ParsePlantCommand(P(row.Mnemonic), row.Payload));
        }
    }
}

TEST(PlantCommand, APayloadBeyondTheBoundIsRefusedBeforeItIsParsed) {
    std::string big = "\"" + std::string(MaxPayload, '1') + "\"";
    try {
        ParsePlantCommand(P("CN"), big);
        FAIL() << "taken";
    } catch (const EPublish& e) {
        EXPECT_NE(std::string(e.what()).find("longer than"), std::string::npos) << e.what();
    }
    // Deep nesting within the bound is only refused, not a crash.
    EXPECT_ANY_THROW(ParsePlantCommand(P("CF"), std::string(2000, '[') + std::string(2000, ']')));
}

TEST(PublisherOptions, UnusableOptionsAreRefusedBeforeAnyConnection) {
    const auto make = [](TPublisherOptions o) { TPublisher p(std::move(o), "u"); };
    const struct {
        std::string Broker, Ca;
    } rows[] = {
        {"http://host", ""},
        {"host:1883", ""},
        {"mqtt://user:pw@host", ""}, // a password in the process list
        {"mqtt://", ""},
        {"mqtt://host:0", ""},
        {"mqtt://host:65536", ""},
        {"mqtt://host:1883/path", ""},
        {"mqtt://[::1", ""},
        {"mqtts://host", "/nonexistent/ca.crt"},
        {"mqtt://host", "/etc/hostname"}, // a CA for a plain connection
    };
    for (const auto& row : rows) {
        TPublisherOptions o;
        o.Broker = row.Broker;
        o.CaFile = row.Ca;
        EXPECT_THROW(make(o), EPublish) << row.Broker;
    }
    TPublisherOptions o;
    o.Broker = "mqtt://[::1]:1884";
    o.Root = "plant/line+1";
    EXPECT_THROW(make(o), EPublish);
    o.Root = "plant/line1";
    EXPECT_NO_THROW(make(o));
}

} // namespace
