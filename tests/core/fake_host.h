// A job host for tests: a fixed offset text, a record of what the job showed, and a cancel at
// a chosen progress point or at a chosen look at the busy flag.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "job_host.h"

class FakeHost : public NullJobHost {
  public:
    explicit FakeHost(const char* offset = "-30") : NullJobHost(offset) {}

    void ReadOffsetText(char* buffer) override {
        ++offsetReads;
        NullJobHost::ReadOffsetText(buffer);
    }
    void ShowProgress(int32_t count) override {
        events.push_back("show " + std::to_string(count));
        progress.push_back(count);
        if (onProgress) {
            onProgress(count);
        }
        if (cancelAt != 0 && count >= cancelAt) {
            busy = 0;
        }
    }
    void PumpMessages(int32_t limit) override { events.push_back("pump " + std::to_string(limit)); }
    int32_t BusyFlag() override {
        events.push_back("busy");
        if (cancelAtLook != 0 && ++looks >= cancelAtLook) {
            busy = 0;
        }
        return busy;
    }
    void RewriteStarting(int64_t totalSectors) override { total = totalSectors; }

    int32_t cancelAt = 0;      // clears the busy flag when progress reaches this count
    int32_t cancelAtLook = 0;  // clears it at this look at it, 1 for the first
    int32_t looks = 0;
    int32_t busy = 1;
    int32_t offsetReads = 0;
    int64_t total = -1;
    std::vector<int32_t> progress;
    std::vector<std::string> events;
    std::function<void(int32_t)> onProgress;
};
