#include "replay/session.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "keymap/key_table.h"
#include "tests/support/own_files.h"

namespace {

// Each test writes a file of its own.
std::string write_session(const std::string& text) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return write_own_file(std::string(test->test_suite_name()) + "-" + test->name() + ".session", text);
}

// "N" for a device without id, "N:id" for one with; one per line.
std::string describe_devices(const session_devices& devices) {
    std::string out;
    for (int n = 1; n <= device_count; ++n) {
        const session_device& d = devices.device[n - 1];
        if (!d.declared) continue;
        out += std::to_string(n);
        if (d.has_id) out += std::string(":") + d.id;
        out += "\n";
    }
    return out;
}

// The strokes as "DEVICE MAKE STATE EXTRA" lines, in hex.
std::string read_strokes(const std::string& path) {
    session_reader reader;
    EXPECT_TRUE(session_open(&reader, path.c_str()));
    std::string out;
    session_item s;
    while (session_next(&reader, &s)) {
        char line[256];
        if (s.kind == session_pause) {
            std::snprintf(line, sizeof line, "pause %u\n", static_cast<unsigned>(s.pause_ms));
        } else if (s.kind == session_interrupt) {
            std::snprintf(line, sizeof line, "interrupt\n");
        } else if (s.kind == session_freeze || s.kind == session_thaw) {
            std::snprintf(line, sizeof line, "%s\n", s.kind == session_freeze ? "freeze" : "thaw");
        } else if (s.kind == session_fail_wait || s.kind == session_fail_read) {
            std::snprintf(line, sizeof line, "%s\n", s.kind == session_fail_wait ? "fail-wait" : "fail-read");
        } else if (s.kind == session_crash) {
            std::snprintf(line, sizeof line, "crash\n");
        } else if (s.kind == session_id || s.kind == session_unnoticed_id) {
            std::snprintf(line, sizeof line, "%s %d %s\n", s.kind == session_id ? "id" : "unnoticed-id", s.device,
                          s.has_id ? s.id : "(none)");
        } else if (s.kind == session_short_write && s.write_refused) {
            std::snprintf(line, sizeof line, "refuse write %u\n", static_cast<unsigned>(s.write_number));
        } else if (s.kind == session_save || s.kind == session_replace) {
            std::snprintf(line, sizeof line, "%s %s from %s\n", s.kind == session_save ? "save" : "replace", s.file,
                          s.source);
        } else if (s.kind == session_remove) {
            std::snprintf(line, sizeof line, "remove %s\n", s.file);
        } else if (s.kind == session_front) {
            std::snprintf(line, sizeof line, "front [%s]\n", s.has_id ? s.id : "(none)");
        } else if (s.kind == session_short_write) {
            std::snprintf(line, sizeof line, "short write %u to %u bytes\n", static_cast<unsigned>(s.write_number),
                          static_cast<unsigned>(s.write_bytes));
        } else {
            std::snprintf(line, sizeof line, "%d %x %x %x\n", s.device, s.key.make_code, s.key.key_state,
                          static_cast<unsigned>(s.key.extra_info));
        }
        out += line;
    }
    session_close(&reader);
    return out;
}

std::string repeat(const std::string& line, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += line;
    return out;
}

struct error_case {
    std::string session;
    const char* message;  // after "PATH:"
};

