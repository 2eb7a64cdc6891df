// A details list of the tests' own, standing in for the install-files page's,
// so that the lines the instructions output can be read back.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "engine/status.h"

namespace win_test {

class DetailCapture {
public:
    DetailCapture() {
        InitCommonControls();
        list_ = CreateWindowA(WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT | LVS_NOCOLUMNHEADER, 0, 0, 300, 120, nullptr,
                              nullptr, nullptr, nullptr);
        LVCOLUMNA column{};
        column.mask = LVCF_WIDTH;
        column.cx = 10;
        SendMessageA(list_, LVM_INSERTCOLUMNA, 0, (LPARAM)&column);
        detail_list = list_;
    }
    ~DetailCapture() {
        detail_list = nullptr;
        DestroyWindow(list_);
    }
    DetailCapture(const DetailCapture&) = delete;
    DetailCapture& operator=(const DetailCapture&) = delete;

    bool ready() const { return list_ != nullptr; }

    // The lines output since the last call, in order; the list is emptied.
    std::vector<std::string> take() {
        std::vector<std::string> lines;
        const int n = (int)SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0);
        for (int i = 0; i < n; ++i) {
            char text[2048] = "";
            LVITEMA item{};
            item.iSubItem = 0;
            item.pszText = text;
            item.cchTextMax = sizeof(text);
            SendMessageA(list_, LVM_GETITEMTEXTA, i, (LPARAM)&item);
            lines.push_back(text);
        }
        SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
        return lines;
    }

private:
    HWND list_ = nullptr;
};

}  // namespace win_test
