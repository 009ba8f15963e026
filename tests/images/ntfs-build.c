/* Populates an NTFS volume made by mkntfs through libntfs-3g, without a mount.
 * Usage: ntfs-build [-r] IMAGE < script   (-r: mount read-only, for the printing commands)
 * Script lines (paths absolute within the volume, a name may hold spaces):
 *   mkdir PATH               create a folder
 *   file SIZE PATH           create a file of SIZE bytes of readable text
 *   append SIZE PATH         add SIZE bytes of readable text to an existing file
 *   noise SIZE PATH          add SIZE bytes of incompressible noise to an existing file
 *   hole SIZE PATH           lengthen an existing file by SIZE zero bytes that hold no clusters
 *                            (in a compressed file: none for each compression block they fill)
 *   sparse SIZE PATH         create a file of SIZE bytes that holds no clusters
 *   stream SIZE PATH:NAME    add to an existing file a named data stream NAME of SIZE bytes of
 *                            readable text (the name is what follows the last ':')
 *   compressed PATH          set the compressed attribute on a folder (files made in it later
 *                            get compressed data) or on a file whose data is still empty
 *   link OLD|NEW             give a file one more name (a hard link)
 *   fragment N SIZE A|B      N times: lengthen file A by a hole of SIZE bytes and add SIZE
 *                            bytes of readable text, then the same to file B; each file gets
 *                            2N runs whatever the cluster allocator does, and their clusters
 *                            interleave as far as it lets them
 *   rm PATH                  delete a file (all its streams) or an empty folder; a file with
 *                            several names loses only this one
 *   rename OLD|NEW           give a file a new name (a hard link, then the old name removed)
 *   mkfiles N SIZE DIR       create DIR/f000000 .. f(N-1) of SIZE bytes each
 *   rmfiles N STEP DIR       delete DIR/fXXXXXX for every STEP-th index below N
 *   remount                  unmount and mount again
 *   inode PATH               print "PATH<TAB>record<TAB>sequence" on standard output
 *   dump PATH                print the inode line, then for each entry of the file's attribute
 *                            list (if it has one) "<TAB>TYPE<TAB>LOWEST-VCN<TAB>RECORD<TAB>NAME"
 *                            with TYPE in hex (0x30 $FILE_NAME, 0x80 $DATA, ...)
 *
 * Content, so that tests can compute every byte they expect:
 * - Text ("file", "append", "fragment", "stream"): each write lays down lines
 *   "LABEL offset P: readable test content.\n" from the offset S where the write starts, P
 *   being the line's own offset in the file (S, S + length of the first line, ...); the last
 *   line is cut at the write's end. LABEL is the PATH as given, or "PATH:NAME" for a stream.
 *   A file made by "file" alone is thus a function of its path and the offset; each "append"
 *   starts its lines afresh at the file's size before it.
 * - Noise ("noise"): the byte at file offset O is byte (O % 8) (least significant first) of
 *   splitmix64(fnv1a64(PATH) + O / 8), with fnv1a64 the 64-bit FNV-1a hash of the path's bytes
 *   and splitmix64 the finaliser x += 0x9E3779B97F4A7C15; x = (x ^ x >> 30) *
 *   0xBF58476D1CE4E5B9; x = (x ^ x >> 27) * 0x94D049BB133111EB; x ^= x >> 31.
 * - Holes ("hole", "sparse") read as zeros.
 * tests/support/NtfsContent.h computes the same bytes.
 */
#include <errno.h>
#include <locale.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/security.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>

static ntfs_volume* vol;
static const char* image;
static unsigned long mount_flags = NTFS_MNT_NONE;

static void die(const char* what, const char* path)
{
    fprintf(stderr, "ntfs-build: %s %s: %s\n", what, path, strerror(errno));
    exit(1);
}

static void mount_volume(void)
{
    vol = ntfs_mount(image, mount_flags);
    if (!vol)
        die("mount", image);
}

/* Splits PATH into its parent folder's inode and the last name as UTF-16. */
static ntfs_inode* open_parent(const char* path, ntfschar** uname, int* ulen)
{
    char buf[4096];
    snprintf(buf, sizeof buf, "%s", path);
    char* slash = strrchr(buf, '/');
    if (!slash)
        die("bad path", path);
    *slash = '\0';
    ntfs_inode* dir = ntfs_pathname_to_inode(vol, NULL, buf[0] ? buf : "/");
    if (!dir)
        die("no parent folder for", path);
    *uname = NULL;
    *ulen = ntfs_mbstoucs(slash + 1, uname);
    if (*ulen <= 0)
        die("bad name", path);
    return dir;
}

