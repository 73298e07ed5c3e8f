// Drives the real dialog in this process: the template from the resources, drops built as real
// HDROP handles, titles and field reads seen through subclassed windows, images judged against
// the model.
#include "main_dialog.h"

#include <shellapi.h>
#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

#include "disc_fixture.h"
#include "gtest/gtest.h"
#include "resource.h"

namespace {

using fixture::Disc;

// A progress point every 1024 sectors: this disc passes two of them.
constexpr int32_t kLongDisc = 2 * 1024 + 500;

std::vector<std::string> Titles;
// Texts put into the offset field each time a job ends and the caption comes back.
std::vector<std::string> OffsetsAfterJobs;
size_t NextOffset = 0;
WNDPROC DialogClassProc = nullptr;

LRESULT CALLBACK RecordTitles(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_SETTEXT) {
        return CallWindowProcA(DialogClassProc, window, message, wParam, lParam);
    }
    std::string text = reinterpret_cast<const char*>(lParam);
    Titles.push_back(text);
    LRESULT result = CallWindowProcA(DialogClassProc, window, message, wParam, lParam);
    if (text == "KESTRAN" && NextOffset < OffsetsAfterJobs.size()) {
        SetDlgItemTextA(window, IDC_OFFSET, OffsetsAfterJobs[NextOffset++].c_str());
    }
    return result;
}

HDROP MakeDrop(const std::vector<std::string>& names) {
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& name : names) {
        size += name.size() + 1;
    }
    HGLOBAL memory = GlobalAlloc(GHND, size);
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    char* p = reinterpret_cast<char*>(header) + sizeof(DROPFILES);
    for (const std::string& name : names) {
        memcpy(p, name.c_str(), name.size() + 1);
        p += name.size() + 1;
    }
    *p = '\0';
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// Runs the message loop until the quit message; false when none comes within ten seconds.
bool RunUntilQuit(int* exitCode) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                *exitCode = static_cast<int>(message.wParam);
                return true;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (GetTickCount() - start > 10000) {
            return false;
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 100, QS_ALLINPUT);
    }
}

class MainDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        AppInstance = GetModuleHandleA(NULL);
        BusyFlag = 0;
        Titles.clear();
        OffsetsAfterJobs.clear();
        NextOffset = 0;
        window_ = CreateDialogParamA(AppInstance, "MAIN", NULL, MainDialogProc, 0);
        ASSERT_NE(window_, nullptr);
        ShowWindow(window_, SW_SHOW);
        UpdateWindow(window_);
        DialogClassProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordTitles)));
        folder_ = fixture::MakeScratchFolder("drops");
    }

    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
            int code = 0;
            EXPECT_TRUE(RunUntilQuit(&code));
        }
    }

    Disc MakeDisc(const std::string& name, int32_t sectors, uint32_t seed) {
        return fixture::MakeDisc(folder_, name, sectors, sectors / 4, sectors - sectors / 8, seed,
                                 100);
    }

    void SendDrop(const std::vector<std::string>& names) {
        SendMessageA(window_, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(names)), 0);
    }

    void PostDrop(const std::vector<std::string>& names) {
        PostMessageA(window_, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(names)), 0);
    }

    std::string OffsetText() {
        char text[64];
        GetDlgItemTextA(window_, IDC_OFFSET, text, sizeof(text));
        return text;
    }

    std::string Title() {
        char text[64];
        GetWindowTextA(window_, text, sizeof(text));
        return text;
    }

    HWND window_ = nullptr;
    std::string folder_;
};

TEST_F(MainDialog, StartsWithTheDefaultOffsetTheCaptionAndTheIcon) {
    EXPECT_EQ(OffsetText(), "-30");
    EXPECT_EQ(Title(), "KESTRAN");
    EXPECT_STREQ(SavedTitle, "KESTRAN");
    EXPECT_NE(SendMessageA(window_, WM_GETICON, ICON_BIG, 0), 0);
    char text[256];
    GetDlgItemTextA(window_, IDC_ABOUT, text, sizeof(text));
    EXPECT_STREQ(text, " KESTRAN \n Version 20/11/03 ");
}

