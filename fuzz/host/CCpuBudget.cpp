// CPU budget of one input: a profiling timer that aborts when it expires.
#include "CCpuBudget.h"

#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

CCpuBudget::CCpuBudget(unsigned seconds)
{
    struct sigaction sa = {};
    sa.sa_handler = OnExpired;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGPROF, &sa, nullptr);
    itimerval timer = {};
    timer.it_value.tv_sec = seconds;
    setitimer(ITIMER_PROF, &timer, nullptr);
}

CCpuBudget::~CCpuBudget()
{
    itimerval off = {};
    setitimer(ITIMER_PROF, &off, nullptr);
}

void CCpuBudget::OnExpired(int)
{
    static const char kText[] = "==fuzz host== the input used up its CPU budget (a hang or a slow input)\n";
    ssize_t ignored = write(STDERR_FILENO, kText, sizeof kText - 1);
    (void)ignored;
    abort();
}
