// The only way the core reaches a user interface: each host (window, command line, test) fills
// in these operations.
#pragma once

#include <stdint.h>

#include "text.h"

// The rewriter reports progress and looks for a cancel every this many sectors, and lets the
// host handle at most this many events each time.
constexpr int32_t PROGRESS_INTERVAL = 1024;
constexpr int32_t PUMP_LIMIT = 16;

class JobHost {
  public:
    virtual ~JobHost() = default;

    // Fills a TEXT_BUFFER_SIZE buffer with the offset text, at most 1023 bytes and a NUL.
    virtual void ReadOffsetText(char* buffer) = 0;
    // Shows the number of sectors processed so far.
    virtual void ShowProgress(int32_t count) = 0;
    // Lets the user interface handle at most `limit` pending events.
    virtual void PumpMessages(int32_t limit) = 0;
    // Nonzero while the job is to continue; a host clears it to cancel.
    virtual int32_t BusyFlag() = 0;

    // Told once before the rewrite starts, with the number of whole sectors in the image.
    virtual void RewriteStarting(int64_t totalSectors) { (void)totalSectors; }
};

// A host without a user interface: a fixed offset text, no progress, never cancels. Hosts that
// add a user interface derive from it and override only what they show or cancel.
class NullJobHost : public JobHost {
  public:
    explicit NullJobHost(const char* offsetText = "0") { SetOffsetText(offsetText); }

    // Keeps a copy of `text`, cut to 1023 bytes, for the jobs that follow.
    void SetOffsetText(const char* text);

    void ReadOffsetText(char* buffer) override;
    void ShowProgress(int32_t count) override { (void)count; }
    void PumpMessages(int32_t limit) override { (void)limit; }
    int32_t BusyFlag() override { return 1; }

  private:
    char offsetText_[TEXT_BUFFER_SIZE];
};