/* Writes are built in memory whole; this bounds what one script line may ask for. */
#define MAX_WRITE (256LL << 20)

typedef void (*filler)(char* buf, long long size, long long offset, const char* label);

static void fill(char* buf, long long size, long long offset, const char* path)
{
    long long done = 0;
    char line[512];
    while (done < size)
    {
        int n = snprintf(line, sizeof line, "%s offset %lld: readable test content.\n", path,
                         offset + done);
        long long take = n;
        if (take > size - done)
            take = size - done;
        memcpy(buf + done, line, (size_t)take);
        done += take;
    }
}

static unsigned long long fnv1a64(const char* s)
{
    unsigned long long h = 0xCBF29CE484222325ULL;
    for (; *s; ++s)
    {
        h ^= (unsigned char)*s;
        h *= 0x100000001B3ULL;
    }
    return h;
}

static unsigned long long splitmix64(unsigned long long x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

static void fill_noise(char* buf, long long size, long long offset, const char* path)
{
    unsigned long long seed = fnv1a64(path);
    for (long long i = 0; i < size; ++i)
    {
        unsigned long long o = (unsigned long long)(offset + i);
        buf[i] = (char)(splitmix64(seed + o / 8) >> (8 * (o % 8)));
    }
}

/* Writes SIZE bytes of generated content at OFFSET into the data stream NAME (AT_UNNAMED with
 * length 0 for the unnamed one). A compressed stream may take a write in several pieces, and
 * its last compression block is only written out by ntfs_attr_pclose. */
static void write_stream(ntfs_inode* ni, ntfschar* name, int name_len, long long size,
                         long long offset, const char* label, filler gen)
{
    if (size <= 0)
        return;
    if (size > MAX_WRITE)
    {
        errno = EFBIG;
        die("write too large for", label);
    }
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, name, (u32)name_len);
    if (!na)
        die("open data of", label);
    char* buf = malloc((size_t)size);
    if (!buf)
        die("no memory for", label);
    gen(buf, size, offset, label);
    long long done = 0;
    while (done < size)
    {
        s64 n = ntfs_attr_pwrite(na, offset + done, size - done, buf + done);
        if (n <= 0)
            die("write", label);
        done += n;
    }
    if (NAttrCompressed(na) && ntfs_attr_pclose(na))
        die("flush compressed data of", label);
    free(buf);
    ntfs_attr_close(na);
}

static void write_data(ntfs_inode* ni, long long size, long long offset, const char* path)
{
    write_stream(ni, AT_UNNAMED, 0, size, offset, path, fill);
}

static void create(const char* path, mode_t type, long long size)
{
    ntfschar* uname;
    int ulen;
    ntfs_inode* dir = open_parent(path, &uname, &ulen);
    ntfs_inode* ni = ntfs_create(dir, const_cpu_to_le32(0), uname, (u8)ulen, type);
    if (!ni)
        die("create", path);
    if (ntfs_inode_close(ni))
        die("close", path);
    if (ntfs_inode_close(dir))
        die("close folder of", path);
    free(uname);
    /* The data is written once the folder is closed again: syncing the new file's name into
     * its folder's index while that folder is held open fails. */
    if (size > 0)
    {
        ni = ntfs_pathname_to_inode(vol, NULL, path);
        if (!ni)
            die("reopen", path);
        write_data(ni, size, 0, path);
        if (ntfs_inode_close(ni))
            die("close", path);
    }
}

static void append(const char* path, long long size, filler gen)
{
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, NULL, path);
    if (!ni)
        die("open", path);
    write_stream(ni, AT_UNNAMED, 0, size, ni->data_size, path, gen);
    if (ntfs_inode_close(ni))
        die("close", path);
}

static void sparse(const char* path, long long size)
{
    create(path, S_IFREG, 0);
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, NULL, path);
    if (!ni)
        die("reopen", path);
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (!na || ntfs_attr_truncate(na, size))
        die("truncate", path);
    ntfs_attr_close(na);
    if (ntfs_inode_close(ni))
        die("close", path);
}

static void removepath(const char* path)
{
    ntfschar* uname;
    int ulen;
    ntfs_inode* dir = open_parent(path, &uname, &ulen);
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, NULL, path);
    if (!ni)
        die("open", path);
    /* ntfs_delete closes both inodes. */
    if (ntfs_delete(vol, path, ni, dir, uname, (u8)ulen))
        die("delete", path);
    free(uname);
}

