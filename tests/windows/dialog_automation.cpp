// UI automation of the plug-in's dialogs for the Windows tests.
#include "dialog_automation.h"

#include "tools/standin_host/owned_dialog_win32.h"
#include "ui/centre_dialog.h"

#include <thread>
#include <vector>

namespace mendora::automation {

namespace {

constexpr DWORD kPollInterval = 10;
const wchar_t kHostWindowClass[] = L"MendoraTestHostWindow";

void send(std::vector<INPUT>& inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

} // namespace

HWND createHostWindow(int x, int y, int width, int height) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kHostWindowClass;
        registered = RegisterClassW(&windowClass) != 0;
    }
    HWND window =
        CreateWindowExW(0, kHostWindowClass, L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, width,
                        height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window != nullptr)
        UpdateWindow(window);
    return window;
}

bool waitUntil(const std::function<bool()>& condition) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > kPatience)
            return false;
        Sleep(kPollInterval);
    }
    return true;
}

POINT centredCorner(HWND owner, int width, int height) {
    RECT client = {};
    GetClientRect(owner, &client);
    POINT corners[2] = {{client.left, client.top}, {client.right, client.bottom}};
    MapWindowPoints(owner, nullptr, corners, 2);
    CentringGeometry geometry;
    geometry.parentClient = {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
    geometry.captionButtonWidth = GetSystemMetrics(SM_CXSIZE);
    geometry.windowWidth = width;
    geometry.windowHeight = height;
    geometry.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    geometry.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const ScreenPoint corner = centredDialogPosition(geometry);
    return POINT{corner.x, corner.y};
}

HWND waitForOwnedDialog(HWND owner) {
    HWND dialog = nullptr;
    waitUntil([&] { return (dialog = standin::findOwnedDialog(owner)) != nullptr; });
    return dialog;
}

void typeText(const std::wstring& text) {
    std::vector<INPUT> inputs;
    for (wchar_t c : text) {
        INPUT down = {};
        down.type = INPUT_KEYBOARD;
        down.ki.wScan = c;
        down.ki.dwFlags = KEYEVENTF_UNICODE;
        INPUT up = down;
        up.ki.dwFlags |= KEYEVENTF_KEYUP;
        inputs.push_back(down);
        inputs.push_back(up);
    }
    send(inputs);
}

void pressKey(WORD virtualKey) {
    std::vector<INPUT> inputs(2);
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = virtualKey;
    inputs[1] = inputs[0];
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    send(inputs);
}

void clickAt(POINT screen) {
    // Absolute coordinates are 0 to 65535 across the primary screen. Every event restates the
    // position, and the button goes down only once the pointer is seen at the point: a press
    // sent at once may otherwise land where the pointer was before the move.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    std::vector<INPUT> inputs(3);
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = MulDiv(screen.x, 65535, width - 1);
        input.mi.dy = MulDiv(screen.y, 65535, height - 1);
        input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    }
    inputs[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    std::vector<INPUT> move(inputs.begin(), inputs.begin() + 1);
    send(move);
    waitUntil([&] {
        POINT now = {};
        GetCursorPos(&now);
        return now.x == screen.x && now.y == screen.y;
    });
    std::vector<INPUT> press(inputs.begin() + 1, inputs.end());
    send(press);
}

POINT centreOf(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

std::wstring textOf(HWND window) {
    wchar_t text[512] = {};
    SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return text;
}

HWND focusOfThreadOf(HWND dialog) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

bool driveDialog(HWND owner, const std::function<void()>& show,
                 const std::function<void()>& drive) {
    bool closedByDrive = true;
    std::thread driver([&] {
        drive();
        HWND left = nullptr;
        // Give a close that `drive` started the moment it needs to take effect.
        waitUntil([&] { return (left = standin::findOwnedDialog(owner)) == nullptr; });
        if (left != nullptr) {
            closedByDrive = false;
            PostMessageW(left, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        }
    });
    show();
    driver.join();
    return closedByDrive;
}

} // namespace mendora::automation
