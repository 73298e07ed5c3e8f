#include <windows.h>

#include "file.h"

static HANDLE Native(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

static intptr_t Stored(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle);
}

bool File::OpenForReading(const char* path) {
    Close();
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        lastError_ = static_cast<int>(GetLastError());
        return false;
    }
    handle_ = Stored(h);
    return true;
}

bool File::CreateForWriting(const char* path) {
    Close();
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        lastError_ = static_cast<int>(GetLastError());
        return false;
    }
    handle_ = Stored(h);
    return true;
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
    int64_t done = 0;
    while (done < size) {
        int32_t chunk = size - done < scratchSize ? static_cast<int32_t>(size - done) : scratchSize;
        int32_t n = ReadAt(scratch, sourceOffset + done, chunk);
        if (n < 0) {
            return COPY_READ_FAILED;
        }
        if (n == 0) {
            break;
        }
        if (!target.Write(scratch, n)) {
            return COPY_WRITE_FAILED;
        }
        done += n;
    }
    return done;
}

bool File::Preallocate(int64_t) {
    return false;
}

bool File::ReleasePreallocation() {
    return true;
}

bool FileExists(const char* path) {
    File file;
    return file.OpenForReading(path);
}

int RenameNoReplace(const char* from, const char* to) {
    return MoveFileA(from, to) ? 0 : static_cast<int>(GetLastError());
}

int RestoreBackup(const char* backupPath, const char* imagePath) {
    return MoveFileExA(backupPath, imagePath, MOVEFILE_REPLACE_EXISTING)
               ? 0
               : static_cast<int>(GetLastError());
}

int RemoveFile(const char* path) {
    return DeleteFileA(path) ? 0 : static_cast<int>(GetLastError());
}

const char* SystemErrorText(int code) {
    // Hosts print this beside their own words; the code is enough to look the rest up.
    static char text[32];
    wsprintfA(text, "system error %d", code);
    return text;
}
