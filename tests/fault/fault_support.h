// Shared by the fault tests: scratch folders, discs with a known layout, runs in a child process.
#pragma once

#include <stdint.h>
#include <sys/types.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "image_model.h"
#include "job_host.h"
#include "scratch_dir.h"
#include "shift_job.h"
#include "test_disc.h"

namespace fault {

using model::Bytes;

// A host with a fixed offset text that never cancels; `onProgress` sees every progress point.
class TestHost : public NullJobHost {
  public:
    explicit TestHost(const std::string& offset) : NullJobHost(offset.c_str()) {}
    void ShowProgress(int32_t count) override {
        if (onProgress) {
            onProgress(count);
        }
    }

    std::function<void(int32_t)> onProgress;
};

// What a job running in a child process reports back.
struct Outcome {
    ShiftResult result;
    int32_t error;
    int32_t sectors;
    bool restored;
};

Outcome OutcomeOf(const JobReport& report);

using Folder = testing_support::ScratchDir;
using testing_support::Exists;
using testing_support::WriteText;

using testing_support::Disc;
using testing_support::Expected;
using testing_support::MakeDisc;
using testing_support::Run;
using testing_support::WriteDisc;

// Contents of a file; empty and `*present` false when it cannot be read.
Bytes Contents(const std::string& path, bool* present = nullptr);
// True when the file at `path` is readable and holds exactly `bytes` (compared piece by piece,
// without reading it whole into memory).
bool Holds(const std::string& path, const Bytes& bytes);

// Runs `work` in a forked child and hands back the bytes it returns; false when the child did
// not end normally. The child shares nothing with the test afterwards.
bool RunInChild(const std::function<std::string()>& work, std::string* result);

// Packs and unpacks a plain value for RunInChild.
template <typename T>
std::string Pack(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}
template <typename T>
bool Unpack(const std::string& bytes, T* value) {
    if (bytes.size() != sizeof(T)) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(value));
    return true;
}

// The uid and gid that permission tests drop to when they run as root.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

// Hands every entry under `path` (itself included, links not followed) to the unprivileged user.
void GiveToNobody(const std::string& path);

// In a child: drops root to kNobody. Returns false when that is impossible.
bool DropPrivileges();

// Runs the command-line tool with `args` in `directory`; returns its exit status, or -1 when it
// did not exit normally. Its output goes to `output` when given.
int RunCli(const std::vector<std::string>& args, const std::string& directory,
           std::string* output = nullptr);

}  // namespace fault