/* Splits "A|B" into its two paths; A is copied into first (of size FIRST_SIZE). */
static const char* split_pair(const char* arg, char* first, size_t first_size, const char* what)
{
    const char* bar = strchr(arg, '|');
    if (!bar || (size_t)(bar - arg) >= first_size)
    {
        errno = EINVAL;
        die(what, arg);
    }
    memcpy(first, arg, (size_t)(bar - arg));
    first[bar - arg] = '\0';
    return bar + 1;
}

static void linkpath(const char* old, const char* newpath)
{
    ntfschar* uname;
    int ulen;
    ntfs_inode* dir = open_parent(newpath, &uname, &ulen);
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, NULL, old);
    if (!ni)
        die("open", old);
    if (ntfs_link(ni, dir, uname, (u8)ulen))
        die("link", newpath);
    free(uname);
    if (ntfs_inode_close(ni) || ntfs_inode_close(dir))
        die("close", newpath);
}

static void renamepath(const char* arg)
{
    char old[4096];
    const char* newpath = split_pair(arg, old, sizeof old, "bad rename");
    linkpath(old, newpath);
    removepath(old);
}

static void fill_zeros(char* buf, long long size, long long offset, const char* path)
{
    (void)offset;
    (void)path;
    memset(buf, 0, (size_t)size);
}

/* Lengthening a compressed attribute by truncation stops at a compression block's end, so it
 * gets written zeros instead: libntfs-3g leaves a compression block of zeros unallocated. */
static void hole(const char* path, long long size)
{
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, NULL, path);
    if (!ni)
        die("open", path);
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (!na || size < 0)
        die("lengthen", path);
    const s64 end = na->data_size;
    const int compressed = NAttrCompressed(na);
    if (!compressed && ntfs_attr_truncate(na, end + size))
        die("lengthen", path);
    ntfs_attr_close(na);
    if (compressed)
        write_stream(ni, AT_UNNAMED, 0, size, end, path, fill_zeros);
    if (ntfs_inode_close(ni))
        die("close", path);
}

/* ARG is PATH:NAME; the stream's name is what follows the last ':'. */
static void add_stream(const char* arg, long long size)
{
    char path[4096];
    const char* colon = strrchr(arg, ':');
    const char* slash = strrchr(arg, '/');
    if (!colon || (slash && colon < slash) || colon[1] == '\0' ||
        (size_t)(colon - arg) >= sizeof path)
    {
        errno = EINVAL;
        die("bad stream", arg);
    }
    memcpy(path, arg, (size_t)(colon - arg));
    path[colon - arg] = '\0';
    ntfschar* uname = NULL;
    int ulen = ntfs_mbstoucs(colon + 1, &uname);
    if (ulen <= 0 || ulen > 255)
        die("bad stream name", arg);
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, NULL, path);
    if (!ni)
        die("open", path);
    if (ntfs_attr_add(ni, AT_DATA, uname, (u8)ulen, NULL, 0))
        die("add stream", arg);
    write_stream(ni, uname, ulen, size, 0, arg, fill);
    free(uname);
    if (ntfs_inode_close(ni))
        die("close", path);
}

/* What setting the system.ntfs_attrib extended attribute does on a mounted volume. */
static void set_compressed(const char* path)
{
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, NULL, path);
    if (!ni)
        die("open", path);
    /* The attribute's value is the file attribute flags in the machine's byte order. */
    u32 attrib;
    if (ntfs_get_ntfs_attrib(ni, (char*)&attrib, sizeof attrib) != (int)sizeof attrib)
        die("read attributes of", path);
    attrib |= le32_to_cpu(FILE_ATTR_COMPRESSED);
    if (ntfs_set_ntfs_attrib(ni, (const char*)&attrib, sizeof attrib, 0))
        die("compress", path);
    if (ntfs_inode_close(ni))
        die("close", path);
}

static void fragment(long long rounds, long long size, const char* arg)
{
    char first[4096];
    const char* second = split_pair(arg, first, sizeof first, "bad fragment");
    for (long long i = 0; i < rounds; ++i)
    {
        hole(first, size);
        append(first, size, fill);
        hole(second, size);
        append(second, size, fill);
    }
}

