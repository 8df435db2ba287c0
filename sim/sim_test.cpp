#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/platform.h"
#include "driver/control_codes.h"
#include "driver/strokes.h"
#include "tests/support/sim_fixture.h"

namespace {

// What happened, in order: "sys D MAKE" reached the system, "got D MAKE" the
// program read.
std::vector<std::string> trace;

void note(const char* what, int device, uint16_t make) {
    char line[32];
    std::snprintf(line, sizeof line, "%s %d %04x", what, device, make);
    trace.push_back(line);
}

void to_trace(void*, int device, const key_stroke* key) {
    note("sys", device, key->make_code);
}

class SimulatedDriver : public sim_fixture {
protected:
    void SetUp() override {
        sim_fixture::SetUp();
        trace.clear();
        sim_set_sink(to_trace, nullptr);
    }
};

// Reads strokes as the program's loop does until the wait fails.
void drain(device_set* set) {
    for (;;) {
        int device = wait_for_device(set);
        stroke in = {};
        if (receive_stroke(set, device, &in) < 1) return;
        note("got", device, in.key.make_code);
    }
}

bool count_up(void* context, sim_typed* next) {
    int* count = static_cast<int*>(context);
    if (*count == 10000) return false;
    *next = sim_typed{1 + *count % 2, key_stroke{static_cast<uint16_t>(*count), 0, 0}};
    ++*count;
    return true;
}

}  // namespace

TEST_F(SimulatedDriver, TypesOneStrokeAtATimeAndHonoursEachFilter) {
    struct row {
        const char* name;
        uint8_t filter1[2];
        uint8_t filter2[2];
        std::vector<std::string> expected;
    };
    // clang-format off
    const row rows[] = {
        {"only keyboard 1 captured", {3, 0}, {0, 0}, {"sys 2 0010", "got 1 0011", "sys 2 0012", "got 1 0013"}},
        {"both captured", {0, 1}, {1, 0}, {"got 2 0010", "got 1 0011", "got 2 0012", "got 1 0013"}},
        {"none captured", {0, 0}, {0, 0}, {"sys 2 0010", "sys 1 0011", "sys 2 0012", "sys 1 0013"}},
    };
    // clang-format on
    ASSERT_TRUE(open({1, 2}, false));
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        trace.clear();
        os_device_control(set->slots[0].device, ctl_set_filter, r.filter1, 2, nullptr, 0, nullptr);
        os_device_control(set->slots[1].device, ctl_set_filter, r.filter2, 2, nullptr, 0, nullptr);
        sim_type(3, key_stroke{0x0F, 0, 0});  // no such keyboard: the stroke goes nowhere
        for (uint16_t make = 0x10; make <= 0x13; ++make) sim_type(make % 2 == 0 ? 2 : 1, key_stroke{make, 0, 0});
        drain(set);
        EXPECT_EQ(r.expected, trace);
    }
}

TEST_F(SimulatedDriver, AnUnreadStrokeKeepsItsEventSetAndHoldsBackTyping) {
    ASSERT_TRUE(open({1}));
    sim_type(1, key_stroke{0x20, 0, 0});
    sim_type(1, key_stroke{0x21, 0, 0});
    EXPECT_EQ(1, wait_for_device(set));
    EXPECT_EQ(1, wait_for_device(set));
    stroke in = {};
    ASSERT_EQ(1, receive_stroke(set, 1, &in));
    EXPECT_EQ(0x20, in.key.make_code);
    EXPECT_EQ(0, receive_stroke(set, 1, &in));
    EXPECT_EQ(1, wait_for_device(set));
    ASSERT_EQ(1, receive_stroke(set, 1, &in));
    EXPECT_EQ(0x21, in.key.make_code);
    EXPECT_EQ(0, wait_for_device(set));
}

TEST_F(SimulatedDriver, ASourceFeedsStrokesInOrderUntilItEnds) {
    ASSERT_TRUE(open({1, 2}, false));
    int count = 0;
    sim_set_source(count_up, &count);
    EXPECT_EQ(0, wait_for_device(set));
    ASSERT_EQ(10000u, trace.size());
    EXPECT_EQ("sys 1 0000", trace[0]);
    EXPECT_EQ("sys 2 0001", trace[1]);
    EXPECT_EQ("sys 2 270f", trace[9999]);
}