TEST_F(MainDialog, ControlsSitWhereTheTemplatePutsThem) {
    struct Place {
        int id;
        RECT units;  // x, y, width, height in dialog units, as in the template
        const char* className;
    };
    const Place places[] = {
        {IDC_APPICON, {8, 8, 24, 24}, "Static"},
        {IDC_ABOUT, {32, 8, 120, 28}, "Static"},
        {IDC_USAGE, {8, 40, 144, 48}, "Static"},
        {IDC_OFFSET, {80, 84, 72, 12}, "Edit"},
    };
    for (const Place& place : places) {
        HWND control = GetDlgItem(window_, place.id);
        ASSERT_NE(control, nullptr) << place.id;
        char className[32];
        GetClassNameA(control, className, sizeof(className));
        EXPECT_STREQ(className, place.className) << place.id;
        // The dialog manager maps a control's position and its size each on their own, so its
        // far edge is the mapped origin plus the mapped size, which may round differently.
        RECT mapped = place.units;
        MapDialogRect(window_, &mapped);
        const RECT expected = {mapped.left, mapped.top, mapped.left + mapped.right,
                               mapped.top + mapped.bottom};
        RECT actual;
        GetWindowRect(control, &actual);
        MapWindowPoints(NULL, window_, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left) << place.id;
        EXPECT_EQ(actual.top, expected.top) << place.id;
        if (place.id != IDC_APPICON) {  // an icon control takes the size of its icon
            EXPECT_EQ(actual.right, expected.right) << place.id;
            EXPECT_EQ(actual.bottom, expected.bottom) << place.id;
        }
    }
    LONG style = GetWindowLongA(GetDlgItem(window_, IDC_OFFSET), GWL_STYLE);
    EXPECT_EQ(style & (ES_AUTOHSCROLL | ES_NUMBER), 0);
}

TEST_F(MainDialog, ThreeDroppedFilesRunInOrderEachWithTheFieldAtItsStart) {
    Disc a = MakeDisc("a", 300, 1);
    Disc b = MakeDisc("b", 300, 2);
    Disc c = MakeDisc("c", 300, 3);
    OffsetsAfterJobs = {"12", "  -7 samples"};
    SendDrop({a.controlPath, b.controlPath, c.controlPath});
    fixture::ExpectShifted(a, -30);
    fixture::ExpectShifted(b, 12);
    fixture::ExpectShifted(c, -7);
    EXPECT_EQ(Titles, (std::vector<std::string>{"KESTRAN", "KESTRAN", "KESTRAN"}));
}

TEST_F(MainDialog, MultiSessionDiscsShiftOnlyTheirAudioAndMisfitsAreRefusedSilently) {
    Disc extra =
        fixture::MakeSessionDisc(folder_, "cd extra", testing_support::CdExtra(), false, 50);
    Disc stored =
        fixture::MakeSessionDisc(folder_, "stored", testing_support::AudioSession(600), true, 51);
    Disc misfit =
        fixture::MakeSessionDisc(folder_, "misfit", testing_support::CdExtra(), false, 52, -2352);
    OffsetsAfterJobs = {"2348", "-2348"};
    SendDrop({extra.controlPath, stored.controlPath, misfit.controlPath});
    fixture::ExpectShifted(extra, -30);
    fixture::ExpectShifted(stored, 2348);
    fixture::ExpectUntouched(misfit);
    EXPECT_EQ(Titles, (std::vector<std::string>{"1024", "KESTRAN", "1024", "KESTRAN", "KESTRAN"}));
}

TEST_F(MainDialog, ALongJobCountsSectorsInTheTitleThenShowsTheCaption) {
    Disc disc = MakeDisc("long", kLongDisc, 4);
    SendDrop({disc.controlPath});
    fixture::ExpectShifted(disc, -30);
    EXPECT_EQ(Titles, (std::vector<std::string>{"1024", "2048", "KESTRAN"}));
    EXPECT_EQ(Title(), "KESTRAN");
}

