// Names that are taken or cannot be used: a read-only folder, a backup name held by something
// else, an image name that is not a readable file. Each job runs in a child that drops root to
// an unprivileged user, so that permission bits stop it as they would stop a user.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "fault_support.h"
#include "shift_job.h"

namespace {

using fault::Bytes;
using fault::Disc;
using fault::Folder;
using fault::Outcome;

// What lies at a name: its kind, permission bits, link target or contents.
struct Entry {
    mode_t mode;
    std::string link;
    Bytes contents;
    bool operator==(const Entry& other) const {
        return mode == other.mode && link == other.link && contents == other.contents;
    }
};

std::map<std::string, Entry> Snapshot(const Folder& folder) {
    std::map<std::string, Entry> entries;
    for (const std::string& name : folder.Names()) {
        std::string path = folder / name;
        struct stat info;
        lstat(path.c_str(), &info);
        Entry entry{info.st_mode, "", {}};
        if (S_ISLNK(info.st_mode)) {
            char target[4096];
            ssize_t n = readlink(path.c_str(), target, sizeof(target));
            entry.link.assign(target, n > 0 ? static_cast<size_t>(n) : 0);
        } else if (S_ISREG(info.st_mode)) {
            entry.contents = fault::Contents(path);
        }
        entries[name] = entry;
    }
    return entries;
}

// Runs the job as an unprivileged user; `skipped` is set when the user cannot be had.
Outcome JobAsNobody(const Folder& folder, bool* skipped) {
    if (geteuid() == 0) {
        fault::GiveToNobody(folder.path());
    }
    std::string bytes;
    bool ended = fault::RunInChild(
        [&] {
            // The user must reach the folder, or it would test nothing but that.
            struct stat info;
            if (!fault::DropPrivileges() || stat(folder.path().c_str(), &info) != 0) {
                return std::string("skip");
            }
            fault::TestHost host("-30");
            JobReport report;
            RunShiftJob(host, (folder / "disc.ccd").c_str(), &report);
            return fault::Pack(fault::OutcomeOf(report));
        },
        &bytes);
    Outcome outcome{};
    *skipped = bytes == "skip";
    EXPECT_TRUE(ended && (*skipped || fault::Unpack(bytes, &outcome)));
    return outcome;
}

struct RefusalCase {
    const char* what;
    std::function<void(const Folder&)> arrange;
    ShiftResult expected;
};

void MakeFile(const std::string& path, const char* text, mode_t mode) {
    fault::WriteText(path, text);
    chmod(path.c_str(), mode);
}

TEST(TakenNames, TheJobIsRefusedAndNothingChanges) {
    const RefusalCase cases[] = {
        {"the folder is read-only", [](const Folder& f) { chmod(f.path().c_str(), 0555); },
         ShiftResult::RenameFailed},
        {"the backup name is a file",
         [](const Folder& f) { MakeFile(f / "disc.old", "an older backup", 0644); },
         ShiftResult::BackupExists},
        {"the backup name is a folder",
         [](const Folder& f) { mkdir((f / "disc.old").c_str(), 0755); }, ShiftResult::RenameFailed},
        {"the backup name is a dangling link",
         [](const Folder& f) { symlink("gone.bin", (f / "disc.old").c_str()); },
         ShiftResult::RenameFailed},
        {"the backup name is an unreadable file",
         [](const Folder& f) { MakeFile(f / "disc.old", "private", 0); },
         ShiftResult::RenameFailed},
        {"the image name is a folder",
         [](const Folder& f) {
             unlink((f / "disc.img").c_str());
             mkdir((f / "disc.img").c_str(), 0755);
         },
         ShiftResult::ImageMissing},
        {"the image is unreadable", [](const Folder& f) { chmod((f / "disc.img").c_str(), 0); },
         ShiftResult::ImageMissing},
        {"the image is a dangling link",
         [](const Folder& f) {
             unlink((f / "disc.img").c_str());
             symlink("disc.old", (f / "disc.img").c_str());
         },
         ShiftResult::ImageMissing},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.what);
        Folder folder;
        Disc disc = fault::MakeDisc({{false, 20}, {true, 40}}, 31);
        fault::WriteDisc(disc, folder / "disc.ccd", folder / "disc.img");
        c.arrange(folder);
        const auto before = Snapshot(folder);

        bool skipped = false;
        Outcome outcome = JobAsNobody(folder, &skipped);
        if (skipped) {
            GTEST_SKIP() << "cannot run as an unprivileged user";
        }
        EXPECT_EQ(outcome.result, c.expected);
        EXPECT_TRUE(Snapshot(folder) == before) << "the folder changed";
    }
}

struct DoneCase {
    const char* what;
    std::function<void(const Folder&)> arrange;
    bool shifted;  // false: the control file cannot be read, so every sector counts as data
};

TEST(UnusualButUsable, TheOriginalEndsAsTheBackup) {
    const DoneCase cases[] = {
        {"the image is read-only", [](const Folder& f) { chmod((f / "disc.img").c_str(), 0444); },
         true},
        {"the image is a link to a file in another folder",
         [](const Folder& f) {
             mkdir((f / "store").c_str(), 0755);
             rename((f / "disc.img").c_str(), (f / "store/original.img").c_str());
             symlink("store/original.img", (f / "disc.img").c_str());
         },
         true},
        {"the control file is unreadable",
         [](const Folder& f) { chmod((f / "disc.ccd").c_str(), 0); }, false},
    };
    for (const DoneCase& c : cases) {
        SCOPED_TRACE(c.what);
        Folder folder;
        Disc disc = fault::MakeDisc({{true, 30}, {false, 10}, {true, 25}}, 32, 99);
        fault::WriteDisc(disc, folder / "disc.ccd", folder / "disc.img");
        c.arrange(folder);

        bool skipped = false;
        Outcome outcome = JobAsNobody(folder, &skipped);
        if (skipped) {
            GTEST_SKIP() << "cannot run as an unprivileged user";
        }
        EXPECT_EQ(outcome.result, ShiftResult::Done);
        EXPECT_TRUE(fault::Contents(folder / "disc.old") == disc.image);
        const Bytes whole(disc.image.begin(), disc.image.end() - 99);
        EXPECT_TRUE(fault::Contents(folder / "disc.img") ==
                    (c.shifted ? fault::Expected(disc, -30) : whole));
        std::vector<std::string> names = {"disc.ccd", "disc.img", "disc.old"};
        if (fault::Exists(folder / "store")) {
            EXPECT_TRUE(fault::Contents(folder / "store/original.img") == disc.image);
            names.push_back("store");
        }
        EXPECT_EQ(folder.Names(), names);
    }
}

}  // namespace
