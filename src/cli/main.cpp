// orlavent-cli: search FAT and NTFS volumes for deleted files from a terminal.
#include <cstdio>

int main()
{
    std::puts("orlavent-cli");
    return 0;
}
