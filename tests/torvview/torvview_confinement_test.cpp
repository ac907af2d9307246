// The renderer's confinement: which failures make it refuse to parse, what the token step does at
// each integrity level it may find, and what its confinement mode reports. Wine accepts every call
// and enforces none; of what was applied it records only the job's membership, so that is all that
// is read back here. That the thumbnail mode asks for each step, in
// order, between opening its files and the engine's first read, is seen in confinement_trace_test.py.
#include "renderer/confinement.h"
#include "renderer/exit_code.h"
#include "support/test_support.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tool_testing::Quote;

StepResult Applied()
{
    return StepResult{StepOutcome::kApplied, ERROR_SUCCESS};
}

StepResult Unavailable()
{
    return StepResult{StepOutcome::kUnavailable, ERROR_SUCCESS};
}

StepResult FailedWith(DWORD error)
{
    return StepResult{StepOutcome::kFailed, error};
}

struct DecisionCase {
    const char* name;
    StepResult job;
    StepResult integrity;
    StepResult policies;  // every policy step alike
    bool parses;
};

std::ostream& operator<<(std::ostream& out, const DecisionCase& c)
{
    return out << c.name;
}

class ConfinementDecisionTest : public testing::TestWithParam<DecisionCase> {};

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ConfinementDecisionTest,
    testing::Values(
        DecisionCase{"everything_applied", Applied(), Applied(), Applied(), true},
        // Windows 7: no SetProcessMitigationPolicy, and no nesting inside a caller's job.
        DecisionCase{"windows_7_in_a_callers_job", FailedWith(ERROR_ACCESS_DENIED), Applied(), Unavailable(), true},
        // An earlier Windows 10 that does not know some policy.
        DecisionCase{"policies_refused", Applied(), Applied(), FailedWith(ERROR_INVALID_PARAMETER), true},
        DecisionCase{"integrity_not_lowered", Applied(), FailedWith(ERROR_ACCESS_DENIED), Applied(), false},
        DecisionCase{"nothing_but_the_token_failed", FailedWith(ERROR_ACCESS_DENIED), FailedWith(ERROR_ACCESS_DENIED),
                     Unavailable(), false}),
    [](const testing::TestParamInfo<DecisionCase>& info) { return std::string(info.param.name); });

TEST_P(ConfinementDecisionTest, RefusesToParseOnlyWhenTheTokenWasNotLowered)
{
    const DecisionCase& c = GetParam();
    Confinement confinement;
    for (StepResult& step : confinement.steps) {
        step = c.policies;
    }
    confinement.steps[kStepJob] = c.job;
    confinement.steps[kStepLowIntegrity] = c.integrity;

    EXPECT_EQ(confinement.AllowsParsing(), c.parses);
}

// The token as the fake calls show it: its level (or none that can be read), and whether lowering
// it succeeds; the lowerings asked for are counted.
struct FakeToken {
    bool readable = true;
    DWORD level = SECURITY_MANDATORY_HIGH_RID;
    bool lowers = true;
    int lowerings = 0;
};

FakeToken g_token;

bool ReadFakeLevel(DWORD& rid) noexcept
{
    rid = g_token.level;
    return g_token.readable;
}