TEST(SessionCheck, ReportsTheFirstErrorWithItsLine) {
    // clang-format off
    const error_case cases[] = {
        {"keyboard 1 X\n\npress 1 A\n", "3: unknown directive 'press'"},
        {"Keyboard 1\n", "1: unknown directive 'Keyboard'"},
        {"keyboard 0\n", "1: keyboard number '0' is out of range 1-10"},
        {"keyboard 11 X\n", "1: keyboard number '11' is out of range 1-10"},
        {"mouse 10\n", "1: mouse number '10' is out of range 11-20"},
        {"mouse 21\n", "1: mouse number '21' is out of range 11-20"},
        {"keyboard 99999999999999999999\n",
         "1: keyboard number '99999999999999999999' is out of range 1-10"},
        {"keyboard x1\n", "1: bad device number 'x1'"},
        {"keyboard -1\n", "1: bad device number '-1'"},
        {"keyboard\n", "1: missing device number"},
        {"mouse 12\ndown 12 A\n", "2: keyboard number '12' is out of range 1-10"},
        {"keyboard 1\ntap 2 A\n", "2: keyboard 2 is not declared"},
        {"keyboard 1\ntap 1 A\ndown 4 B\nup 4 B\n", "3: keyboard 4 is not declared"},
        {"tap 3 A\nbogus\nkeyboard 1\n", "1: keyboard 3 is not declared"},
        {"bogus\ntap 3 A\n", "1: unknown directive 'bogus'"},
        {"keyboard 1\ntap 1 A\nfoo\nbar\n", "3: unknown directive 'foo'"},
        {"keyboard 1\ntap 1 Pause\n", "2: unknown key 'Pause'"},
        {"keyboard 1\ntap 1 space\n", "2: unknown key 'space'"},
        {"keyboard 1\ntap 1 user1\n", "2: key 'user1' is a user entry: type its scan code instead"},
        {"keyboard 1\ntap 1 user10\n", "2: key 'user10' is a user entry: type its scan code instead"},
        {"keyboard 1\ndown 1 1e1e\n", "2: scan code '1e1e' must begin with 00 or e0"},
        {"keyboard 1\ndown 1 e11d\n", "2: scan code 'e11d' must begin with 00 or e0"},
        {"keyboard 1\ndown 1 e05\n", "2: unknown key 'e05'"},
        {"keyboard 1\ndown 1 0e05b\n", "2: unknown key '0e05b'"},
        {"keyboard 1\nup 1\n", "2: missing key"},
        {"keyboard 1\ntap 1 A B\n", "2: unexpected 'B' at the end of the line"},
        {"keyboard 1\nstroke 1\n", "2: missing make code"},
        {"keyboard 1\nstroke 1 1e\n", "2: missing state"},
        {"keyboard 1\nstroke 1 1e 0\n", "2: missing extra"},
        {"keyboard 1\nstroke 1 12345 0 0\n", "2: bad make code '12345': expected 1-4 hex digits"},
        {"keyboard 1\nstroke 1 1e 0x1 0\n", "2: bad state '0x1': expected 1-4 hex digits"},
        {"keyboard 1\nstroke 1 1e 0 123456789\n", "2: bad extra '123456789': expected 1-8 hex digits"},
        {"keyboard 1\nstroke 1 1e 0 0 0\n", "2: unexpected '0' at the end of the line"},
        {"keyboard 1\ndown 1 0123456789012345678901234567890123456789XYZ\n",
         "2: unknown key '0123456789012345678901234567890123456789'"},
        {"keyboard 1 " + std::string(2001, 'x') + "\n", "1: hardware id longer than 2000 bytes"},
        {"#" + std::string(4096, 'x') + "\n", "1: line longer than 4096 bytes"},
        {"\n#" + std::string(100000, 'x') + "\nbogus\n", "2: line longer than 4096 bytes"},
        {std::string("keyboard 1 A\0B\n", 15), "1: the line holds a NUL byte"},
        {"pause\n", "1: missing milliseconds"},
        {"pause -1\n", "1: bad milliseconds '-1': expected 0-600000"},
        {"pause 600001\n", "1: bad milliseconds '600001': expected 0-600000"},
        {"pause 12345678\n", "1: bad milliseconds '12345678': expected 0-600000"},
        {"pause 5 ms\n", "1: unexpected 'ms' at the end of the line"},
        {"interrupt now\n", "1: unexpected 'now' at the end of the line"},
        {"freeze 1\n", "1: unexpected '1' at the end of the line"},
        {"thaw all\n", "1: unexpected 'all' at the end of the line"},
        {"fail-wait now\n", "1: unexpected 'now' at the end of the line"},
        {"crash 2\n", "1: unexpected '2' at the end of the line"},
        {"Freeze\n", "1: unknown directive 'Freeze'"},
        {"save\n", "1: missing configuration file"},
        {"save pad.cfg\n", "1: missing file to take the content from"},
        {"replace pad.cfg no-such-content.cfg\n", "1: cannot read 'no-such-content.cfg'"},
        {"remove pad.cfg now\n", "1: unexpected 'now' at the end of the line"},
        {"keyboard 1\nid 2 x\n", "2: keyboard 2 is not declared"},
        {"mouse 11\nid 11 x\n", "2: keyboard number '11' is out of range 1-10"},
        {"refuse-write\n", "1: missing write number"},
        {"refuse-write 0\n", "1: bad write number '0': expected 1-1000000"},
        {"refuse-write 1000001\n", "1: bad write number '1000001': expected 1-1000000"},
        {"refuse-write -1\n", "1: bad write number '-1': expected 1-1000000"},
        {"refuse-write 2 12\n", "1: unexpected '12' at the end of the line"},
        {"short-write 1\n", "1: missing bytes"},
        {"short-write 1 x\n", "1: bad bytes 'x': expected 0-1000000"},
        {"short-write 1 1000001\n", "1: bad bytes '1000001': expected 0-1000000"},
        {"short-write 0 5\n", "1: bad write number '0': expected 1-1000000"},
        {"short-write 1 5 more\n", "1: unexpected 'more' at the end of the line"},
        {"Refuse-write 1\n", "1: unknown directive 'Refuse-write'"},
        {repeat("refuse-write 1\n", 16) + "short-write 1 0\nshort-write 1 0\n",
         "17: more than 16 refuse-write and short-write lines"},
        {"short-write 1 0\n" + repeat("refuse-write 2\n", 16) + "tap 3 A\n",
         "17: more than 16 refuse-write and short-write lines"},
        {repeat("refuse-write 1\n", 17) + "tap 3 A\n", "17: more than 16 refuse-write and short-write lines"},
        {"tap 3 A\n" + repeat("refuse-write 1\n", 17), "1: keyboard 3 is not declared"},
    };
    // clang-format on
    for (const error_case& c : cases) {
        SCOPED_TRACE(c.session.substr(0, 60));
        std::string path = write_session(c.session);
        session_devices devices;
        char message[session_message_size];
        EXPECT_FALSE(session_check(path.c_str(), &devices, message, sizeof message));
        EXPECT_EQ(std::string(message), path + ":" + c.message);
    }
}