TEST_F(MainDialog, CloseDuringAJobCancelsItAndASecondCloseWhenIdleEndsTheLoop) {
    Disc first = MakeDisc("first", kLongDisc, 5);
    Disc second = MakeDisc("second", 300, 6);
    PostMessageA(window_, WM_CLOSE, 0, 0);
    SendDrop({first.controlPath, second.controlPath});
    // The cancel stops only the running file.
    fixture::ExpectShifted(first, -30, 1024);
    fixture::ExpectShifted(second, -30);
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_EQ(Titles, (std::vector<std::string>{"1024", "KESTRAN", "KESTRAN"}));

    PostMessageA(window_, WM_CLOSE, 0, 0);
    int code = -1;
    ASSERT_TRUE(RunUntilQuit(&code));
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(MainDialog, ADropDuringAJobWaitsForItAndForEarlierFiles) {
    Disc running = MakeDisc("running", kLongDisc - 1024, 7);
    Disc next = MakeDisc("next", 300, 8);
    Disc late = MakeDisc("late", 300, 9);
    OffsetsAfterJobs = {"40", "-55"};
    PostDrop({late.controlPath});
    SendDrop({running.controlPath, next.controlPath});
    fixture::ExpectShifted(running, -30);
    fixture::ExpectShifted(next, 40);
    fixture::ExpectShifted(late, -55);
    EXPECT_EQ(Titles, (std::vector<std::string>{"1024", "KESTRAN", "KESTRAN", "KESTRAN"}));
}

TEST_F(MainDialog, DropsBeyondTheWaitingRoomAreRefused) {
    Disc running = MakeDisc("running", kLongDisc - 1024, 10);
    std::vector<Disc> waiting;
    for (int32_t i = 0; i <= PENDING_DROP_LIMIT; ++i) {
        waiting.push_back(MakeDisc("waiting" + std::to_string(i), 50, 11 + i));
        PostDrop({waiting.back().controlPath});
    }
    SendDrop({running.controlPath});
    fixture::ExpectShifted(running, -30);
    for (int32_t i = 0; i < PENDING_DROP_LIMIT; ++i) {
        fixture::ExpectShifted(waiting[i], -30);
    }
    fixture::ExpectUntouched(waiting.back());
}

TEST_F(MainDialog, AWindowDestroyedDuringAJobStopsItAndTheDropLoop) {
    Disc first = MakeDisc("first", kLongDisc, 30);
    Disc second = MakeDisc("second", 300, 31);
    Disc waiting = MakeDisc("waiting", 300, 32);
    PostDrop({waiting.controlPath});
    PostMessageA(window_, WM_CLOSE, 0, 0);
    PostMessageA(window_, WM_CLOSE, 0, 0);
    SendDrop({first.controlPath, second.controlPath});
    fixture::ExpectShifted(first, -30, 1024);
    fixture::ExpectUntouched(second);
    fixture::ExpectUntouched(waiting);
    EXPECT_FALSE(IsWindow(window_));
    // The quit message the destruction posted is still there for the main loop.
    int code = -1;
    ASSERT_TRUE(RunUntilQuit(&code));
    EXPECT_EQ(code, 0);
}

TEST_F(MainDialog, ANameWithoutTheControlExtensionChangesNothing) {
    Disc disc = MakeDisc("game", 300, 40);
    std::string stem = folder_ + "\\game";
    SendDrop({stem + ".cue", stem + ".img", stem + ".ccd.bak", stem});
    fixture::ExpectUntouched(disc);
    EXPECT_EQ(Titles, (std::vector<std::string>{"KESTRAN", "KESTRAN", "KESTRAN", "KESTRAN"}));
    EXPECT_EQ(Title(), "KESTRAN");
}

// The raw template and icon resources, word for word.
class Reader {
  public:
    explicit Reader(const void* data) : p_(static_cast<const uint8_t*>(data)) {}
    uint16_t Word() {
        uint16_t value;
        memcpy(&value, p_, 2);
        p_ += 2;
        return value;
    }
    uint32_t Dword() {
        uint32_t value;
        memcpy(&value, p_, 4);
        p_ += 4;
        return value;
    }
    int16_t Short() { return static_cast<int16_t>(Word()); }
    // A string, or "#N" for an ordinal.
    std::string Text() {
        std::string text;
        uint16_t c = Word();
        if (c == 0xFFFF) {
            return "#" + std::to_string(Word());
        }
        for (; c != 0; c = Word()) {
            text += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return text;
    }
    void AlignDword(const void* base) {
        while ((p_ - static_cast<const uint8_t*>(base)) % 4 != 0) {
            ++p_;
        }
    }

  private:
    const uint8_t* p_;
};

const void* LoadRawResource(const char* name, LPCSTR type) {
    HRSRC found = FindResourceA(GetModuleHandleA(NULL), name, type);
    return found != NULL ? LockResource(LoadResource(GetModuleHandleA(NULL), found)) : nullptr;
}

TEST(Resources, TheDialogTemplateIsAsDesigned) {
    const void* base = LoadRawResource("MAIN", MAKEINTRESOURCEA(5));  // RT_DIALOG
    ASSERT_NE(base, nullptr);
    Reader r(base);
    EXPECT_EQ(r.Dword(), 0x00CA08C0u);
    EXPECT_EQ(r.Dword(), 0u);
    ASSERT_EQ(r.Word(), 4);
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), 160);
    EXPECT_EQ(r.Short(), 104);
    EXPECT_EQ(r.Text(), "");  // no menu
    EXPECT_EQ(r.Text(), "");  // the standard dialog class
    EXPECT_EQ(r.Text(), "KESTRAN");
    EXPECT_EQ(r.Word(), 8);
    EXPECT_EQ(r.Text(), "MS Sans Serif");

    struct Item {
        uint32_t style;
        int16_t x, y, cx, cy;
        uint16_t id;
        const char* className;  // the name in capitals, or the atom of the system class
        const char* text;
    };
    const Item items[] = {
        {0x50000003, 8, 8, 24, 24, IDC_APPICON, "STATIC #130", "ICON"},
        {0x50020000, 32, 8, 120, 28, IDC_ABOUT, "STATIC #130", " KESTRAN \n Version 20/11/03 "},
        {0x50020000, 8, 40, 144, 48, IDC_USAGE, "STATIC #130",
         "Usage: to move the CDDA area of the img file\n\nEnter the moving offset and drop the "
         "ccd file into this application."},
        {0x50810000, 80, 84, 72, 12, IDC_OFFSET, "EDIT #129", ""},
    };
    for (const Item& item : items) {
        r.AlignDword(base);
        EXPECT_EQ(r.Dword(), item.style) << item.id;
        EXPECT_EQ(r.Dword(), 0u) << item.id;
        EXPECT_EQ(r.Short(), item.x) << item.id;
        EXPECT_EQ(r.Short(), item.y) << item.id;
        EXPECT_EQ(r.Short(), item.cx) << item.id;
        EXPECT_EQ(r.Short(), item.cy) << item.id;
        EXPECT_EQ(r.Word(), item.id);
        std::string className = r.Text();
        for (char& c : className) {
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        }
        std::string accepted = item.className;
        EXPECT_TRUE(accepted.substr(0, accepted.find(' ')) == className ||
                    accepted.substr(accepted.find(' ') + 1) == className)
            << item.id << ": " << className;
        EXPECT_EQ(r.Text(), item.text) << item.id;
        EXPECT_EQ(r.Word(), 0) << item.id;  // no creation data
    }
}

TEST(Resources, TheIconHolds48And32PixelImagesWithAlpha) {
    const void* base = LoadRawResource("ICON", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(base, nullptr);
    Reader r(base);
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.Word(), 1);
    ASSERT_EQ(r.Word(), 2);
    const int sizes[] = {48, 32};
    for (int size : sizes) {
        uint16_t widthAndHeight = r.Word();
        EXPECT_EQ(widthAndHeight & 0xFF, size);
        EXPECT_EQ(widthAndHeight >> 8, size);
        r.Word();                 // colour count, reserved
        EXPECT_EQ(r.Word(), 1);   // planes
        EXPECT_EQ(r.Word(), 32);  // bits per pixel
        uint32_t bytes = r.Dword();
        // 40-byte header, the BGRA pixels, the 1-bit mask in rows of whole dwords
        EXPECT_EQ(bytes, 40u + size * size * 4 + size * ((size + 31) / 32 * 4)) << size;
        r.Word();  // id of the image
    }
}

}  // namespace
