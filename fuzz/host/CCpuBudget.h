// The CPU time one input may take in a fuzzing program: past it the process
// stops with a report, like a crash, so the fuzzer keeps the input. Measured
// in CPU time of the process (user and system), not wall time, so a loaded
// machine does not make slow inputs out of quick ones; the fuzzer's own
// wall-clock timeout stays as the backstop for an input that waits.
#pragma once

class CCpuBudget {
public:
    explicit CCpuBudget(unsigned seconds);
    ~CCpuBudget();
    CCpuBudget(const CCpuBudget&) = delete;
    CCpuBudget& operator=(const CCpuBudget&) = delete;

private:
    static void OnExpired(int);
};
