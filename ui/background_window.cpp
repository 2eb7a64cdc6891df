#include "ui/background_window.h"

// Top, bottom and text colour of the window, read by every paint.
static COLORREF background_colours[3];

LRESULT CALLBACK background_window_proc(HWND window, UINT message, WPARAM first, LPARAM second) {
    if (message != WM_PAINT) return DefWindowProcA(window, message, first, second);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area;
    GetClientRect(window, &area);
    // Bands 4 units high; each channel runs from the top colour at y = 0
    // towards the bottom colour at y = height, in integers. A client area of
    // no height (a minimised window) gets no band at all, and so no division.
    // The last band may reach past the bottom edge.
    UINT height = (UINT)area.bottom;
    for (UINT y = 0; y < height; y += 4) {
        COLORREF colour = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            UINT top = (background_colours[0] >> shift) & 0xFF;
            UINT bottom = (background_colours[1] >> shift) & 0xFF;
            colour |= ((top * (height - y) + bottom * y) / height) << shift;
        }
        RECT band = {area.left, (LONG)y, area.right, (LONG)y + 4};
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &band, brush);
        DeleteObject(brush);
    }
    COLORREF text = background_colours[2];
    if (text != (COLORREF)-1) {
        HFONT font = CreateFontA(40, 0, 0, 0, FW_BOLD, TRUE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "Garamond");
        if (font) {
            area.left += 16;
            area.top += 8;
            char title[256];
            GetWindowTextA(window, title, sizeof(title));
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, text);
            HGDIOBJ previous = SelectObject(dc, font);
            DrawTextA(dc, title, -1, &area, DT_SINGLELINE);
            SelectObject(dc, previous);
            DeleteObject(font);
        }
    }
    EndPaint(window, &paint);
    return 0;
}

HWND create_background_window(HINSTANCE instance, COLORREF top, COLORREF bottom, COLORREF text) {
    WNDCLASSA window_class = {};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = background_window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(103));
    window_class.hCursor = LoadCursorA(0, (LPCSTR)IDC_ARROW);
    window_class.lpszClassName = "_Tb";
    if (!RegisterClassA(&window_class)) return 0;
    background_colours[0] = top;
    background_colours[1] = bottom;
    background_colours[2] = text;
    // Zero should the system not answer: never a size made of stack bytes.
    static RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    return CreateWindowExA(0, "_Tb", "", WS_OVERLAPPEDWINDOW, work.left, work.top, work.right - work.left,
                           work.bottom - work.top, GetDesktopWindow(), 0, instance, 0);
}
