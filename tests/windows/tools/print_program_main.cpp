// A windowed stand-in for a PDF reader, waiting in its message loop until asked to close (or a minute).
//   OUTPUT [ARGUMENT...]  writes each argument between brackets, one a line, to OUTPUT
//   --exit CODE           ends at once with the exit code
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

// Never shown: TASKKILL needs a window to ask to close.
int RunMessageLoop() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VelmoraPrintProgram";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"VelmoraPrintProgram", L"Print program", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window)
        return 2;
    SetTimer(window, 1, 60000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--exit") == 0)
        return std::atoi(argv[2]);
    if (argc < 2)
        return 1;
    if (FILE* file = std::fopen(argv[1], "wb")) {
        for (int i = 2; i < argc; ++i)
            std::fprintf(file, "[%s]\n", argv[i]);
        std::fclose(file);
    }
    return RunMessageLoop();
}