TEST_F(SimulatedDriver, WritesHandEveryWholeRecordToTheSystem) {
    ASSERT_TRUE(open({4, 14}, false));
    const uint8_t two_keys[25] = {0, 0, 0x1E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x30, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x99};
    uint8_t mouse[mouse_record_size] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct row {
        const char* name;
        int slot;
        const uint8_t* records;
        uint32_t size;
        uint32_t taken;
        std::vector<std::string> delivered;
    };
    // clang-format off
    const row rows[] = {
        {"two keys and a stray byte", 3, two_keys, 25, 24, {"sys 4 001e", "sys 4 0030"}},
        {"less than a key", 3, two_keys, 11, 0, {}},
        {"a mouse record", 13, mouse, mouse_record_size, 24, {"sys 14 0000"}},
        {"a key-sized write to a mouse", 13, mouse, key_record_size, 0, {}},
    };
    // clang-format on
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        trace.clear();
        uint32_t taken = 99;
        EXPECT_TRUE(os_device_control(set->slots[r.slot].device, ctl_write, r.records, r.size, nullptr, 0, &taken));
        EXPECT_EQ(r.taken, taken);
        EXPECT_EQ(r.delivered, trace);
    }
}

TEST_F(SimulatedDriver, ChosenWritesTakeFewerBytesOrFail) {
    ASSERT_TRUE(open({4}, false));
    const uint8_t two_keys[24] = {0, 0, 0x1E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x30, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    struct row {
        const char* name;
        uint32_t size;  // of two_keys offered
        bool done;
        uint32_t taken;
        std::vector<std::string> delivered;
    };
    // The n-th row is the n-th write request.
    sim_short_write_at(1, 0);
    sim_short_write_at(2, 11);
    sim_short_write_at(3, 13);
    sim_short_write_at(4, 40);
    sim_short_write_at(5, 20);
    sim_short_write_at(5, 12);
    sim_short_write_at(6, 12);
    sim_fail_at(sim_step_write, 6);
    sim_short_write_at(9, 1);
    // clang-format off
    const row rows[] = {
        {"none of a key", 12, true, 0, {}},
        {"a byte short of a key", 12, true, 11, {}},
        {"one key and a byte of two", 24, true, 13, {"sys 4 001e"}},
        {"more bytes than offered", 24, true, 24, {"sys 4 001e", "sys 4 0030"}},
        {"the fewer of two", 24, true, 12, {"sys 4 001e"}},
        {"a failure wins", 24, false, 0, {}},
        {"a write after them all is whole", 24, true, 24, {"sys 4 001e", "sys 4 0030"}},
        {"so is a stray byte", 25, true, 24, {"sys 4 001e", "sys 4 0030"}},
        {"a short write of a stray byte", 25, true, 1, {}},
    };
    // clang-format on
    uint8_t offered[25] = {};
    std::memcpy(offered, two_keys, sizeof two_keys);
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        trace.clear();
        uint32_t taken = 99;
        EXPECT_EQ(r.done, os_device_control(set->slots[3].device, ctl_write, offered, r.size, nullptr, 0, &taken));
        EXPECT_EQ(r.taken, taken);
        EXPECT_EQ(r.delivered, trace);
    }
}

TEST_F(SimulatedDriver, FailuresAndShortWritesMayBeAddedWithoutEnd) {
    ASSERT_TRUE(open({1}, false));
    const uint8_t key[key_record_size] = {0, 0, 0x1E};
    for (int write = 1; write <= 3 * sim_max_failures; ++write) {
        SCOPED_TRACE(write);
        bool refuse = write % 2 == 1;
        ASSERT_TRUE(refuse ? sim_fail_at(sim_step_write, write) : sim_short_write_at(write, 5));
        uint32_t taken = 99;
        EXPECT_EQ(!refuse, os_device_control(set->slots[0].device, ctl_write, key, sizeof key, nullptr, 0, &taken));
        EXPECT_EQ(refuse ? 0u : 5u, taken);
    }
    EXPECT_EQ(0u, trace.size());
    for (int i = 0; i < sim_max_failures; ++i) {
        EXPECT_TRUE(sim_fail_at(sim_step_read, 1000 + i));
        EXPECT_TRUE(sim_short_write_at(1000 + i, 0));
    }
    EXPECT_FALSE(sim_fail_at(sim_step_read, 5000));
    EXPECT_FALSE(sim_short_write_at(5000, 0));
}

