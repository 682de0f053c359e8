#pragma once

#include <QTest>
#include <QWidget>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

// Waits until the window is on screen, prints the peak memory in kB and ends the process at
// once, so that bench/startup.sh times the start and nothing else.
inline int reportWhenShown(QWidget &window)
{
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld\n", usage.ru_maxrss);
    std::fflush(stdout);
    _exit(0);
}
