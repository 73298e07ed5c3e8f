#include <windows.h>

#include "file.h"
#include "names_win.h"
#include "text.h"

static HANDLE Native(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

static intptr_t Stored(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle);
}

// Opens with read sharing only, as every handle of a job is opened; -1 with `*error` on failure.
static intptr_t OpenShared(const char* path, DWORD access, DWORD disposition, int* error) {
    wchar_t wide[PATH_BUFFER_SIZE];
    if (!WideName(path, wide, PATH_BUFFER_SIZE, error)) {
        return -1;
    }
    HANDLE h =
        CreateFileW(wide, access, FILE_SHARE_READ, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        *error = static_cast<int>(GetLastError());
    }
    return Stored(h);
}

bool File::OpenForReading(const char* path) {
    Close();
    handle_ = OpenShared(path, GENERIC_READ, OPEN_EXISTING, &lastError_);
    return handle_ != -1;
}

bool File::CreateForWriting(const char* path) {
    Close();
    handle_ = OpenShared(path, GENERIC_WRITE, CREATE_ALWAYS, &lastError_);
    return handle_ != -1;
}

bool File::IsOpen() const {
    return handle_ != -1;
}

bool File::Close() {
    if (handle_ == -1) {
        return true;
    }
    BOOL closed = CloseHandle(Native(handle_));
    handle_ = -1;
    if (!closed) {
        lastError_ = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}

int32_t File::Read(void* buffer, int32_t size) {
    if (handle_ == -1) {
        return 0;
    }
    int32_t done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!ReadFile(Native(handle_), static_cast<char*>(buffer) + done,
                      static_cast<DWORD>(size - done), &n, NULL)) {
            lastError_ = static_cast<int>(GetLastError());
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<int32_t>(n);
    }
    return done;
}

int32_t File::ReadAt(void* buffer, int64_t offset, int32_t size) {
    if (handle_ == -1) {
        return 0;
    }
    LARGE_INTEGER position;
    position.QuadPart = offset;
    if (!SetFilePointerEx(Native(handle_), position, NULL, FILE_BEGIN)) {
        lastError_ = static_cast<int>(GetLastError());
        return -1;
    }
    return Read(buffer, size);
}

bool File::Write(const void* data, int32_t size) {
    if (handle_ == -1) {
        lastError_ = ERROR_INVALID_HANDLE;
        return false;
    }
    DWORD written = 0;
    if (!WriteFile(Native(handle_), data, static_cast<DWORD>(size), &written, NULL)) {
        lastError_ = static_cast<int>(GetLastError());
        return false;
    }
    if (written != static_cast<DWORD>(size)) {
        lastError_ = ERROR_DISK_FULL;
        return false;
    }
    return true;
}

bool File::SeekRelative(int32_t distance) {
    if (handle_ == -1) {
        return false;
    }
    LONG high = distance < 0 ? -1 : 0;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(Native(handle_), distance, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        lastError_ = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}

int64_t File::Size() {
    LARGE_INTEGER size;
    if (handle_ == -1 || !GetFileSizeEx(Native(handle_), &size)) {
        lastError_ = static_cast<int>(GetLastError());
        return -1;
    }
    return size.QuadPart;
}

int64_t File::CopyRange(File& target, int64_t sourceOffset, int64_t size, uint8_t* scratch,
                        int32_t scratchSize) {
    return CopyThroughBuffer(*this, target, sourceOffset, size, scratch, scratchSize);
}

bool File::TakeAccessOf(File&) {
    return true;
}

int64_t File::CopyAtSameOffset(File& target, int64_t offset, int64_t size, uint8_t* scratch,
                               int32_t scratchSize) {
    return CopyRange(target, offset, size, scratch, scratchSize);
}

bool File::MayShareBlocks() const {
    return false;
}

bool File::Preallocate(int64_t, int64_t) {
    return false;
}

bool File::ReleasePreallocation() {
    return true;
}

// Both names as wide characters; 0, or the system's code for why one does not convert.
static int WideNames(const char* first, wchar_t* wideFirst, const char* second,
                     wchar_t* wideSecond) {
    int error = 0;
    if (!WideName(first, wideFirst, PATH_BUFFER_SIZE, &error) ||
        !WideName(second, wideSecond, PATH_BUFFER_SIZE, &error)) {
        return error;
    }
    return 0;
}

int RenameNoReplace(const char* from, const char* to, int* leftError) {
    if (leftError != nullptr) {
        *leftError = 0;
    }
    wchar_t wideFrom[PATH_BUFFER_SIZE];
    wchar_t wideTo[PATH_BUFFER_SIZE];
    int error = WideNames(from, wideFrom, to, wideTo);
    if (error != 0) {
        return error;
    }
    return MoveFileW(wideFrom, wideTo) ? 0 : static_cast<int>(GetLastError());
}

bool File::IsSameFileAs(File& other) {
    BY_HANDLE_FILE_INFORMATION mine;
    BY_HANDLE_FILE_INFORMATION theirs;
    return handle_ != -1 && other.handle_ != -1 &&
           GetFileInformationByHandle(Native(handle_), &mine) &&
           GetFileInformationByHandle(Native(other.handle_), &theirs) &&
           mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
           mine.nFileIndexHigh == theirs.nFileIndexHigh &&
           mine.nFileIndexLow == theirs.nFileIndexLow;
}

bool IsSymbolicLink(const char* path) {
    DWORD attributes = NameAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsMissingFileError(int code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// A folder does not open as a file here: it reads as access denied, like a locked file.
bool IsFolderError(int) {
    return false;
}

// CreateFile opens what it can, and a device or pipe then fails to read as a file would.
bool IsNotFileError(int) {
    return false;
}

int RestoreBackup(const char* backupPath, const char* imagePath) {
    wchar_t wideBackup[PATH_BUFFER_SIZE];
    wchar_t wideImage[PATH_BUFFER_SIZE];
    int error = WideNames(backupPath, wideBackup, imagePath, wideImage);
    if (error != 0) {
        return error;
    }
    return MoveFileExW(wideBackup, wideImage, MOVEFILE_REPLACE_EXISTING)
               ? 0
               : static_cast<int>(GetLastError());
}

const char* SystemErrorText(int code) {
    // Hosts print this beside their own words; the code is enough to look the rest up.
    static char text[32];
    wsprintfA(text, "system error %d", code);
    return text;
}
