#include "collection.h"

#include <string.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>

#include "console.h"
#include "file.h"
#include "folder_walk.h"
#include "shift_job.h"

namespace {

struct VerdictName {
    const char* word;
    bool good;  // the image ended as the command wants it
};

const VerdictName kVerdicts[] = {
    {"matches", true},        {"shifted", true},    {"shift-found", true}, {"not-certain", false},
    {"no-match", false},      {"no-entry", false},  {"damaged", false},    {"refused", false},
    {"failed", false},        {"cancelled", false}, {"would-shift", true}, {"put-back", true},
    {"would-put-back", true}, {"hashed", true},     {"detected", true},
};
constexpr size_t kVerdictCount = sizeof(kVerdicts) / sizeof(kVerdicts[0]);

const VerdictName& NameOf(Verdict verdict) {
    return kVerdicts[static_cast<size_t>(verdict)];
}

bool HasExtension(const std::string& name, const char* extension) {
    return CompareNoCase(FindExtension(name.c_str()), extension) == 0;
}

// The name without its extension.
std::string Stem(const std::string& name) {
    return name.substr(0, static_cast<size_t>(FindExtension(name.c_str()) - name.c_str()));
}

// Adds the control files under `folder` to `found`, and each folder that cannot be read. A cue
// sheet beside a control file of the same name, as imaging tools write one for other programs,
// describes the same image: only the control file stands for it.
void Walk(const std::string& folder, std::vector<ListedFile>& found) {
    std::vector<FolderEntry> entries;
    int error = ReadFolder(folder, entries);
    if (error != 0) {
        found.push_back({folder, error});
    }
    std::vector<std::string> controlStems;
    for (const FolderEntry& entry : entries) {
        if (entry.kind == EntryKind::File && HasExtension(entry.name, ".ccd")) {
            controlStems.push_back(Stem(entry.name));
        }
    }
    for (const FolderEntry& entry : entries) {
        const std::string path = InFolder(folder, entry.name);
        if (entry.kind == EntryKind::Folder) {
            Walk(path, found);
        } else if (entry.kind == EntryKind::File &&
                   (HasExtension(entry.name, ".ccd") ||
                    (HasExtension(entry.name, ".cue") &&
                     std::find(controlStems.begin(), controlStems.end(), Stem(entry.name)) ==
                         controlStems.end()))) {
            found.push_back({path, 0});
        }
    }
}

// The bytes of the image beside a control file, for the run's progress; 0 when unknown.
int64_t ImageBytes(const std::string& controlPath) {
    char imagePath[PATH_BUFFER_SIZE];
    char backupPath[PATH_BUFFER_SIZE];
    if (DeriveNames(controlPath.c_str(), imagePath, backupPath) != ShiftResult::Done) {
        return 0;
    }
    File image;
    if (!image.OpenForReading(imagePath)) {
        return 0;
    }
    int64_t size = image.Size();
    image.Close();
    return size > 0 ? size : 0;
}

FILE* imageOut = stdout;
FILE* imageErr = stderr;
bool progressShown = false;

// The run's state for its progress line: images and bytes done of all, since when.
struct RunState {
    size_t done = 0;
    size_t count = 0;
    int64_t bytesDone = 0;
    int64_t bytesTotal = 0;
    bool shown = false;
    std::chrono::steady_clock::time_point start;
} run;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What the image wrote to the capture, "kestran: " taken from each line: its reason.
std::string TakeCapture(FILE* capture) {
    std::string text;
    long length = ftell(capture);
    if (length > 0) {
        text.resize(static_cast<size_t>(length));
        rewind(capture);
        text.resize(fread(&text[0], 1, text.size(), capture));
    }
    rewind(capture);
    std::string reason;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        if (line.compare(0, 9, "kestran: ") == 0) {
            line.erase(0, 9);
        }
        reason += (reason.empty() ? "" : "\n") + line;
        start = end + 1;
    }
    return reason;
}

