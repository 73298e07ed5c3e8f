// Fails chosen system calls of a job on cue, where the operating system cannot be made to: the
// test executable is linked with --wrap for read, pread64, write, splice, copy_file_range, ioctl,
// fcntl64, fallocate64, ftruncate64, close, open64, rename, syscall (renameat2) and unlink.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace shim {

enum class Call {
    Read,          // read or pread of the source, the image's inode under whatever name
    SpliceIn,      // splice from the source into a pipe
    SpliceOut,     // splice from a pipe into the new image
    Write,         // write to the new image
    CopyRange,     // copy_file_range from the source to the new image
    ShareProbe,    // ioctl(FS_IOC_FIEMAP) on the new image
    PipeResize,    // fcntl(F_SETPIPE_SZ) on any pipe
    Preallocate,   // fallocate on the new image
    Release,       // ftruncate of the new image
    Close,         // of the new image
    ControlRead,   // of the control file
    SourceOpen,    // the backup opened for reading once it exists
    TargetCreate,  // the new image created
    Rename,        // either rename of the job: image to backup, or the backup put back
    Unlink,        // of the image or the backup name
    Count
};

enum class Fault {
    Fail,       // the nth call fails with `error`
    Interrupt,  // the nth call fails with EINTR once
    Short,      // from the nth call on, each call moves a third of what it was asked
};

struct Injection {
    Call call;
    int nth;  // 1 for the first matching call
    Fault fault;
    int error;
};

// Arms the shim for one job on the disc at `imagePath` (its backup is beside it, ".old") with
// `controlPath`. Calls on other files are never touched, nor any call while disarmed.
void Arm(const std::vector<Injection>& injections, const std::string& imagePath,
         const std::string& controlPath);
void Disarm();
// After Arm: runs `action` once, disarmed, just before the first matching call of `call`.
void Before(Call call, std::function<void()> action);

// Matching calls seen since Arm, of each kind.
int Calls(Call call);
// True once every planned fault has been delivered; or every one of kind `call`.
bool Delivered();
bool Delivered(Call call);

}  // namespace shim
