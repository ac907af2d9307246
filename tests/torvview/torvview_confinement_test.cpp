// The renderer's confinement: which failures make it refuse to parse. That the thumbnail mode asks for
// each step, in order, between opening its files and the engine's first read, is seen in
// confinement_trace_test.py.
#include "renderer/confinement.h"
#include "renderer/exit_code.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

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

}  // namespace