static void show_inode(const char* path, int attributes)
{
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, NULL, path);
    if (!ni)
        die("open", path);
    printf("%s\t%llu\t%u\n", path, (unsigned long long)ni->mft_no,
           (unsigned)le16_to_cpu(ni->mrec->sequence_number));
    /* The attribute list as libntfs-3g read it: entries of at least the fixed part, each one
     * no longer than what is left. */
    if (attributes && NInoAttrList(ni) && ni->attr_list)
    {
        const u8* at = ni->attr_list;
        const u8* end = at + ni->attr_list_size;
        const size_t fixed = offsetof(ATTR_LIST_ENTRY, name);
        while ((size_t)(end - at) >= fixed)
        {
            const ATTR_LIST_ENTRY* e = (const ATTR_LIST_ENTRY*)at;
            u16 length = le16_to_cpu(e->length);
            if (length < fixed || length > end - at ||
                e->name_offset + 2u * e->name_length > length)
                break;
            char* name = NULL;
            if (e->name_length &&
                ntfs_ucstombs((const ntfschar*)(at + e->name_offset), e->name_length, &name, 0) < 0)
                name = NULL;
            printf("\t0x%x\t%lld\t%llu\t%s\n", (unsigned)le32_to_cpu(e->type),
                   (long long)sle64_to_cpu(e->lowest_vcn),
                   (unsigned long long)MREF_LE(e->mft_reference), name ? name : "");
            free(name);
            at += length;
        }
    }
    ntfs_inode_close(ni);
}

int main(int argc, char** argv)
{
    if (argc == 3 && !strcmp(argv[1], "-r"))
        mount_flags = NTFS_MNT_RDONLY;
    else if (argc != 2)
    {
        fprintf(stderr, "usage: ntfs-build [-r] IMAGE < script\n");
        return 2;
    }
    setlocale(LC_ALL, "C.UTF-8");
    image = argv[argc - 1];
    mount_volume();
    char line[4096];
    while (fgets(line, sizeof line, stdin))
    {
        line[strcspn(line, "\n")] = '\0';
        char cmd[32];
        long long a = 0, b = 0;
        int used = 0;
        if (line[0] == '\0' || line[0] == '#')
            continue;
        if (sscanf(line, "%31s %n", cmd, &used) != 1)
            continue;
        char* rest = line + used;
        if (!strcmp(cmd, "mkdir"))
            create(rest, S_IFDIR, 0);
        else if (!strcmp(cmd, "file") && sscanf(rest, "%lld %n", &a, &used) == 1)
            create(rest + used, S_IFREG, a);
        else if (!strcmp(cmd, "append") && sscanf(rest, "%lld %n", &a, &used) == 1)
            append(rest + used, a, fill);
        else if (!strcmp(cmd, "noise") && sscanf(rest, "%lld %n", &a, &used) == 1)
            append(rest + used, a, fill_noise);
        else if (!strcmp(cmd, "hole") && sscanf(rest, "%lld %n", &a, &used) == 1)
            hole(rest + used, a);
        else if (!strcmp(cmd, "stream") && sscanf(rest, "%lld %n", &a, &used) == 1)
            add_stream(rest + used, a);
        else if (!strcmp(cmd, "compressed"))
            set_compressed(rest);
        else if (!strcmp(cmd, "link"))
        {
            char old[4096];
            const char* newpath = split_pair(rest, old, sizeof old, "bad link");
            linkpath(old, newpath);
        }
        else if (!strcmp(cmd, "fragment") && sscanf(rest, "%lld %lld %n", &a, &b, &used) == 2)
            fragment(a, b, rest + used);
        else if (!strcmp(cmd, "sparse") && sscanf(rest, "%lld %n", &a, &used) == 1)
            sparse(rest + used, a);
        else if (!strcmp(cmd, "rm"))
            removepath(rest);
        else if (!strcmp(cmd, "rename"))
            renamepath(rest);
        else if (!strcmp(cmd, "mkfiles") && sscanf(rest, "%lld %lld %n", &a, &b, &used) == 2)
        {
            for (long long i = 0; i < a; ++i)
            {
                char p[4096];
                snprintf(p, sizeof p, "%s/f%06lld", rest + used, i);
                create(p, S_IFREG, b);
            }
        }
        else if (!strcmp(cmd, "rmfiles") && sscanf(rest, "%lld %lld %n", &a, &b, &used) == 2)
        {
            for (long long i = 0; i < a; i += b)
            {
                char p[4096];
                snprintf(p, sizeof p, "%s/f%06lld", rest + used, i);
                removepath(p);
            }
        }
        else if (!strcmp(cmd, "remount"))
        {
            if (ntfs_umount(vol, FALSE))
                die("unmount", image);
            mount_volume();
        }
        else if (!strcmp(cmd, "inode"))
            show_inode(rest, 0);
        else if (!strcmp(cmd, "dump"))
            show_inode(rest, 1);
        else
        {
            fprintf(stderr, "ntfs-build: bad line: %s\n", line);
            return 2;
        }
    }
    if (ntfs_umount(vol, FALSE))
        die("unmount", image);
    return 0;
}