TEST_F(SimulatedDriver, HandlesAreDistinctAndCloseOnce) {
    sim_declare_device(1, "one");
    os_handle handles[3] = {os_open_device("\\\\.\\interception00"), os_create_event(), os_create_event()};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(os_null_handle, handles[i]);
        EXPECT_NE(os_invalid_handle, handles[i]);
        for (int j = 0; j < i; ++j) EXPECT_NE(handles[j], handles[i]);
    }
    EXPECT_EQ(3, sim_open_handles());
    EXPECT_EQ(os_invalid_handle, os_open_device("\\\\.\\interception20"));
    EXPECT_EQ(os_invalid_handle, os_open_device("\\\\.\\interception1"));
    EXPECT_EQ(os_invalid_handle, os_open_device("\\\\.\\interception000"));
    for (os_handle handle : handles) EXPECT_TRUE(os_close_handle(handle));
    os_handle reused = os_create_event();
    for (os_handle handle : handles) EXPECT_FALSE(os_close_handle(handle));
    EXPECT_TRUE(os_close_handle(reused));
    EXPECT_FALSE(os_close_handle(0x1234));
}

// A wait that could only hang is the end of the script; one that a real
// system would refuse fails, with the system's reason.
TEST_F(SimulatedDriver, AWaitThatCouldOnlyHangEndsTheScript) {
    ASSERT_TRUE(open({1, 2}));
    sim_type(2, key_stroke{0x10, 0, 0});
    os_handle only_first[1] = {set->slots[0].input_event};
    EXPECT_EQ(os_wait_over, os_wait_for_any(1, only_first));
    EXPECT_EQ(os_wait_failed, os_wait_for_any(0, only_first));
    EXPECT_EQ(87u, os_last_error());
    os_handle unknown[1] = {0x4444};
    EXPECT_EQ(os_wait_failed, os_wait_for_any(1, unknown));
    EXPECT_EQ(6u, os_last_error());
    sim_fail_at(sim_step_wait, sim_step_calls(sim_step_wait) + 1);
    EXPECT_EQ(os_wait_failed, os_wait_for_any(1, only_first));
    EXPECT_EQ(sim_failure_error, os_last_error());
    char text[80];
    os_error_text(os_last_error(), text, sizeof text);
    EXPECT_STREQ("A device attached to the system is not functioning.", text);
    os_handle both[2] = {set->slots[0].input_event, set->slots[1].input_event};
    EXPECT_EQ(1u, os_wait_for_any(2, both));
}

TEST_F(SimulatedDriver, OnlyTheChosenOccurrenceFails) {
    ASSERT_TRUE(open({1}));
    sim_fail_at(sim_step_hardware_id, 2);
    sim_fail_at(sim_step_hardware_id, 4);
    const int expected[] = {6, 0, 6, 0, 6};
    char16_t id[hardware_id_units];
    for (int i = 0; i < 5; ++i) EXPECT_EQ(expected[i], get_hardware_id(set, 1, id)) << "call " << i + 1;
    EXPECT_EQ(5, sim_step_calls(sim_step_hardware_id));
}

TEST_F(SimulatedDriver, RecordsStopAtTheirCaps) {
    for (int i = 0; i < sim_max_opens + 3; ++i) os_open_device("\\\\.\\nothing");
    EXPECT_EQ(sim_max_opens, sim_open_count());
    EXPECT_EQ(nullptr, sim_opened_name(sim_max_opens));
    for (int i = 0; i < sim_max_requests + 3; ++i)
        os_device_control(os_invalid_handle, ctl_read, nullptr, 0, nullptr, 0, nullptr);
    EXPECT_EQ(sim_max_requests, sim_request_count());
}

TEST_F(SimulatedDriver, ResetForgetsEverything) {
    ASSERT_TRUE(open({1, 12}));
    sim_type(1, key_stroke{0x10, 0, 0});
    sim_fail_at(sim_step_open, 1);
    uint8_t mouse[mouse_record_size] = {};
    sim_queue_mouse_record(12, mouse);
    EXPECT_FALSE(sim_declare_device(0, "x"));
    EXPECT_FALSE(sim_declare_device(21, "x"));
    EXPECT_FALSE(sim_queue_mouse_record(1, mouse));
    EXPECT_FALSE(sim_queue_mouse_record(13, mouse));
    device_set* before_reset = set;
    sim_reset();
    EXPECT_EQ(0, sim_open_handles());
    EXPECT_EQ(0, sim_live_blocks());
    EXPECT_EQ(0, sim_request_count());
    EXPECT_EQ(0, sim_open_count());
    EXPECT_EQ(0, sim_filter(1));
    EXPECT_EQ(0, sim_step_calls(sim_step_open));
    // The old set's block went with the reset; freeing it now does nothing.
    // Before the next set is made: that one may get the same address.
    os_heap_free(before_reset);
    ASSERT_TRUE(open({}, false));
    EXPECT_EQ(os_invalid_handle, set->slots[0].device);
    EXPECT_EQ(0, wait_for_device(set));
}

