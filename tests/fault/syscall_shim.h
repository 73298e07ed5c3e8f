// Fails chosen system calls of a job on cue, where the operating system cannot be made to: the
// test executable is linked with --wrap for read, write, close and syscall (copy_file_range).
#pragma once

#include <sys/types.h>

#include <string>

namespace shim {

enum class Call { Read, Copy, Write, Close, ControlRead, Count };
enum class Fault {
    None,
    Fail,       // the nth call fails with `error`
    Interrupt,  // the nth call fails with EINTR once
    Short,      // from the nth call on, each call moves a third of what it was asked
};

struct Plan {
    Call call = Call::Read;
    int nth = 0;  // 1 for the first matching call
    Fault fault = Fault::None;
    int error = 0;
};

// Arms the shim for one job: the source is the file with the image's inode (whatever its name),
// the target the file that is created at `imagePath`, the control file the one at
// `controlPath`. Calls on other files are never touched, nor any call while disarmed.
void Arm(const Plan& plan, const std::string& imagePath, const std::string& controlPath);
void Disarm();

// Matching calls seen since Arm, of each kind.
int Calls(Call call);
// True once the planned fault has been delivered.
bool Delivered();

}  // namespace shim
