#pragma once

#include <QtGlobal>

#include <sys/types.h>

namespace lumiclip::bench {

// The memory of a process and everything it started: the processes of its process group plus any
// descendant that left the group. RSS counts shared pages once per process, so the sum over many
// processes overstates what they use together; PSS divides shared pages among their users and sums
// to the real total.
struct ProcessTreeMemory {
    int processes = 0;
    qint64 rssKb = 0;
    qint64 pssKb = 0;
};

ProcessTreeMemory MeasureProcessTree(pid_t root);

}  // namespace lumiclip::bench
