// The background window, in-process on the test display: each test makes the
// window with colours of its own, gives its client area a known size, lets it
// paint through the ordinary paint message and reads the pixels back from the
// window's device context.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/file_helpers.h"
#include "tests/windows/driver_process.h"
#include "ui/background_window.h"

namespace {

const COLORREF kNoText = (COLORREF)-1;

// One background window, destroyed with its class so that the next test can
// register the class again (the stub makes one window per process).
class Backdrop {
public:
    Backdrop(COLORREF top, COLORREF bottom, COLORREF text) : top_(top), bottom_(bottom), text_(text) {
        window_ = create_background_window(GetModuleHandleA(nullptr), top, bottom, text);
    }
    ~Backdrop() {
        if (window_) DestroyWindow(window_);
        UnregisterClassA("_Tb", GetModuleHandleA(nullptr));
    }
    Backdrop(const Backdrop&) = delete;
    Backdrop& operator=(const Backdrop&) = delete;

    HWND window() const { return window_; }
    COLORREF top() const { return top_; }
    COLORREF bottom() const { return bottom_; }
    COLORREF text() const { return text_; }

    // Gives the client area this size and shows the window, its frame's left
    // edge at `left` on the screen; returns whether the platform gave exactly
    // that size.
    bool show_with_client(int width, int height, int left = 0) {
        RECT outer, client;
        GetWindowRect(window_, &outer);
        GetClientRect(window_, &client);
        int frame_w = (outer.right - outer.left) - client.right;
        int frame_h = (outer.bottom - outer.top) - client.bottom;
        SetWindowPos(window_, nullptr, left, 0, width + frame_w, height + frame_h, SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(window_, SW_SHOWNOACTIVATE);
        GetClientRect(window_, &client);
        width_ = client.right;
        height_ = client.bottom;
        return width_ == width && height_ == height;
    }

    // Repaints the whole client area now and reads it back: one COLORREF
    // (red in the low byte) a pixel, row by row from the top.
    bool capture() {
        RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        pixels_.assign((size_t)width_ * height_, 0);
        HDC screen = GetDC(window_);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width_, height_);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BOOL copied = BitBlt(memory, 0, 0, width_, height_, screen, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_;  // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        int rows = GetDIBits(memory, bitmap, 0, (UINT)height_, pixels_.data(), &info, DIB_RGB_COLORS);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(window_, screen);
        // The DIB holds blue in the low byte; turn each pixel into a COLORREF.
        for (uint32_t& p : pixels_) p = ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
        return copied && rows == height_;
    }

    COLORREF at(int x, int y) const { return pixels_[(size_t)y * width_ + x]; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Writes the last capture as a 32-bit BMP file.
    bool save_bmp(const std::string& path) const {
        BITMAPFILEHEADER file{};
        BITMAPINFOHEADER head{};
        head.biSize = sizeof(head);
        head.biWidth = width_;
        head.biHeight = height_;  // bottom row first, as most readers expect
        head.biPlanes = 1;
        head.biBitCount = 32;
        head.biCompression = BI_RGB;
        std::vector<uint8_t> out(sizeof(file) + sizeof(head));
        for (int y = height_ - 1; y >= 0; --y)
            for (int x = 0; x < width_; ++x) {
                COLORREF c = at(x, y);
                out.insert(out.end(), {GetBValue(c), GetGValue(c), GetRValue(c), 0});
            }
        file.bfType = 0x4D42;
        file.bfSize = (DWORD)out.size();
        file.bfOffBits = sizeof(file) + sizeof(head);
        memcpy(out.data(), &file, sizeof(file));
        memcpy(out.data() + sizeof(file), &head, sizeof(head));
        return test_files::write_file(path, out.data(), out.size());
    }

private:
    COLORREF top_, bottom_, text_;
    HWND window_ = nullptr;
    int width_ = 0, height_ = 0;
    std::vector<uint32_t> pixels_;
};

std::string hex(COLORREF c) {
    char s[16];
    wsprintfA(s, "0x%06X", (unsigned)c);
    return s;
}

// Every pixel of row y has this colour.
::testing::AssertionResult row_is(const Backdrop& b, int y, COLORREF expected) {
    for (int x = 0; x < b.width(); ++x)
        if (b.at(x, y) != expected)
            return ::testing::AssertionFailure()
                   << "row " << y << " x " << x << ": " << hex(b.at(x, y)) << ", expected " << hex(expected);
    return ::testing::AssertionSuccess();
}

// ---- Creation -------------------------------------------------------------------

TEST(BackgroundWindow, CreatedHiddenOverTheWorkAreaWithItsClass) {
    Backdrop b(0x000000, 0x000080, kNoText);
    ASSERT_NE(b.window(), nullptr);
    EXPECT_FALSE(IsWindowVisible(b.window()));
    LONG style = GetWindowLongA(b.window(), GWL_STYLE);
    EXPECT_EQ(style & 0x00CF0000, 0x00CF0000) << std::hex << style;
    EXPECT_EQ(style & (WS_CHILD | WS_POPUP | WS_VISIBLE), 0) << std::hex << style;
    EXPECT_EQ(GetWindowTextLengthA(b.window()), 0);
    EXPECT_EQ(GetAncestor(b.window(), GA_PARENT), GetDesktopWindow());

    RECT work, placed;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    GetWindowRect(b.window(), &placed);
    EXPECT_EQ(placed.left, work.left);
    EXPECT_EQ(placed.top, work.top);
    EXPECT_EQ(placed.right, work.right);
    EXPECT_EQ(placed.bottom, work.bottom);

    char name[16] = {};
    GetClassNameA(b.window(), name, sizeof(name));
    EXPECT_STREQ(name, "_Tb");
    WNDCLASSA wc{};
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "_Tb", &wc));
    EXPECT_EQ(wc.style, (UINT)(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(wc.hbrBackground, nullptr);
    EXPECT_EQ(wc.cbClsExtra, 0);
    EXPECT_EQ(wc.cbWndExtra, 0);
    EXPECT_NE(wc.hIcon, nullptr) << "icon 103 of the module";
    EXPECT_NE(wc.hCursor, nullptr);
}

// The class is registered once; a second request gives no window and leaves
// the first window's colours alone.
TEST(BackgroundWindow, SecondWindowWhileTheClassIsRegistered) {
    Backdrop first(0x102030, 0x102030, kNoText);
    ASSERT_NE(first.window(), nullptr);
    EXPECT_EQ(create_background_window(GetModuleHandleA(nullptr), 0xFFFFFF, 0xFFFFFF, 0x0000FF), nullptr);
    ASSERT_TRUE(first.show_with_client(120, 32));
    ASSERT_TRUE(first.capture());
    for (int y = 0; y < 32; ++y) ASSERT_TRUE(row_is(first, y, 0x102030));
}

// ---- The gradient ---------------------------------------------------------------

struct Row {
    int y;
    COLORREF colour;
};

struct GradientCase {
    const char* name;
    COLORREF top, bottom;
    int height;
    std::vector<Row> rows;
};

// Expected colours worked out by hand: per channel
// (top * (height - band) + bottom * band) / height, truncated, where band is
// the first row of the 4-row band. Cases of the same colours follow each
// other and share one window (hiding or destroying a window under Wine
// without a window manager takes two seconds).
TEST(BackgroundWindow, GradientBandsPerChannel) {
    const GradientCase cases[] = {
        {"black to dark red, 400 high", 0x000000, 0x000080, 400,
         {{0, 0x000000}, {3, 0x000000}, {4, 0x000001}, {199, 0x00003E}, {200, 0x000040}, {203, 0x000040},
          {204, 0x000041}, {396, 0x00007E}, {399, 0x00007E}}},
        // The last band reaches past the bottom edge: rows 4 and 5 share it.
        {"short last band, 6 high", 0x000000, 0x000080, 6, {{0, 0x000000}, {4, 0x000055}, {5, 0x000055}}},
        // Channels apart, truncated rather than rounded (green 145.7 gives 0x91).
        {"three channels, 7 high", RGB(0xFF, 0x00, 0x10), RGB(0x00, 0xFF, 0x90), 7,
         {{0, RGB(0xFF, 0x00, 0x10)}, {3, RGB(0xFF, 0x00, 0x10)}, {4, RGB(0x6D, 0x91, 0x59)},
          {6, RGB(0x6D, 0x91, 0x59)}}},
        // Light to dark: channels that fall.
        {"white to black, 10 high", 0xFFFFFF, 0x000000, 10,
         {{0, 0xFFFFFF}, {4, 0x999999}, {7, 0x999999}, {8, 0x333333}, {9, 0x333333}}},
        // A client area of 4 rows or fewer is one band of the top colour.
        {"one band, 4 high", 0x123456, 0xFEDCBA, 4, {{0, 0x123456}, {1, 0x123456}, {3, 0x123456}}},
        {"one band, 1 high", 0x123456, 0xFEDCBA, 1, {{0, 0x123456}}},
    };
    std::unique_ptr<Backdrop> b;
    for (const GradientCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (!b || b->top() != c.top || b->bottom() != c.bottom) {
            b.reset();
            b.reset(new Backdrop(c.top, c.bottom, kNoText));
        }
        ASSERT_NE(b->window(), nullptr);
        ASSERT_TRUE(b->show_with_client(120, c.height)) << b->width() << "x" << b->height();
        ASSERT_TRUE(b->capture());
        for (const Row& r : c.rows) EXPECT_TRUE(row_is(*b, r.y, r.colour));
        // Every band is one colour from its first row to its last.
        for (int y = 0; y < c.height; ++y) EXPECT_TRUE(row_is(*b, y, b->at(0, y - y % 4)));
    }
}

// A minimised window and one whose frame leaves no client area: nothing to
// paint, and no division by the height of nothing.
TEST(BackgroundWindow, NoClientHeightPaintsNothing) {
    Backdrop b(0x000000, 0x000080, 0xFFFFFF);
    ASSERT_NE(b.window(), nullptr);
    SetWindowTextA(b.window(), "Quillmar");
    for (bool minimised : {false, true}) {
        SCOPED_TRACE(minimised ? "minimised" : "frame only");
        if (minimised) {
            ShowWindow(b.window(), SW_SHOWMINNOACTIVE);
        } else {
            b.show_with_client(200, 0);
        }
        RECT client;
        GetClientRect(b.window(), &client);
        ASSERT_EQ(client.bottom - client.top, 0);
        // Through the platform, and by a direct call that an exception could
        // not pass unseen.
        RedrawWindow(b.window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        InvalidateRect(b.window(), nullptr, FALSE);
        EXPECT_EQ(background_window_proc(b.window(), WM_PAINT, 0, 0), 0);
        EXPECT_TRUE(IsWindow(b.window()));
        // Given room again, it paints as before.
        ShowWindow(b.window(), SW_SHOWNOACTIVATE);
        ASSERT_TRUE(b.show_with_client(120, 400));
        ASSERT_TRUE(b.capture());
        EXPECT_TRUE(row_is(b, 200, 0x000040));
    }
}

// ---- The title ------------------------------------------------------------------

// Pixels of columns from..to that are not the uniform background, and where
// they lie.
struct Ink {
    int count = 0, in_text_colour = 0, white = 0;
    int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
};

Ink ink(const Backdrop& b, COLORREF background, COLORREF text, int from = 0, int to = INT32_MAX) {
    Ink k;
    to = std::min(to, b.width());
    for (int y = 0; y < b.height(); ++y)
        for (int x = from; x < to; ++x) {
            COLORREF c = b.at(x, y);
            if (c == background) continue;
            ++k.count;
            if (c == text) ++k.in_text_colour;
            if (c == 0xFFFFFF) ++k.white;
            k.left = std::min(k.left, x);
            k.top = std::min(k.top, y);
            k.right = std::max(k.right, x);
            k.bottom = std::max(k.bottom, y);
        }
    return k;
}

struct TitleCase {
    const char* name;
    COLORREF background, text;
    const char* title;
    bool drawn;
};

// On a background of one colour (top and bottom alike, so that every band is
// that colour) anything else is the title.
TEST(BackgroundWindow, TitleInTheTopLeftCorner) {
    const TitleCase cases[] = {
        {"no text colour", 0x804020, kNoText, "Quillmar Setup", false},
        {"white", 0x000000, 0xFFFFFF, "Quillmar Setup", true},
        {"one line", 0x000000, 0xFFFFFF, "First line\r\nSecond line\r\nThird", true},
        {"empty title", 0x000000, 0xFFFFFF, "", false},
        {"black is a colour", 0xC0C0C0, 0x000000, "Quillmar Setup", true},
        // Red on blue with a transparent background: never the white of an
        // opaque text background.
        {"transparent", 0xFF0000, 0x0000FF, "Quillmar Setup", true},
    };
    std::unique_ptr<Backdrop> b;
    for (const TitleCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (!b || b->top() != c.background || b->text() != c.text) {
            b.reset();
            b.reset(new Backdrop(c.background, c.background, c.text));
        }
        ASSERT_NE(b->window(), nullptr);
        ASSERT_TRUE(SetWindowTextA(b->window(), c.title));
        ASSERT_TRUE(b->show_with_client(640, 120));
        ASSERT_TRUE(b->capture());
        Ink k = ink(*b, c.background, c.text);
        if (!c.drawn) {
            EXPECT_EQ(k.count, 0) << "at " << k.left << "," << k.top;
            continue;
        }
        // Solid strokes of a 40-unit bold font, in the text colour.
        EXPECT_GT(k.in_text_colour, 200) << k.count;
        if (c.text != 0xFFFFFF) {
            EXPECT_EQ(k.white, 0);
        }
        // From 16 units in and 8 down, within one 40-unit line (an italic
        // letter may lean a little left of its start).
        EXPECT_GE(k.left, 12);
        EXPECT_LT(k.left, 30);
        EXPECT_GE(k.top, 8);
        EXPECT_LT(k.bottom, 8 + 40);
        EXPECT_GT(k.right, 200) << "a whole line of letters";
    }
}

// Lets the window grow wider than the screen.
WNDPROC unlimited_original;
LRESULT CALLBACK unlimited_proc(HWND window, UINT message, WPARAM first, LPARAM second) {
    LRESULT result = CallWindowProcA(unlimited_original, window, message, first, second);
    if (message == WM_GETMINMAXINFO) ((MINMAXINFO*)second)->ptMaxTrackSize.x = 32000;
    return result;
}

// Width of the first `count` characters of `text` in the title's font.
int title_extent(const std::string& text, int count) {
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontA(40, 0, 0, 0, FW_BOLD, TRUE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "Garamond");
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.c_str(), count, &extent);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return extent.cx;
}

// The title is read into a buffer of 256 bytes: the first 255 characters are
// drawn. Spaces draw nothing on a transparent background, so a title of 255
// spaces followed by letters draws nothing, while 254 spaces and the same
// letters show a letter at the 255th place. The window is made wide enough
// for the 260th character and placed so that the 250th to the 260th are on
// the screen (the platform keeps no pixels of a window off the screen).
TEST(BackgroundWindow, LongTitleIsCutAt255Characters) {
    struct Case {
        size_t spaces;
        bool letters_shown;
    };
    Backdrop b(0x000000, 0x000000, 0xFFFFFF);
    ASSERT_NE(b.window(), nullptr);
    unlimited_original = (WNDPROC)SetWindowLongPtrA(b.window(), GWLP_WNDPROC, (LONG_PTR)unlimited_proc);
    for (Case c : {Case{254, true}, Case{255, false}}) {
        SCOPED_TRACE(c.spaces);
        std::string title = std::string(c.spaces, ' ') + std::string(1000, 'W');
        int seen_from = 16 + title_extent(title, 250);
        int width = 16 + title_extent(title, 260) + 40;
        ASSERT_GT(seen_from, 16);
        ASSERT_LT(width - seen_from, 1000) << "the characters looked at must fit on the screen";
        ASSERT_TRUE(SetWindowTextA(b.window(), title.c_str()));
        ASSERT_EQ(GetWindowTextLengthA(b.window()), (int)title.size());
        ASSERT_TRUE(b.show_with_client(width, 60, -seen_from)) << b.width();
        ASSERT_TRUE(b.capture());
        Ink k = ink(b, 0x000000, 0xFFFFFF, seen_from);
        if (c.letters_shown) {
            EXPECT_GT(k.in_text_colour, 50);
        } else {
            EXPECT_EQ(k.count, 0) << "at " << k.left << "," << k.top;
        }
    }
}

// ---- A picture ------------------------------------------------------------------

TEST(BackgroundWindow, ScreenshotWithTitle) {
    Backdrop b(0x000000, 0x000080, 0xFFFFFF);
    ASSERT_NE(b.window(), nullptr);
    SetWindowTextA(b.window(), "Quillmar Example Setup");
    ASSERT_TRUE(b.show_with_client(640, 400));
    ASSERT_TRUE(b.capture());
    EXPECT_TRUE(row_is(b, 200, 0x000040));
    EXPECT_TRUE(row_is(b, 396, 0x00007E));
    EXPECT_GT(ink(b, 0x000000, 0xFFFFFF).in_text_colour, 200);
    std::string dir = win_test::env("QM_TEST_OUTPUT");
    if (dir.empty()) GTEST_SKIP() << "QM_TEST_OUTPUT names no folder for the picture";
    EXPECT_TRUE(b.save_bmp(dir + "\\background-window.bmp"));
}

}  // namespace
