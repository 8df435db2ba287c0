#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/program_run.h"

namespace {

// The system takes 4 of the text's 10 key events (a window of a program with
// higher rights in front): the log says so after the stroke's lines, and the
// keys after the text still go out.
TEST(TextsAndPrograms, ATextTheSystemTookInPartIsLogged) {
    sim_reset();
    sim_declare_device(1, "PAD");
    sim_take_text_events(4);
    std::string path = write_config("PAD\nF1 \"h\xC3\xA9llo\",A\n");
    std::vector<sim_typed> script = {{1, stroke_of(0x3B, false)}, {1, stroke_of(0x3B, true)}};
    program_run run = run_program(script, path);
    std::string tail =
        "DOWN pressed key=F1 003b -> \"h\xC3\xA9llo\": typed\n"
        "DOWN pressed key=F1 003b -> 001e: 001e down-\n"
        "typed in part \"h\xC3\xA9llo\": the system took 4 of its 10 key events\n"
        "UP remapping pressed key=F1 003b -> \"h\xC3\xA9llo\": nothing to do\n"
        "UP remapping pressed key=F1 003b -> 001e: 001e up\n";
    ASSERT_GE(run.output.size(), tail.size());
    EXPECT_EQ(tail, run.output.substr(run.output.size() - tail.size()));
    EXPECT_EQ("1 001e 0000 00000000\n1 001e 0001 00000000\n", describe(run.delivered));
}

}  // namespace
