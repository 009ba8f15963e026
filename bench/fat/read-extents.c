/* The least a FAT search has to do: read the given extents of an image, nothing else. Reads
 * the "offset length" lines (bytes) of EXTENTS first, then reads each extent with pread in
 * blocks of up to 1 MiB and prints the bytes read. Built by bench/fat/bench-read.sh.
 *
 *   read-extents IMAGE EXTENTS
 */
#define _FILE_OFFSET_BITS 64
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

enum
{
    kBlock = 1 << 20,
    kMaxExtents = 1 << 16
};

static uint64_t offsets[kMaxExtents];
static uint64_t lengths[kMaxExtents];
static char block[kBlock];

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        fprintf(stderr, "usage: read-extents IMAGE EXTENTS\n");
        return 2;
    }
    FILE* list = fopen(argv[2], "r");
    if (list == NULL)
    {
        perror(argv[2]);
        return 1;
    }
    size_t count = 0;
    while (count < kMaxExtents &&
           fscanf(list, "%" SCNu64 " %" SCNu64, &offsets[count], &lengths[count]) == 2)
        ++count;
    fclose(list);
    int fd = open(argv[1], O_RDONLY);
    if (fd < 0)
    {
        perror(argv[1]);
        return 1;
    }
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i)
    {
        for (uint64_t at = 0; at < lengths[i];)
        {
            size_t want = lengths[i] - at < kBlock ? (size_t)(lengths[i] - at) : kBlock;
            ssize_t got = pread(fd, block, want, (off_t)(offsets[i] + at));
            if (got <= 0)
            {
                fprintf(stderr, "read failed at %" PRIu64 "\n", offsets[i] + at);
                return 1;
            }
            at += (uint64_t)got;
            total += (uint64_t)got;
        }
    }
    close(fd);
    printf("%" PRIu64 " bytes in %zu extents\n", total, count);
    return 0;
}