struct good_case {
    std::string session;
    std::string devices;
    std::string strokes;
};

TEST(SessionCheck, AcceptsGoodSessionsAndTypesTheirStrokes) {
    write_own_file("content", "kbd\n");
    // clang-format off
    const good_case cases[] = {
        {"", "", ""},
        {"# nothing but a comment\n\n  \t\n   # indented comment\n", "", ""},
        {"keyboard 1 HID\\VID_1\r\ntap 1 A\r\n", "1:HID\\VID_1\n", "1 1e 0 0\n1 1e 1 0\n"},
        {"keyboard 3\n", "3\n", ""},
        {"keyboard 3 \n", "3:\n", ""},
        {"keyboard 3  two  spaces \n", "3: two  spaces \n", ""},
        {"keyboard\t4\tX Y\r\n", "4:X Y\n", ""},
        {"keyboard 1 K\r\r\n", "1:K\r\n", ""},
        {"  keyboard 05 x\n", "5:x\n", ""},
        {"keyboard 1 first\nkeyboard 1\n", "1\n", ""},
        {"keyboard 1\nkeyboard 1 second\n", "1:second\n", ""},
        {"mouse 11 M\nmouse 20\n", "11:M\n20\n", ""},
        {"down 2 Caps\nkeyboard 2 late\n", "2:late\n", "2 3a 0 0\n"},
        {"keyboard 1\ndown 1 Insert\nup 1 Insert\n", "1\n", "1 52 2 0\n1 52 3 0\n"},
        {"keyboard 1\ndown 1 Num/\ndown 1 /\ndown 1 NumEnter\ndown 1 Enter\n", "1\n",
         "1 35 2 0\n1 35 0 0\n1 1c 2 0\n1 1c 0 0\n"},
        {"keyboard 1\ntap 1 E05B\ndown 1 002a\nup 1 002A\n", "1\n", "1 5b 2 0\n1 5b 3 0\n1 2a 0 0\n1 2a 1 0\n"},
        {"keyboard 1\ndown 1 0000\n", "1\n", "1 0 0 0\n"},
        {"keyboard 1\ndown 1 Esc\ndown 1 RCtrl\ndown 1 F24\ndown 1 BrowserRefresh\n", "1\n",
         "1 1 0 0\n1 1d 2 0\n1 76 0 0\n1 67 2 0\n"},
        {"keyboard 1\nstroke 1 ffff 00FF deadbeef\nstroke 1 1e 1 7\n", "1\n", "1 ffff ff deadbeef\n1 1e 1 7\n"},
        {"keyboard 1\nkeyboard 10\n\ttap 10 ,\ntap 1 `\n  up\t1\t\\  \n", "1\n10\n",
         "10 33 0 0\n10 33 1 0\n1 29 0 0\n1 29 1 0\n1 2b 1 0\n"},
        {"keyboard 1\ntap 1 Z", "1\n", "1 2c 0 0\n1 2c 1 0\n"},
        {"keyboard 1 " + std::string(2000, 'x') + "\n", "1:" + std::string(2000, 'x') + "\n", ""},
        {"#" + std::string(4095, 'x') + "\r\n", "", ""},
        {"keyboard 1\ntap 1 A\npause 600000\n interrupt\t\ndown 1 B\npause 0\r\n", "1\n",
         "1 1e 0 0\n1 1e 1 0\npause 600000\ninterrupt\n1 30 0 0\npause 0\n"},
        {"keyboard 2 first\nid 2 second  id\nid 2\nid 2 \nunnoticed-id 2 third\n", "2:first\n",
         "id 2 second  id\nid 2 (none)\nid 2 \nunnoticed-id 2 third\n"},
        {"keyboard 1\nfreeze\ntap 1 A\n  thaw \nfreeze\n", "1\n", "freeze\n1 1e 0 0\n1 1e 1 0\nthaw\nfreeze\n"},
        {"keyboard 1\nfail-read\n fail-wait \ncrash\n", "1\n", "fail-read\nfail-wait\ncrash\n"},
        {"save pad.cfg " + own_path("content") + "\n  replace\t../pad.cfg " + own_path("content") + "\nremove pad.cfg\n", "",
         "save pad.cfg from " + own_path("content") + "\nreplace ../pad.cfg from " + own_path("content") +
             "\nremove pad.cfg\n"},
        {"front Premiere Pro.exe\nfront\nfront  two  spaces \n", "",
         "front [Premiere Pro.exe]\nfront [(none)]\nfront [ two  spaces ]\n"},
        {"keyboard 1\nrefuse-write 1\ntap 1 A\n short-write\t1000000  0 \r\nshort-write 3 1000000\n"
         "refuse-write 0001\n",
         "1\n",
         "refuse write 1\n1 1e 0 0\n1 1e 1 0\nshort write 1000000 to 0 bytes\nshort write 3 to 1000000 bytes\n"
         "refuse write 1\n"},
        {repeat("short-write 2 11\n", 16), "", repeat("short write 2 to 11 bytes\n", 16)},
    };
    // clang-format on
    for (const good_case& c : cases) {
        SCOPED_TRACE(c.session.substr(0, 60));
        std::string path = write_session(c.session);
        session_devices devices;
        char message[session_message_size];
        ASSERT_TRUE(session_check(path.c_str(), &devices, message, sizeof message)) << message;
        EXPECT_EQ(describe_devices(devices), c.devices);
        EXPECT_EQ(read_strokes(path), c.strokes);
    }
}

