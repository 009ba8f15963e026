// Hints to the system about large blocks of memory the program fills as it goes.
#pragma once

#include <cstddef>

// Asks for the whole 2 MiB pages inside [start, start + bytes) to be backed by huge pages when
// first touched. A list that grows into millions of entries then costs one page fault per
// 2 MiB instead of one per 4 KiB (in a virtual machine a fault costs microseconds). Only a
// hint: the system may ignore it, and nothing changes but the speed.
void AdviseHugePages(void* start, std::size_t bytes);