namespace {

sim_typed happening(sim_typed_kind kind, uint32_t pause_ms = 0) {
    sim_typed t = {};
    t.kind = kind;
    t.pause_ms = pause_ms;
    return t;
}

// "got D MAKE" for each stroke read, "quiet" for each wait that ran out, until
// a wait fails; every wait with the time limit.
void drain_timed(device_set* set, uint32_t limit_ms, const os_handle* others = nullptr, int other_count = 0) {
    for (;;) {
        input_wait wait = wait_for_input(set, others, other_count, limit_ms);
        if (wait.end == input_quiet) {
            trace.push_back("quiet");
            continue;
        }
        if (wait.end == input_other) {
            trace.push_back("other " + std::to_string(wait.other));
            os_reset_event(others[wait.other]);
            continue;
        }
        stroke in = {};
        if (wait.end != input_device || receive_stroke(set, wait.device, &in) < 1) return;
        note("got", wait.device, in.key.make_code);
    }
}

}  // namespace

// Time passes only in quiet moments: a wait with a limit runs out when the
// quiet ahead is at least that long, taking that much of it; a shorter quiet
// passes within the wait. The clock moves by the quiet that passed.
TEST_F(SimulatedDriver, TimedWaitsRunOutOnlyInQuietMoments) {
    struct row {
        const char* name;
        std::vector<uint32_t> pauses;  // before the one stroke
        uint32_t limit_ms;
        std::vector<std::string> expected;
        uint64_t elapsed_ms;  // on the clock from the start to the stroke
    };
    // clang-format off
    const row rows[] = {
        {"no quiet", {}, 100, {"got 1 0010"}, 0},
        {"shorter than the limit", {99}, 100, {"got 1 0010"}, 99},
        {"as long as the limit", {100}, 100, {"quiet", "got 1 0010"}, 100},
        {"two and a half limits", {250}, 100, {"quiet", "quiet", "got 1 0010"}, 250},
        {"quiet moments add up", {60, 60}, 100, {"quiet", "got 1 0010"}, 120},
        {"no limit", {600000}, os_wait_infinite, {"got 1 0010"}, 600000},
    };
    // clang-format on
    ASSERT_TRUE(open({1}));
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        trace.clear();
        for (uint32_t pause : r.pauses) sim_happen(happening(sim_typed_pause, pause));
        sim_type(1, key_stroke{0x10, 0, 0});
        uint64_t start = os_now_ms();
        drain_timed(set, r.limit_ms);
        EXPECT_EQ(r.expected, trace);
        EXPECT_EQ(r.elapsed_ms, os_now_ms() - start);
    }
}

// A held program waits for nothing: what is typed meanwhile goes on at once,
// captured strokes into the driver's queue, others straight to the system;
// once it goes on it reads what waits. The end of the script lets it go too.
TEST_F(SimulatedDriver, AHeldProgramLetsTypingGoOn) {
    ASSERT_TRUE(open({1, 2}, false));
    const uint8_t capture[2] = {0xFF, 0xFF};
    os_device_control(set->slots[0].device, ctl_set_filter, capture, 2, nullptr, 0, nullptr);
    for (bool thaw : {true, false}) {
        SCOPED_TRACE(thaw ? "thawed" : "held to the end");
        trace.clear();
        sim_type(1, key_stroke{0x10, 0, 0});
        sim_happen(happening(sim_typed_freeze));
        sim_type(1, key_stroke{0x11, 0, 0});
        sim_type(2, key_stroke{0x12, 0, 0});
        sim_happen(happening(sim_typed_pause, 5000));
        sim_type(1, key_stroke{0x13, 0, 0});
        sim_type(2, key_stroke{0x14, 0, 0});
        if (thaw) sim_happen(happening(sim_typed_thaw));
        sim_type(2, key_stroke{0x15, 0, 0});
        uint64_t start = os_now_ms();
        drain_timed(set, 1000);
        // The time goes by all the same.
        EXPECT_EQ(5000u, os_now_ms() - start);
        // Once it goes on, typing waits for it again.
        std::vector<std::string> expected = {"got 1 0010", "sys 2 0012", "sys 2 0014", "got 1 0011", "got 1 0013"};
        expected.insert(thaw ? expected.end() : expected.begin() + 3, "sys 2 0015");
        EXPECT_EQ(expected, trace);
    }
}

