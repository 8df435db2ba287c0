#include "app/translate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "keymap/key_table.h"

bool operator==(const key_stroke& a, const key_stroke& b) {
    return a.make_code == b.make_code && a.key_state == b.key_state &&
           a.extra_info == b.extra_info;
}

void PrintTo(const key_stroke& key, std::ostream* out) {
    char text[40];
    std::snprintf(text, sizeof text, "{%04x %04x %08x}", static_cast<unsigned>(key.make_code),
                  static_cast<unsigned>(key.key_state), static_cast<unsigned>(key.extra_info));
    *out << text;
}

namespace {

constexpr int key_a = 0;
constexpr int key_caps = 43;
constexpr int key_insert = 58;
constexpr int key_user1 = 90;

constexpr uint16_t code_b = 0x0030;
constexpr uint16_t code_backspace = 0x000E;
constexpr uint16_t code_enter = 0x001C;
constexpr uint16_t code_delete = 0xE053;
constexpr uint16_t code_right = 0xE04D;

long console_size() {
    std::fflush(stdout);
    struct stat status;
    if (fstat(fileno(stdout), &status) != 0) return -1;
    return static_cast<long>(status.st_size);
}

// More than the 16 * 17 sends of the busiest stroke.
constexpr int max_sends = 400;

// Records what the translation sends and how much of the console had been
// written at each send. Every send reports failure (0 strokes taken), which the
// translation must neither retry nor report.
struct recorder {
    key_stroke sent[max_sends];
    long console_at_send[max_sends];
    int count;
    long console_at_start;
};

int record(void* context, const key_stroke* key) {
    recorder* r = static_cast<recorder*>(context);
    if (r->count < max_sends) {
        r->sent[r->count] = *key;
        r->console_at_send[r->count] = console_size();
    }
    ++r->count;
    return 0;
}

struct mapping {
    int key;
    std::vector<uint16_t> outputs;
    std::vector<uint16_t> modifiers;
    int scan_code;  // -1 keeps the entry's own code
};

void apply(const std::vector<mapping>& table) {
    reset_key_table();
    for (const mapping& m : table) {
        for (size_t i = 0; i < m.outputs.size(); ++i) key_table[m.key].outputs[i] = m.outputs[i];
        for (size_t i = 0; i < m.modifiers.size(); ++i) {
            key_table[m.key].modifiers[i] = m.modifiers[i];
        }
        if (m.scan_code >= 0) key_table[m.key].scan_code = static_cast<uint16_t>(m.scan_code);
    }
}

struct session {
    std::vector<translate_result> results;
    std::vector<key_stroke> sent;
    std::string log;
};

// Translates the strokes one after another under a captured console. Checks
// on the way that a pass-through stroke is left as received, that nothing of
// a stroke's log reaches the console before its last send, and that all of it
// has when the call returns.
session translate_all(const std::vector<key_stroke>& received) {
    static recorder r;
    r.count = 0;
    session s;
    std::vector<key_stroke> left;
    std::vector<int> early_sends;
    long written = -1;  // on the console without any flush of ours
    testing::internal::CaptureStdout();
    for (const key_stroke& in : received) {
        key_stroke key = in;
        int first_send = r.count;
        r.console_at_start = console_size();
        s.results.push_back(translate_stroke(&key, send_op{record, &r}));
        left.push_back(key);
        struct stat status;
        if (fstat(fileno(stdout), &status) == 0) written = static_cast<long>(status.st_size);
        for (int i = first_send; i < r.count && i < max_sends; ++i) {
            if (r.console_at_send[i] != r.console_at_start) early_sends.push_back(i);
        }
    }
    s.log = testing::internal::GetCapturedStdout();

    EXPECT_EQ(written, static_cast<long>(s.log.size())) << "log left in a buffer";
    EXPECT_LE(r.count, max_sends);
    s.sent.assign(r.sent, r.sent + (r.count < max_sends ? r.count : max_sends));
    EXPECT_EQ(early_sends, std::vector<int>{}) << "console written before these sends";
    for (size_t i = 0; i < received.size(); ++i) {
        if (s.results[i] == translate_pass_through) {
            EXPECT_EQ(left[i], received[i]) << "stroke " << i;
        }
    }
    return s;
}

const translate_result pass = translate_pass_through;
const translate_result consumed = translate_consumed;

struct translate_case {
    const char* name;
    std::vector<mapping> table;
    std::vector<key_stroke> received;
    std::vector<translate_result> results;
    std::vector<key_stroke> sent;
    std::string log;
};

const translate_case cases[] = {
    {"caps to backspace, press and release",
     {{key_caps, {code_backspace}, {}, -1}},
     {{0x3A, 0x00, 0x11223344}, {0x3A, 0x01, 0x55667788}},
     {consumed, consumed},
     {{0x0E, 0x00, 0x11223344}, {0x0E, 0x01, 0x55667788}},
     "DOWN pressed key=Caps 003a -> 000e: 000e down-\n"
     "UP remapping pressed key=Caps 003a -> 000e: 000e up\n"},
    {"shifted output then plain output; modifiers carry no extra info",
     {{key_a, {code_b, code_enter}, {mod_left_shift, 0}, -1}},
     {{0x1E, 0x00, 0xABCD}, {0x1E, 0x01, 0x1234}},
     {consumed, consumed},
     {{0x2A, 0x00, 0}, {0x30, 0x00, 0xABCD}, {0x2A, 0x01, 0}, {0x1C, 0x00, 0xABCD},
      {0x30, 0x01, 0x1234}, {0x1C, 0x01, 0x1234}},
     "DOWN pressed key=A 001e -> 0030: lSdown-0030 down-lSup-\n"
     "DOWN pressed key=A 001e -> 001c: 001c down-\n"
     "UP remapping pressed key=A 001e -> 0030: 0030 up\n"
     "UP remapping pressed key=A 001e -> 001c: 001c up\n"},
    {"configured E0 key logs its make code without the E0 byte",
     {{key_insert, {code_delete}, {}, -1}},
     {{0x52, 0x02, 0}, {0x52, 0x03, 0}},
     {consumed, consumed},
     {{0x53, 0x02, 0}, {0x53, 0x03, 0}},
     "DOWN pressed key=Insert 0052 -> e053: e053 down-\n"
     "UP remapping pressed key=Insert 0052 -> e053: e053 up\n"},
    {"unconfigured table key and unknown key pass through with the lookup code",
     {},
     {{0x52, 0x02, 7}, {0x52, 0x03, 7}, {0x01, 0x00, 0}, {0x01, 0x01, 0}},
     {pass, pass, pass, pass},
     {},
     "bypassing key e052\nbypassing key e052\nbypassing key 0001\nbypassing key 0001\n"},
    {"both shifts press in bit order and release in the same order",
     {{key_a, {code_b}, {mod_left_shift | mod_right_shift}, -1}},
     {{0x1E, 0x00, 9}},
     {consumed},
     {{0x2A, 0x00, 0}, {0x36, 0x00, 0}, {0x30, 0x00, 9}, {0x2A, 0x01, 0}, {0x36, 0x01, 0}},
     "DOWN pressed key=A 001e -> 0030: lSdown-rSdown-0030 down-lSup-rSup-\n"},
    {"every modifier, in bit order, with its own press and release stroke",
     {{key_a, {code_b}, {0xFF}, -1}},
     {{0x1E, 0x00, 5}},
     {consumed},
     {{0x2A, 0x00, 0}, {0x1D, 0x00, 0}, {0x38, 0x00, 0}, {0x5B, 0x02, 0}, {0x36, 0x00, 0},
      {0x1D, 0x02, 0}, {0x38, 0x02, 0}, {0x5C, 0x02, 0}, {0x30, 0x00, 5}, {0x2A, 0x01, 0},
      {0x1D, 0x01, 0}, {0x38, 0x01, 0}, {0x5B, 0x03, 0}, {0x36, 0x01, 0}, {0x1D, 0x03, 0},
      {0x38, 0x03, 0}, {0x5C, 0x03, 0}},
     "DOWN pressed key=A 001e -> 0030: lSdown-lCdown-lAdown-lWdown-rSdown-rCdown-rAdown-rWdown-"
     "0030 down-lSup-lCup-lAup-lWup-rSup-rCup-rAup-rWup-\n"},
    {"release never sends modifiers",
     {{key_a, {code_b, code_enter}, {0xFF, mod_right_alt}, -1}},
     {{0x1E, 0x01, 3}},
     {consumed},
     {{0x30, 0x01, 3}, {0x1C, 0x01, 3}},
     "UP remapping pressed key=A 001e -> 0030: 0030 up\n"
     "UP remapping pressed key=A 001e -> 001c: 001c up\n"},
    {"modifier bits above the low byte play no part",
     {{key_a, {code_b}, {0x0100 | mod_left_ctrl}, -1}},
     {{0x1E, 0x00, 0}},
     {consumed},
     {{0x1D, 0x00, 0}, {0x30, 0x00, 0}, {0x1D, 0x01, 0}},
     "DOWN pressed key=A 001e -> 0030: lCdown-0030 down-lCup-\n"},
    {"first output 0 passes through even with later outputs set",
     {{key_a, {0, code_b}, {0, mod_left_shift}, -1}},
     {{0x1E, 0x00, 42}, {0x1E, 0x01, 42}},
     {pass, pass},
     {},
     "bypassing key 001e\nbypassing key 001e\n"},
    {"sequence ends at the first 0",
     {{key_a, {code_b, 0, code_enter}, {}, -1}},
     {{0x1E, 0x00, 0}},
     {consumed},
     {{0x30, 0x00, 0}},
     "DOWN pressed key=A 001e -> 0030: 0030 down-\n"},
    {"E0 output is sent as its low byte with the E0 flag",
     {{key_caps, {code_right}, {}, -1}},
     {{0x3A, 0x00, 1}, {0x3A, 0x01, 2}},
     {consumed, consumed},
     {{0x4D, 0x02, 1}, {0x4D, 0x03, 2}},
     "DOWN pressed key=Caps 003a -> e04d: e04d down-\n"
     "UP remapping pressed key=Caps 003a -> e04d: e04d up\n"},
    {"output bits between the low byte and the E0 mask",
     {{key_caps, {0x1F30, 0x2130, 0x8030}, {}, -1}},
     {{0x3A, 0x00, 0}, {0x3A, 0x01, 0}},
     {consumed, consumed},
     {{0x30, 0x00, 0}, {0x30, 0x02, 0}, {0x30, 0x02, 0}, {0x30, 0x01, 0}, {0x30, 0x03, 0},
      {0x30, 0x03, 0}},
     "DOWN pressed key=Caps 003a -> 1f30: 1f30 down-\n"
     "DOWN pressed key=Caps 003a -> 2130: 2130 down-\n"
     "DOWN pressed key=Caps 003a -> 8030: 8030 down-\n"
     "UP remapping pressed key=Caps 003a -> 1f30: 1f30 up\n"
     "UP remapping pressed key=Caps 003a -> 2130: 2130 up\n"
     "UP remapping pressed key=Caps 003a -> 8030: 8030 up\n"},
    {"other state bits are ignored in the lookup and not carried over",
     {{key_caps, {code_b}, {}, -1}, {key_insert, {code_enter}, {}, -1}},
     {{0x3A, 0xFFFC, 0}, {0x3A, 0xFFFD, 0}, {0x52, 0xFFFE, 0}, {0x52, 0x00F7, 0},
      {0x53, 0x00F6, 0}},
     {consumed, consumed, consumed, consumed, pass},
     {{0x30, 0x00, 0}, {0x30, 0x01, 0}, {0x1C, 0x00, 0}, {0x1C, 0x01, 0}},
     "DOWN pressed key=Caps 003a -> 0030: 0030 down-\n"
     "UP remapping pressed key=Caps 003a -> 0030: 0030 up\n"
     "DOWN pressed key=Insert 0052 -> 001c: 001c down-\n"
     "UP remapping pressed key=Insert 0052 -> 001c: 001c up\n"
     "bypassing key e053\n"},
    {"auto-repeat runs the whole press again, one release at the end",
     {{key_a, {code_b, code_enter}, {mod_left_shift, 0}, -1}},
     {{0x1E, 0x00, 0}, {0x1E, 0x00, 0}, {0x1E, 0x01, 0}},
     {consumed, consumed, consumed},
     {{0x2A, 0x00, 0}, {0x30, 0x00, 0}, {0x2A, 0x01, 0}, {0x1C, 0x00, 0},
      {0x2A, 0x00, 0}, {0x30, 0x00, 0}, {0x2A, 0x01, 0}, {0x1C, 0x00, 0},
      {0x30, 0x01, 0}, {0x1C, 0x01, 0}},
     "DOWN pressed key=A 001e -> 0030: lSdown-0030 down-lSup-\n"
     "DOWN pressed key=A 001e -> 001c: 001c down-\n"
     "DOWN pressed key=A 001e -> 0030: lSdown-0030 down-lSup-\n"
     "DOWN pressed key=A 001e -> 001c: 001c down-\n"
     "UP remapping pressed key=A 001e -> 0030: 0030 up\n"
     "UP remapping pressed key=A 001e -> 001c: 001c up\n"},
    {"first entry with the code wins, even when it has no outputs",
     {{key_user1, {code_b}, {}, 0x001E}},
     {{0x1E, 0x00, 0}},
     {pass},
     {},
     "bypassing key 001e\n"},
    {"claimed user entry with an unusual code",
     {{key_user1, {code_b}, {}, 0x0101}},
     {{0x0101, 0x00, 0}, {0x0001, 0x00, 0}},
     {consumed, pass},
     {{0x30, 0x00, 0}},
     "DOWN pressed key=user1 0101 -> 0030: 0030 down-\n"
     "bypassing key 0001\n"},
    {"received make code is logged as delivered, all 16 bits",
     {{key_insert, {code_b}, {}, -1}},
     {{0xE052, 0x00, 0}, {0xE052, 0x02, 0}},
     {consumed, consumed},
     {{0x30, 0x00, 0}, {0x30, 0x00, 0}},
     "DOWN pressed key=Insert e052 -> 0030: 0030 down-\n"
     "DOWN pressed key=Insert e052 -> 0030: 0030 down-\n"},
    {"make code 0 finds the first unclaimed user entry",
     {{key_user1, {code_b}, {}, -1}},
     {{0x00, 0x00, 0}, {0x00, 0x02, 0}},
     {consumed, pass},
     {{0x30, 0x00, 0}},
     "DOWN pressed key=user1 0000 -> 0030: 0030 down-\n"
     "bypassing key e000\n"},
};

TEST(TranslateStroke, SendsAndLogsEachCase) {
    for (const translate_case& c : cases) {
        SCOPED_TRACE(c.name);
        apply(c.table);
        session s = translate_all(c.received);
        EXPECT_EQ(s.results, c.results);
        EXPECT_EQ(s.sent, c.sent);
        EXPECT_EQ(s.log, c.log);
    }
}

// Sixteen outputs, each with all eight modifiers, under a name as long as the
// field allows: the largest text one stroke can log, which must come out whole.
// The second name fills its field with no terminator and is cut at the field.
// The modifiers lie right after the outputs, so a seventeenth output would be
// read as 0x00ff.
TEST(TranslateStroke, LongestLogComesOutWhole) {
    const char* names[] = {"ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNOP"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        reset_key_table();
        key_entry& entry = key_table[key_user1];
        std::memcpy(entry.name, name, std::strlen(name) < 16 ? std::strlen(name) + 1 : 16);
        entry.scan_code = 0xE05B;
        std::vector<key_stroke> expected;
        std::string log;
        for (int i = 0; i < key_outputs; ++i) {
            entry.outputs[i] = static_cast<uint16_t>(0xE010 + i);
            entry.modifiers[i] = 0xFF;
            char line[200];
            std::snprintf(line, sizeof line,
                          "DOWN pressed key=ABCDEFGHIJKLMNO 005b -> %04x: "
                          "lSdown-lCdown-lAdown-lWdown-rSdown-rCdown-rAdown-rWdown-"
                          "%04x down-lSup-lCup-lAup-lWup-rSup-rCup-rAup-rWup-\n",
                          0xE010u + i, 0xE010u + i);
            log += line;
            for (int b = 0; b < 8; ++b) expected.push_back(modifier_strokes[2 * b]);
            expected.push_back(key_stroke{static_cast<uint16_t>(0x10 + i), 0x02, 77});
            for (int b = 0; b < 8; ++b) expected.push_back(modifier_strokes[2 * b + 1]);
        }

        session s = translate_all({{0x5B, 0x02, 77}});
        EXPECT_EQ(s.results, std::vector<translate_result>{consumed});
        EXPECT_EQ(s.sent, expected);
        EXPECT_EQ(s.log.size(), 16u * 154u);
        EXPECT_EQ(s.log, log);
    }
}

TEST(TranslateStroke, SixteenReleasesThenStop) {
    reset_key_table();
    key_entry& entry = key_table[key_a];
    std::vector<key_stroke> expected;
    std::string log;
    for (int i = 0; i < key_outputs; ++i) {
        entry.outputs[i] = static_cast<uint16_t>(0x10 + i);
        expected.push_back(key_stroke{static_cast<uint16_t>(0x10 + i), 0x01, 0});
        char line[80];
        std::snprintf(line, sizeof line, "UP remapping pressed key=A 001e -> %04x: %04x up\n",
                      0x10u + i, 0x10u + i);
        log += line;
    }
    // Lies right after the outputs: a seventeenth output would be 0x0001.
    entry.modifiers[0] = 0x0001;

    session s = translate_all({{0x1E, 0x01, 0}});
    EXPECT_EQ(s.sent, expected);
    EXPECT_EQ(s.log, log);
}

}  // namespace