TEST(SessionReader, StopsAtALineThatNoLongerParses) {
    std::string path = write_session("keyboard 1\ntap 1 A\nbogus\ntap 1 B\n");
    EXPECT_EQ(read_strokes(path), "1 1e 0 0\n1 1e 1 0\n");
}

TEST(SessionReader, StreamsLongSessions) {
    std::string text = "keyboard 1\n";
    for (int i = 0; i < 100000; ++i) text += i % 2 == 0 ? "tap 1 A\n" : "tap 1 e05b\n";
    std::string strokes = read_strokes(write_session(text));
    EXPECT_EQ(std::count(strokes.begin(), strokes.end(), '\n'), 200000);
    EXPECT_EQ(strokes.substr(strokes.size() - 9), "1 5b 3 0\n");
}

TEST(SessionCheck, AMissingFileIsReportedAndGivesNoStrokes) {
    std::string path = own_path("no-such.session");
    std::remove(path.c_str());
    session_devices devices;
    char message[session_message_size];
    EXPECT_FALSE(session_check(path.c_str(), &devices, message, sizeof message));
    EXPECT_EQ(std::string(message), path + ": cannot open the session file");
    session_reader reader;
    EXPECT_FALSE(session_open(&reader, path.c_str()));
    session_item s;
    EXPECT_FALSE(session_next(&reader, &s));
    session_close(&reader);
}

}  // namespace
