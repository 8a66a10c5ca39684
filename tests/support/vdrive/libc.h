#pragma once

#include <sys/stat.h>
#include <sys/types.h>

// The C library's own functions behind the ones this library puts in front of them, for the
// drive's own file access (the cue sheet, the .bin, the state file, /dev/null).
namespace vdrive::libc
{

int open(const char* path, int flags, mode_t mode = 0);
int close(int fd);
int stat(const char* path, struct stat* st);
int fstat(int fd, struct stat* st);

} // namespace vdrive::libc
