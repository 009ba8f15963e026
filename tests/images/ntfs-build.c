/* Populates an NTFS volume made by mkntfs through libntfs-3g, without a mount.
 * Usage: ntfs-build IMAGE < script
 * Script lines (paths absolute within the volume, a name may hold spaces):
 *   mkdir PATH               create a folder
 *   file SIZE PATH           create a file of SIZE bytes of readable text
 *   append SIZE PATH         add SIZE bytes to an existing file
 *   sparse SIZE PATH         create a file of SIZE bytes that holds no clusters
 *   rm PATH                  delete a file or an empty folder
 *   rename OLD|NEW           give a file a new name (a hard link, then the old name removed)
 *   mkfiles N SIZE DIR       create DIR/f000000 .. f(N-1) of SIZE bytes each
 *   rmfiles N STEP DIR       delete DIR/fXXXXXX for every STEP-th index below N
 *   remount                  unmount and mount again
 *   inode PATH               print "PATH<TAB>record<TAB>sequence" on standard output
 */
#include <errno.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>

static ntfs_volume* vol;
static const char* image;

static void die(const char* what, const char* path)
{
    fprintf(stderr, "ntfs-build: %s %s: %s\n", what, path, strerror(errno));
    exit(1);
}

static void mount_volume(void)
{
    vol = ntfs_mount(image, NTFS_MNT_NONE);
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

static void write_data(ntfs_inode* ni, long long size, long long offset, const char* path)
{
    if (size <= 0)
        return;
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (!na)
        die("open data of", path);
    char* buf = malloc((size_t)size);
    if (!buf)
        die("no memory for", path);
    fill(buf, size, offset, path);
    if (ntfs_attr_pwrite(na, offset, size, buf) != size)
        die("write", path);
    free(buf);
    ntfs_attr_close(na);
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

static void append(const char* path, long long size)
{
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, NULL, path);
    if (!ni)
        die("open", path);
    write_data(ni, size, ni->data_size, path);
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

static void renamepath(const char* arg)
{
    char old[4096];
    const char* bar = strchr(arg, '|');
    if (!bar || (size_t)(bar - arg) >= sizeof old)
        die("bad rename", arg);
    memcpy(old, arg, (size_t)(bar - arg));
    old[bar - arg] = '\0';
    const char* newpath = bar + 1;
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
    removepath(old);
}

static void show_inode(const char* path)
{
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, NULL, path);
    if (!ni)
        die("open", path);
    printf("%s\t%llu\t%u\n", path, (unsigned long long)ni->mft_no,
           (unsigned)le16_to_cpu(ni->mrec->sequence_number));
    ntfs_inode_close(ni);
}

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        fprintf(stderr, "usage: ntfs-build IMAGE < script\n");
        return 2;
    }
    setlocale(LC_ALL, "C.UTF-8");
    image = argv[1];
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
            append(rest + used, a);
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
            show_inode(rest);
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
