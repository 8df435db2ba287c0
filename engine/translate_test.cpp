#include "engine/translate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "keymap/key_table.h"
#include "tests/support/key_strokes.h"

namespace {

struct mapping {
    const char* key;
    std::vector<uint16_t> outputs;
    std::vector<uint16_t> modifiers;
    int scan_code = -1;  // -1 keeps the entry's own code
};

// The table the tests translate with.
key_table table;

void apply(const std::vector<mapping>& mappings) {
    reset_key_table(&table);
    for (const mapping& m : mappings) {
        key_entry& entry = table.entries[find_key_by_name(&table, m.key)];
        std::copy(m.outputs.begin(), m.outputs.end(), entry.outputs);
        std::copy(m.modifiers.begin(), m.modifiers.end(), entry.modifiers);
        if (m.scan_code >= 0) entry.scan_code = static_cast<uint16_t>(m.scan_code);
    }
}

struct session {
    std::vector<key_stroke> sent;
    std::string log;
};

// Translates the strokes one after another and joins their log texts. Checks
// on the way that a stroke is passed through, and then left as received,
// exactly when nothing was sent for it. Nothing may reach the console: the
// caller hands the text on.
session translate_all(const std::vector<key_stroke>& received, const std::string& prefix = "") {
    session s;
    held_outputs held;
    reset_held_outputs(&held);
    std::vector<size_t> wrong_result;
    testing::internal::CaptureStdout();
    for (size_t i = 0; i < received.size(); ++i) {
        stroke_log log;
        log.length = log_capacity + 1;
        static engine_actions out;
        clear_actions(&out);
        bool passed = translate_stroke(&table, received[i], output_target{1, &held, &out}, prefix.c_str(), &log) ==
                      translate_pass_through;
        for (int k = 0; k < out.count; ++k) s.sent.push_back(out.list[k].key);
        if (passed == (out.count > 0)) wrong_result.push_back(i);
        s.log.append(log.text, log.length);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(wrong_result, std::vector<size_t>{}) << "passed through changed, or a result at odds with the sends";
    return s;
}

struct translate_case {
    const char* name;
    std::vector<mapping> table;
    std::vector<key_stroke> received;
    std::vector<key_stroke> sent;
    std::string log;
};

// clang-format off
const translate_case cases[] = {
    {"every modifier, in bit order, with its own press and release stroke; bits above the low "
     "byte play no part",
     {{"A", {0x0030}, {0xFFFF}}},
     {{0x1E, 0x00, 5}},
     {{0x2A, 0x00, 0}, {0x1D, 0x00, 0}, {0x38, 0x00, 0}, {0x5B, 0x02, 0}, {0x36, 0x00, 0},
      {0x1D, 0x02, 0}, {0x38, 0x02, 0}, {0x5C, 0x02, 0}, {0x30, 0x00, 5}, {0x2A, 0x01, 0},
      {0x1D, 0x01, 0}, {0x38, 0x01, 0}, {0x5B, 0x03, 0}, {0x36, 0x01, 0}, {0x1D, 0x03, 0},
      {0x38, 0x03, 0}, {0x5C, 0x03, 0}},
     "DOWN pressed key=A 001e -> 0030: lSdown-lCdown-lAdown-lWdown-rSdown-rCdown-rAdown-rWdown-"
     "0030 down-lSup-lCup-lAup-lWup-rSup-rCup-rAup-rWup-\n"},
    {"a 0 output ends the sequence; a key passes through, logged with its lookup code, when its "
     "first output is 0 (even with later outputs set), or it has no outputs, or is unknown",
     {{"A", {0x0030, 0, 0x001C}, {}}, {"B", {0, 0x0030}, {0, mod_left_shift}}},
     {{0x1E, 0x00, 0}, {0x30, 0x00, 42}, {0x30, 0x01, 42}, {0x52, 0x02, 7}, {0x52, 0x03, 7},
      {0x01, 0x00, 0}, {0x01, 0x01, 0}},
     {{0x30, 0x00, 0}},
     "DOWN pressed key=A 001e -> 0030: 0030 down-\n"
     "bypassing key 0030\nbypassing key 0030\n"
     "bypassing key e052\nbypassing key e052\nbypassing key 0001\nbypassing key 0001\n"},
    {"outputs are sent in order as their low byte, with the E0 flag for any bit of the E0 mask, "
     "each with the stroke's extra info",
     {{"Caps", {0x000E, 0xE04D, 0x1F30, 0x2130, 0x8030}, {}}},
     {{0x3A, 0x00, 0x11223344}, {0x3A, 0x01, 0x55667788}},
     {{0x0E, 0x00, 0x11223344}, {0x4D, 0x02, 0x11223344}, {0x30, 0x00, 0x11223344},
      {0x30, 0x02, 0x11223344}, {0x30, 0x02, 0x11223344}, {0x0E, 0x01, 0x55667788},
      {0x4D, 0x03, 0x55667788}, {0x30, 0x01, 0x55667788}, {0x30, 0x03, 0x55667788},
      {0x30, 0x03, 0x55667788}},
     "DOWN pressed key=Caps 003a -> 000e: 000e down-\n"
     "DOWN pressed key=Caps 003a -> e04d: e04d down-\n"
     "DOWN pressed key=Caps 003a -> 1f30: 1f30 down-\n"
     "DOWN pressed key=Caps 003a -> 2130: 2130 down-\n"
     "DOWN pressed key=Caps 003a -> 8030: 8030 down-\n"
     "UP remapping pressed key=Caps 003a -> 000e: 000e up\n"
     "UP remapping pressed key=Caps 003a -> e04d: e04d up\n"
     "UP remapping pressed key=Caps 003a -> 1f30: 1f30 up\n"
     "UP remapping pressed key=Caps 003a -> 2130: 2130 up\n"
     "UP remapping pressed key=Caps 003a -> 8030: 8030 up\n"},
    {"the lookup folds the E0 flag into the code and ignores other state bits but E1, none of "
     "which is carried over; the log shows the make code as received, all 16 bits",
     {{"Caps", {0x0030}, {}}, {"Insert", {0x001C}, {}}},
     {{0x3A, 0xFFF8, 0}, {0x3A, 0xFFF9, 0}, {0x52, 0xFFFA, 0}, {0x52, 0x00F3, 0},
      {0x53, 0x00F2, 0}, {0xE052, 0x00, 0}, {0xE052, 0x02, 0}},
     {{0x30, 0x00, 0}, {0x30, 0x01, 0}, {0x1C, 0x00, 0}, {0x1C, 0x01, 0}, {0x1C, 0x00, 0},
      {0x1C, 0x00, 0}},
     "DOWN pressed key=Caps 003a -> 0030: 0030 down-\n"
     "UP remapping pressed key=Caps 003a -> 0030: 0030 up\n"
     "DOWN pressed key=Insert 0052 -> 001c: 001c down-\n"
     "UP remapping pressed key=Insert 0052 -> 001c: 001c up\n"
     "bypassing key e053\n"
     "DOWN pressed key=Insert e052 -> 001c: 001c down-\n"
     "DOWN pressed key=Insert e052 -> 001c: 001c down-\n"},
    {"shifted output then plain output, auto-repeated: the whole press again, one release at "
     "the end; modifiers carry no extra info",
     {{"A", {0x0030, 0x001C}, {mod_left_shift, 0}}},
     {{0x1E, 0x00, 0xABCD}, {0x1E, 0x00, 0xABCD}, {0x1E, 0x01, 0x1234}},
     {{0x2A, 0x00, 0}, {0x30, 0x00, 0xABCD}, {0x2A, 0x01, 0}, {0x1C, 0x00, 0xABCD},
      {0x2A, 0x00, 0}, {0x30, 0x00, 0xABCD}, {0x2A, 0x01, 0}, {0x1C, 0x00, 0xABCD},
      {0x30, 0x01, 0x1234}, {0x1C, 0x01, 0x1234}},
     "DOWN pressed key=A 001e -> 0030: lSdown-0030 down-lSup-\n"
     "DOWN pressed key=A 001e -> 001c: 001c down-\n"
     "DOWN pressed key=A 001e -> 0030: lSdown-0030 down-lSup-\n"
     "DOWN pressed key=A 001e -> 001c: 001c down-\n"
     "UP remapping pressed key=A 001e -> 0030: 0030 up\n"
     "UP remapping pressed key=A 001e -> 001c: 001c up\n"},
    {"the first entry with the code wins, even with no outputs; a user entry claims any code; "
     "make code 0 finds the first unclaimed one",
     {{"user1", {0x0030}, {}, 0x001E}, {"user2", {0x0030}, {}, 0x0101}, {"user3", {0x001C}, {}}},
     {{0x1E, 0x00, 0}, {0x0101, 0x00, 0}, {0x0001, 0x00, 0}, {0x00, 0x00, 0}, {0x00, 0x02, 0}},
     {{0x30, 0x00, 0}, {0x1C, 0x00, 0}},
     "bypassing key 001e\n"
     "DOWN pressed key=user2 0101 -> 0030: 0030 down-\n"
     "bypassing key 0001\n"
     "DOWN pressed key=user3 0000 -> 001c: 001c down-\n"
     "bypassing key e000\n"},
    {"a stroke with the E1 flag is looked up nowhere: Pause's E1 1D is not left Ctrl; it passes "
     "through, logged with its lookup code",
     {{"LCtrl", {0x0030}, {}}, {"NumLock", {0x0030}, {}}, {"Insert", {0x0030}, {}}, {"RCtrl", {0x0030}, {}}},
     {{0x1D, 0x04, 0}, {0x1D, 0x05, 0}, {0x45, 0x04, 0}, {0x52, 0x06, 0}, {0x1D, 0xFFFF, 0}},
     {},
     "bypassing key 001d\nbypassing key 001d\nbypassing key 0045\nbypassing key e052\nbypassing key e01d\n"},
    {"later names are keys; a user entry claimed for a key with a later name is found first",
     {{"F13", {0x0030}, {}}, {"user1", {0x001C}, {}, 0x0001}, {"Esc", {0x0030}, {}}},
     {{0x64, 0x00, 0}, {0x01, 0x00, 0}, {0x01, 0x01, 0}},
     {{0x30, 0x00, 0}, {0x1C, 0x00, 0}, {0x1C, 0x01, 0}},
     "DOWN pressed key=F13 0064 -> 0030: 0030 down-\n"
     "DOWN pressed key=user1 0001 -> 001c: 001c down-\n"
     "UP remapping pressed key=user1 0001 -> 001c: 001c up\n"},
};
// clang-format on

// Pause's two strokes, and strokes that only look like its second half.
TEST(TranslateStroke, PauseIsAnE1StrokeAndThe0045AfterIt) {
    // clang-format off
    const struct {
        const char* what;
        std::vector<key_stroke> strokes;
        std::vector<bool> pause;
    } rows[] = {
        {"press and release", {{0x1D, 0x04, 0}, {0x45, 0x00, 0}, {0x1D, 0x05, 0}, {0x45, 0x01, 0}},
         {true, true, true, true}},
        {"Num Lock alone, and after another key", {{0x45, 0x00, 0}, {0x1E, 0x00, 0}, {0x45, 0x01, 0}},
         {false, false, false}},
        {"only the stroke right after", {{0x1D, 0x04, 0}, {0x1E, 0x00, 0}, {0x45, 0x00, 0}}, {true, false, false}},
        {"with the E0 flag, or another code, it is not the second half",
         {{0x1D, 0x04, 0}, {0x45, 0x02, 0}, {0x1D, 0x04, 0}, {0x0145, 0x00, 0}, {0x45, 0x00, 0}},
         {true, false, true, false, false}},
        {"one second half only", {{0x1D, 0x04, 0}, {0x45, 0x00, 0}, {0x45, 0x00, 0}}, {true, true, false}},
        {"E1 strokes in a row", {{0x1D, 0x04, 0}, {0x45, 0x04, 0}, {0x45, 0x00, 0}}, {true, true, true}},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        bool after_e1 = false;
        std::vector<bool> pause;
        for (const key_stroke& key : row.strokes) pause.push_back(is_pause_stroke(&after_e1, key));
        EXPECT_EQ(pause, row.pause);
    }
}

TEST(TranslateStroke, SendsAndLogsEachCase) {
    for (const translate_case& c : cases) {
        SCOPED_TRACE(c.name);
        apply(c.table);
        session s = translate_all(c.received);
        EXPECT_EQ(s.sent, c.sent);
        EXPECT_EQ(s.log, c.log);
    }
}

// Every line of a stroke's log starts with the prefix, bypass lines too.
TEST(TranslateStroke, EveryLineStartsWithThePrefix) {
    apply({{"A", {0x0030, 0x001C}, {mod_left_shift, 0}}});
    session s = translate_all({{0x1E, 0x00, 0}, {0x1E, 0x01, 0}, {0x10, 0x00, 0}}, "pads/numpad.cfg: ");
    EXPECT_EQ(s.log,
              "pads/numpad.cfg: DOWN pressed key=A 001e -> 0030: lSdown-0030 down-lSup-\n"
              "pads/numpad.cfg: DOWN pressed key=A 001e -> 001c: 001c down-\n"
              "pads/numpad.cfg: UP remapping pressed key=A 001e -> 0030: 0030 up\n"
              "pads/numpad.cfg: UP remapping pressed key=A 001e -> 001c: 001c up\n"
              "pads/numpad.cfg: bypassing key 0010\n");
}

// Sixteen outputs, each with all eight modifiers, under a name as long as the
// field allows and the longest prefix: the largest text one stroke can log,
// which must come out whole, and sixteen releases without a modifier. The
// second name fills its field with no terminator and is cut at the field, as
// a prefix longer than its limit is. The modifiers lie right after the
// outputs, so a seventeenth output would be read as 0x00ff.
TEST(TranslateStroke, SixteenOutputsUnderTheLongestNameComeOutWhole) {
    const std::string longest_prefix(log_prefix_max, 'p');
    for (const char* name : {"ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNOP"}) {
        SCOPED_TRACE(name);
        reset_key_table(&table);
        key_entry& entry = table.entries[find_key_by_name(&table, "user1")];
        std::memcpy(entry.name, name, std::strlen(name) < 16 ? std::strlen(name) + 1 : 16);
        entry.scan_code = 0xE05B;
        std::vector<key_stroke> sent, released;
        std::string log, release_log;
        for (int i = 0; i < key_outputs; ++i) {
            const unsigned out = 0xE010u + i;
            entry.outputs[i] = static_cast<uint16_t>(out);
            entry.modifiers[i] = 0xFF;
            char line[200];
            std::snprintf(line, sizeof line,
                          "DOWN pressed key=ABCDEFGHIJKLMNO 005b -> %04x: "
                          "lSdown-lCdown-lAdown-lWdown-rSdown-rCdown-rAdown-rWdown-"
                          "%04x down-lSup-lCup-lAup-lWup-rSup-rCup-rAup-rWup-\n",
                          out, out);
            log += longest_prefix + line;
            std::snprintf(line, sizeof line, "UP remapping pressed key=ABCDEFGHIJKLMNO 005b -> %04x: %04x up\n", out,
                          out);
            release_log += longest_prefix + line;
            for (int b = 0; b < 8; ++b) sent.push_back(modifier_strokes[2 * b]);
            sent.push_back(key_stroke{static_cast<uint16_t>(0x10 + i), 0x02, 77});
            for (int b = 0; b < 8; ++b) sent.push_back(modifier_strokes[2 * b + 1]);
            released.push_back(key_stroke{static_cast<uint16_t>(0x10 + i), 0x03, 77});
        }
        sent.insert(sent.end(), released.begin(), released.end());

        session s = translate_all({{0x5B, 0x02, 77}, {0x5B, 0x03, 77}}, longest_prefix + "cut");
        EXPECT_EQ(s.sent, sent);
        EXPECT_EQ(s.log, log + release_log);
    }
}

}  // namespace