using Json = nlohmann::ordered_json;

// A text, or null when there is none.
Json TextOrNull(const std::string& text) {
    return text.empty() ? Json() : Json(text);
}

void PrintJson(const std::string& path, const ImageResult& result, const std::string& reason) {
    Json line;
    line["image"] = path;
    line["verdict"] = VerdictWord(result.verdict);
    line["entry"] = TextOrNull(result.entry);
    line["shift"] = result.hasShift ? Json(result.shift) : Json();
    line["reason"] = TextOrNull(reason);
    line["tracks"] = Json::array();
    for (const TrackResult& track : result.tracks) {
        Json t;
        t["number"] = track.number;
        t["kind"] = track.audio ? "audio" : "data";
        t["size"] = track.size;
        t["crc"] = track.crc;
        if (!track.md5.empty()) {
            t["md5"] = track.md5;
            t["sha1"] = track.sha1;
        }
        t["matches"] = track.matches < 0 ? Json() : Json(track.matches == 1);
        line["tracks"].push_back(t);
    }
    // Paths are bytes: any that are not UTF-8 come out as U+FFFD.
    fputs(line.dump(-1, ' ', false, Json::error_handler_t::replace).c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void PrintSummary(const std::vector<size_t>& counts, int64_t bytesRead, double seconds,
                  const std::vector<ListedFile>& files, size_t stoppedAt) {
    ClearProgressLine();
    size_t images = 0;
    for (size_t count : counts) {
        images += count;
    }
    fprintf(stderr, "%zu image%s:", images, images == 1 ? "" : "s");
    const char* separator = " ";
    for (size_t v = 0; v < kVerdictCount; ++v) {
        if (counts[v] > 0) {
            fprintf(stderr, "%s%zu %s", separator, counts[v], kVerdicts[v].word);
            separator = ", ";
        }
    }
    fprintf(stderr, "; %.1f MB read in %.1f s", static_cast<double>(bytesRead) / 1e6, seconds);
    if (stoppedAt < files.size()) {
        // The image the cancel stopped is counted as cancelled; one it came before is not.
        const bool started = files.size() - images < files.size() - stoppedAt;
        fprintf(stderr, "; cancelled %s %s, %zu not started", started ? "at" : "before",
                files[stoppedAt].path.c_str(), files.size() - images);
    }
    fputc('\n', stderr);
}

void DrawRunLine() {
    std::string text = RunProgressText();
    if (!text.empty()) {
        DrawProgressLine(text.c_str());
    }
}

}  // namespace

const char* VerdictWord(Verdict verdict) {
    return NameOf(verdict).word;
}

Verdict VerdictOfJob(ShiftResult result) {
    switch (result) {
        case ShiftResult::Done:
            return Verdict::Shifted;
        case ShiftResult::Cancelled:
        case ShiftResult::CancelledBeforeRename:
            return Verdict::Cancelled;
        case ShiftResult::ControlReadFailed:
        case ShiftResult::SessionLayoutMismatch:
        case ShiftResult::SessionLayoutInvalid:
        case ShiftResult::TrackPastImage:
        case ShiftResult::SheetInvalid:
        case ShiftResult::SheetUnplaceable:
            return Verdict::Damaged;
        case ShiftResult::RenameFailed:
        case ShiftResult::BackupNameLeft:
        case ShiftResult::SourceOpenFailed:
        case ShiftResult::TargetCreateFailed:
        case ShiftResult::ReadFailed:
        case ShiftResult::WriteFailed:
            return Verdict::Failed;
        default:
            return Verdict::Refused;
    }
}

std::vector<ListedFile> ListFiles(char** args, int count, bool recursive) {
    std::vector<ListedFile> files;
    for (int i = 0; i < count; ++i) {
        if (!recursive || !IsFolderPath(args[i])) {
            files.push_back({args[i], 0});
            continue;
        }
        std::vector<ListedFile> found;
        Walk(args[i], found);
        std::sort(found.begin(), found.end(),
                  [](const ListedFile& a, const ListedFile& b) { return a.path < b.path; });
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

FILE* ImageOut() {
    ClearProgressLine();
    return imageOut;
}

FILE* ImageErr() {
    ClearProgressLine();
    return imageErr;
}

void DrawProgressLine(const char* text) {
    fprintf(stderr, "\r%s\033[K", text);
    fflush(stderr);
    progressShown = true;
}

void ClearProgressLine() {
    if (progressShown) {
        fprintf(stderr, "\r\033[K");
        fflush(stderr);
        progressShown = false;
    }
}

std::string RunProgressText() {
    if (!run.shown) {
        return "";
    }
    char text[128];
    int length = snprintf(text, sizeof(text), "image %zu of %zu, %lld of %lld MB", run.done + 1,
                          run.count, static_cast<long long>(run.bytesDone / 1000000),
                          static_cast<long long>(run.bytesTotal / 1000000));
    if (run.bytesDone > 0 && run.bytesTotal > run.bytesDone && length > 0) {
        double elapsed = SecondsSince(run.start);
        long long left = static_cast<long long>(
            elapsed * static_cast<double>(run.bytesTotal - run.bytesDone) / run.bytesDone);
        snprintf(text + length, sizeof(text) - length, ", %lld:%02lld left", left / 60, left % 60);
    }
    return std::string(text) + "  ";
}

int RunCollection(const std::vector<ListedFile>& files, const RunOptions& options,
                  const std::function<void(const char* path, ImageResult& result)>& job,
                  const std::function<int()>& cancelStatus) {
    FILE* capture = options.json ? OpenCapture() : nullptr;
    FILE* discard = options.json ? OpenNullOutput() : nullptr;
    if (discard != nullptr) {
        imageOut = discard;
        imageErr = capture != nullptr ? capture : stderr;
    }
    std::vector<int64_t> sizes(files.size(), 0);
    run = RunState();
    run.count = files.size();
    run.shown = options.progress && options.collection && files.size() > 1;
    for (size_t i = 0; run.shown && i < files.size(); ++i) {
        sizes[i] = ImageBytes(files[i].path);
        run.bytesTotal += sizes[i];
    }
    run.start = std::chrono::steady_clock::now();
    std::vector<size_t> counts(kVerdictCount, 0);
    int64_t bytesRead = 0;
    size_t stoppedAt = files.size();
    int status = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (cancelStatus() != 0) {
            stoppedAt = i;
            break;
        }
        DrawRunLine();
        ImageResult result;
        const ListedFile& file = files[i];
        if (file.folderError != 0) {
            fprintf(ImageErr(), "kestran: %s: cannot read the folder (%s)\n", file.path.c_str(),
                    SystemErrorText(file.folderError));
        } else {
            job(file.path.c_str(), result);
        }
        fflush(imageOut);
        if (options.json) {
            ClearProgressLine();
            PrintJson(file.path, result,
                      imageErr == capture ? TakeCapture(capture) : std::string());
        }
        counts[static_cast<size_t>(result.verdict)]++;
        bytesRead += result.bytesRead;
        status = NameOf(result.verdict).good ? status : 1;
        run.done = i + 1;
        run.bytesDone += sizes[i];
        if (result.verdict == Verdict::Cancelled) {
            stoppedAt = i;
            break;
        }
    }
    ClearProgressLine();
    if (options.collection && files.size() > 1 && !options.quiet) {
        PrintSummary(counts, bytesRead, SecondsSince(run.start), files, stoppedAt);
    }
    imageOut = stdout;
    imageErr = stderr;
    if (capture != nullptr) {
        fclose(capture);
    }
    if (discard != nullptr) {
        fclose(discard);
    }
    run = RunState();
    return status;
}
