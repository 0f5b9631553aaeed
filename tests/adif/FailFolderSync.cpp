// Loaded into qardel-adif by its test (LD_PRELOAD): every sync of a folder
// fails as a failing disk's would, so that what the command says of an export
// whose folder could not be synced can be seen. Files sync as usual.
#include <cerrno>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" int fsync(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}