// A keyboard that comes or goes (its id changes) is told to every keyboard
// watch; the program resets the watch's event itself.
TEST_F(SimulatedDriver, KeyboardWatchesHearOfEveryIdChange) {
    ASSERT_TRUE(open({1}));
    os_keyboard_watch* watch = os_watch_keyboards();
    ASSERT_NE(nullptr, watch);
    EXPECT_EQ(1, sim_keyboard_watches());
    os_handle event = os_keyboard_watch_event(watch);
    sim_typed change = happening(sim_typed_id);
    change.device = 1;
    change.id = "another";
    sim_type(1, key_stroke{0x10, 0, 0});
    sim_happen(change);
    sim_type(1, key_stroke{0x11, 0, 0});
    drain_timed(set, os_wait_infinite, &event, 1);
    const std::vector<std::string> expected = {"got 1 0010", "other 0", "got 1 0011"};
    EXPECT_EQ(expected, trace);
    char16_t id[hardware_id_units];
    EXPECT_EQ(16, get_hardware_id(set, 1, id)) << "\"another\" and its terminator";
    os_unwatch_keyboards(watch);
    EXPECT_EQ(0, sim_keyboard_watches());
}

// A folder watch takes one to ten names of files, none empty or longer than a
// file system's 255 units, and tells a change of one of them (in any case of
// letters, or a change of unknown files) from a change of other files only.
TEST_F(SimulatedDriver, FolderWatchesTellTheirFilesFromOthers) {
    const std::u16string long_name(os_folder_name_units + 1, u'x');
    const std::u16string longest(os_folder_name_units, u'x');
    const char16_t* eleven[11];
    for (const char16_t*& name : eleven) name = u"pad.cfg";
    const char16_t* empty[] = {u""};
    const char16_t* too_long[] = {long_name.c_str()};
    const char16_t* in_bounds[] = {longest.c_str()};
    const struct {
        const char* what;
        const char16_t* const* names;
        int count;
        bool made;
    } starts[] = {
        {"no name", eleven, 0, false},           {"eleven names", eleven, 11, false},
        {"ten names", eleven, 10, true},         {"an empty name", empty, 1, false},
        {"a name too long", too_long, 1, false}, {"the longest name", in_bounds, 1, true},
        {"no list", nullptr, 1, false},
    };
    for (const auto& r : starts) {
        SCOPED_TRACE(r.what);
        os_folder_watch* watch = os_watch_folder(u"pads", r.names, r.count);
        EXPECT_EQ(r.made, watch != nullptr);
        EXPECT_EQ(r.made ? 1 : 0, sim_folder_watches());
        os_unwatch_folder(watch);
    }

    const char16_t* names[] = {u"pad.cfg", u"Numpad.cfg"};
    os_folder_watch* watch = os_watch_folder(u"pads", names, 2);
    ASSERT_NE(nullptr, watch);
    const struct {
        std::vector<const char*> files;  // changed one after another; null: not known which
        os_folder_news news;
    } changes[] = {
        {{"padmap.log"}, os_folder_others},  {{"pad.cfg"}, os_folder_named},
        {{"NUMPAD.CFG"}, os_folder_named},   {{"padmap.log", "pad.cfg", "padmap.log"}, os_folder_named},
        {{"pad.cfg.new"}, os_folder_others}, {{nullptr}, os_folder_named},
    };
    ASSERT_TRUE(open({1}));
    os_handle event = os_folder_watch_handle(watch);
    for (const auto& r : changes) {
        SCOPED_TRACE(r.files[0] != nullptr ? r.files[0] : "null");
        // Held meanwhile, the program hears of several changes at one wake.
        if (r.files.size() > 1) sim_happen(happening(sim_typed_freeze));
        for (const char* file : r.files) {
            sim_typed change = happening(sim_typed_files);
            change.folder = "pads";
            change.file = file;
            sim_happen(change);
        }
        if (r.files.size() > 1) sim_happen(happening(sim_typed_thaw));
        EXPECT_EQ(input_other, wait_for_input(set, &event, 1, os_wait_infinite).end);
        EXPECT_EQ(r.news, os_take_folder_changes(watch));
    }
    sim_typed elsewhere = happening(sim_typed_files);
    elsewhere.folder = "other pads";
    elsewhere.file = "pad.cfg";
    sim_happen(elsewhere);
    EXPECT_EQ(input_over, wait_for_input(set, &event, 1, os_wait_infinite).end)
        << "another folder's pad.cfg is none of this watch's";
    os_unwatch_folder(watch);
    EXPECT_EQ(os_folder_lost, os_take_folder_changes(nullptr));
}
