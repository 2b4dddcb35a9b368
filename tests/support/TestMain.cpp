// The test programs' main: GoogleTest, and what every case owes the Wine session it runs in, which
// the next case may share. When a case ends, on every path but a crash, what it planted is removed;
// when the program ends, the session is looked at again, and anything a case left behind fails the
// program, named. (The harness replaces a session after any case that did not pass.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/Installation.h"

namespace {

bool g_leftSomething = false;

class RemovesWhatWasPlanted : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& test) override {
        try {
            Installation::RemoveWhatWasPlanted();
        } catch (const Installation::HarnessError& error) {
            std::fprintf(stderr, "session: %s.%s: %s\n", test.test_suite_name(), test.name(), error.what());
            g_leftSomething = true;
        }
    }
};

// What is in `after` and not in `before`, and the other way round.
std::vector<std::string> Changes(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    std::vector<std::string> changes;
    for (const std::string& line : after) {
        if (std::find(before.begin(), before.end(), line) == before.end()) changes.push_back("left: " + line);
    }
    for (const std::string& line : before) {
        if (std::find(after.begin(), after.end(), line) == after.end()) changes.push_back("gone: " + line);
    }
    return changes;
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new RemovesWhatWasPlanted);
    const std::vector<std::string> before = Installation::SessionState();
    int status = RUN_ALL_TESTS();
    const std::vector<std::string> changes = Changes(before, Installation::SessionState());
    for (const std::string& change : changes) std::fprintf(stderr, "session: changed by this run: %s\n", change.c_str());
    if (g_leftSomething || !changes.empty()) {
        std::fprintf(stderr, "session: FAILED: the cases above did not leave the session as they found it\n");
        status = 1;
    }
    return status;
}