bool LowerFakeToken() noexcept
{
    ++g_token.lowerings;
    SetLastError(g_token.lowers ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
    return g_token.lowers;
}

struct TokenCase {
    const char* name;
    bool readable;
    DWORD level;
    bool lowers;
    StepOutcome outcome;
    int lowerings;
};

std::ostream& operator<<(std::ostream& out, const TokenCase& c)
{
    return out << c.name;
}

class TokenStepTest : public testing::TestWithParam<TokenCase> {};

INSTANTIATE_TEST_SUITE_P(
    Levels, TokenStepTest,
    testing::Values(
        // Started by the Shell's preview surrogate, which runs at Low: nothing to lower, and a token
        // that could not be opened for a change must not make it refuse.
        TokenCase{"already_low", true, SECURITY_MANDATORY_LOW_RID, false, StepOutcome::kApplied, 0},
        TokenCase{"untrusted", true, SECURITY_MANDATORY_UNTRUSTED_RID, false, StepOutcome::kApplied, 0},
        TokenCase{"medium_lowered", true, SECURITY_MANDATORY_MEDIUM_RID, true, StepOutcome::kApplied, 1},
        TokenCase{"high_lowered", true, SECURITY_MANDATORY_HIGH_RID, true, StepOutcome::kApplied, 1},
        TokenCase{"medium_not_lowered", true, SECURITY_MANDATORY_MEDIUM_RID, false, StepOutcome::kFailed, 1},
        TokenCase{"level_unreadable_lowered", false, 0, true, StepOutcome::kApplied, 1},
        TokenCase{"level_unreadable_not_lowered", false, 0, false, StepOutcome::kFailed, 1}),
    [](const testing::TestParamInfo<TokenCase>& info) { return std::string(info.param.name); });

TEST_P(TokenStepTest, LowersOnlyATokenAboveLowAndRefusesOnlyWhenThatFails)
{
    const TokenCase& c = GetParam();
    g_token = FakeToken{c.readable, c.level, c.lowers, 0};

    const StepResult step = LowerIntegrity(TokenCalls{ReadFakeLevel, LowerFakeToken});

    EXPECT_EQ(step.outcome, c.outcome);
    EXPECT_EQ(g_token.lowerings, c.lowerings);
    if (c.outcome == StepOutcome::kFailed) {
        EXPECT_EQ(step.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    Confinement confinement;
    confinement.steps[kStepLowIntegrity] = step;
    EXPECT_EQ(confinement.AllowsParsing(), c.outcome == StepOutcome::kApplied);
}

std::vector<std::string> Lines(const std::vector<BYTE>& bytes)
{
    std::vector<std::string> lines;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    for (const std::string& each : lines) {
        if (each == line) {
            return true;
        }
    }
    return false;
}

const char* const kStepsInOrder[] = {
    "job",           "low-integrity",      "no-dynamic-code",    "no-extension-points", "image-loads",
    "signed-images", "system-fonts-only", "strict-handles",      "no-win32k-calls",
};

TEST(ConfinementModeTest, ReportsEveryStepAppliedInOrderAndWhatWineRecords)
{
    const std::wstring report = testing_support::TempDir() + L"\\confinement.txt";

    ASSERT_EQ(tool_testing::Run(Quote(tool_testing::ViewerPath()) + L" --confinement " + Quote(report)).exitCode,
              static_cast<DWORD>(kExitOk));

    const std::vector<std::string> lines = Lines(tool_testing::ReadFileBytes(report));
    std::vector<std::string> steps;
    for (const std::string& line : lines) {
        if (line.compare(0, 5, "step ") == 0) {
            steps.push_back(line);
        }
    }
    std::vector<std::string> expected;
    for (const char* step : kStepsInOrder) {
        expected.push_back(std::string("step ") + step + ": applied");
    }
    EXPECT_EQ(steps, expected) << "Wine accepts every call";
    EXPECT_TRUE(Contains(lines, "parsing: allowed"));
    // What Wine keeps of the job: the process is in it, alone.
    EXPECT_TRUE(Contains(lines, "in a job: yes"));
    EXPECT_TRUE(Contains(lines, "job processes: 1, this one among them: yes"));
    // The win32k lockdown reaches every thread only if none has called into these.
    EXPECT_TRUE(Contains(lines, "user32.dll loaded: no"));
    EXPECT_TRUE(Contains(lines, "gdi32.dll loaded: no"));
    // The job's limits read back as zeros, the integrity level stays High and the policies read back
    // unwritten under Wine: nothing to assert on.
    DeleteFileW(report.c_str());
}

TEST(ConfinementModeTest, ReportThatCannotBeCreatedIsAWriteFailure)
{
    const std::wstring report = testing_support::TempDir() + L"\\no-such-folder\\confinement.txt";

    EXPECT_EQ(tool_testing::Run(Quote(tool_testing::ViewerPath()) + L" --confinement " + Quote(report)).exitCode,
              static_cast<DWORD>(kExitResultNotWritable));
}

}  // namespace
