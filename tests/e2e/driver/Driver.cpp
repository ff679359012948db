#include "tests/e2e/driver/Driver.h"

#include <commctrl.h>

#include <cstdio>
#include <thread>

namespace memoline::e2e {

namespace {

// A window that does not answer within this time is treated as hung, not waited for.
constexpr UINT kSendTimeoutMs = 5000;

std::wstring LastErrorText(const std::wstring& what) {
    return what + L" failed, error " + std::to_wstring(GetLastError());
}

LRESULT SendWithTimeout(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG | SMTO_BLOCK, kSendTimeoutMs, &result))
        throw DriverError(LastErrorText(L"SendMessageTimeout(" + std::to_wstring(msg) + L")"));
    return static_cast<LRESULT>(result);
}

// Memory inside another process, freed with the object.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, size_t size) : process_(process), size_(size) {
        address_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!address_)
            throw DriverError(LastErrorText(L"VirtualAllocEx"));
    }
    ~RemoteBuffer() { VirtualFreeEx(process_, address_, 0, MEM_RELEASE); }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    void* Address(size_t offset = 0) const { return static_cast<char*>(address_) + offset; }
    void Write(size_t offset, const void* data, size_t size) const {
        SIZE_T done = 0;
        if (offset + size > size_ || !WriteProcessMemory(process_, Address(offset), data, size, &done) || done != size)
            throw DriverError(LastErrorText(L"WriteProcessMemory"));
    }
    void Read(size_t offset, void* data, size_t size) const {
        SIZE_T done = 0;
        if (offset + size > size_ || !ReadProcessMemory(process_, Address(offset), data, size, &done) || done != size)
            throw DriverError(LastErrorText(L"ReadProcessMemory"));
    }

private:
    HANDLE process_;
    size_t size_;
    void* address_ = nullptr;
};

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

DriverError::DriverError(const std::wstring& what) : std::runtime_error(Narrow(what)) {}

std::string Narrow(const std::wstring& text) {
    if (text.empty())
        return {};
    int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty())
        return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

bool WaitUntil(const std::function<bool()>& done, Duration timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
}

void WaitOrThrow(const std::function<bool()>& done, Duration timeout, const std::wstring& what) {
    if (!WaitUntil(done, timeout))
        throw DriverError(L"timed out after " + std::to_wstring(timeout.count()) + L" ms waiting for " + what);
}

std::wstring WindowText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &copied))
        return {};
    text.resize(copied);
    return text;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t name[256] = {};
    int n = GetClassNameW(hwnd, name, 256);
    return std::wstring(name, n > 0 ? n : 0);
}

bool IsEnabled(HWND hwnd) {
    return IsWindowEnabled(hwnd) != FALSE;
}

namespace {

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK KeepVisibleWindowOfProcess(HWND hwnd, LPARAM lp) {
    auto* s = reinterpret_cast<WindowSearch*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == s->pid && IsWindowVisible(hwnd))
        s->found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK KeepWindow(HWND hwnd, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
    return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD pid) {
    WindowSearch search{pid, {}};
    EnumWindows(KeepVisibleWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(parent, KeepWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND FindChild(HWND parent, const std::wstring& className, const std::wstring& text) {
    for (HWND child : Descendants(parent)) {
        if (!className.empty() && _wcsicmp(ClassName(child).c_str(), className.c_str()) != 0)
            continue;
        if (WindowText(child) == text)
            return child;
    }
    return nullptr;
}

HWND Button(HWND parent, const std::wstring& caption) {
    HWND button = FindChild(parent, L"Button", caption);
    if (!button)
        button = FindChild(parent, L"", caption);  // an owner-drawn button of another class
    if (!button)
        throw DriverError(L"no button \"" + caption + L"\" in window \"" + WindowText(parent) + L"\"");
    return button;
}

void Click(HWND button) {
    if (!PostMessageW(button, BM_CLICK, 0, 0))
        throw DriverError(LastErrorText(L"PostMessage(BM_CLICK)"));
}

void PostClose(HWND window) {
    if (!PostMessageW(window, WM_CLOSE, 0, 0))
        throw DriverError(LastErrorText(L"PostMessage(WM_CLOSE)"));
}

RemoteListView::RemoteListView(HWND list, DWORD pid) : list_(list) {
    process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    if (!process_)
        throw DriverError(LastErrorText(L"OpenProcess"));
}

int RemoteListView::Count() const {
    return static_cast<int>(SendWithTimeout(list_, LVM_GETITEMCOUNT, 0, 0));
}

int RemoteListView::ColumnCount() const {
    HWND header = reinterpret_cast<HWND>(SendWithTimeout(list_, LVM_GETHEADER, 0, 0));
    return header ? static_cast<int>(SendWithTimeout(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

std::wstring RemoteListView::Text(int row, int column) const {
    constexpr int kChars = 1024;
    RemoteBuffer remote(process_.get(), sizeof(LVITEMW) + kChars * sizeof(wchar_t));
    LVITEMW item{};
    item.iSubItem = column;
    item.cchTextMax = kChars;
    item.pszText = static_cast<LPWSTR>(remote.Address(sizeof(LVITEMW)));
    remote.Write(0, &item, sizeof(item));
    auto length = SendWithTimeout(list_, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote.Address()));
    std::wstring text(static_cast<size_t>(length), L'\0');
    if (length > 0)
        remote.Read(sizeof(LVITEMW), text.data(), static_cast<size_t>(length) * sizeof(wchar_t));
    return text;
}

std::vector<std::wstring> RemoteListView::Row(int row) const {
    std::vector<std::wstring> cells;
    for (int c = 0, n = ColumnCount(); c < n; ++c)
        cells.push_back(Text(row, c));
    return cells;
}

void RemoteListView::Select(int row) const {
    RemoteBuffer remote(process_.get(), sizeof(LVITEMW));
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    remote.Write(0, &item, sizeof(item));
    if (!SendWithTimeout(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote.Address())))
        throw DriverError(L"the grid refused to select row " + std::to_wstring(row));
}

int RemoteListView::SelectedRow() const {
    return static_cast<int>(SendWithTimeout(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

int RemoteListView::FindRow(int column, const std::wstring& text) const {
    for (int r = 0, n = Count(); r < n; ++r) {
        if (Text(r, column) == text)
            return r;
    }
    throw DriverError(L"no grid row reads \"" + text + L"\" in column " + std::to_wstring(column));
}

std::optional<MessageBoxInfo> FindMessageBox(DWORD pid) {
    for (HWND hwnd : TopLevelWindows(pid)) {
        if (ClassName(hwnd) != L"#32770")
            continue;
        MessageBoxInfo box;
        box.hwnd = hwnd;
        box.caption = WindowText(hwnd);
        // The message is the static control with text; the icon is a static without.
        for (HWND child : Descendants(hwnd)) {
            if (_wcsicmp(ClassName(child).c_str(), L"Static") != 0)
                continue;
            std::wstring text = WindowText(child);
            if (text.empty())
                continue;
            if (!box.text.empty())
                box.text += L"\n";
            box.text += text;
        }
        return box;
    }
    return std::nullopt;
}

MessageBoxInfo WaitForMessageBox(DWORD pid, Duration timeout) {
    std::optional<MessageBoxInfo> box;
    WaitOrThrow([&] { return (box = FindMessageBox(pid)).has_value(); }, timeout, L"a message box");
    // The box may be found before its text is set; read it again once it settled.
    std::this_thread::sleep_for(100ms);
    if (auto again = FindMessageBox(pid); again && again->hwnd == box->hwnd)
        box = again;
    return *box;
}

void AnswerMessageBox(const MessageBoxInfo& box, int buttonId, Duration timeout) {
    HWND button = GetDlgItem(box.hwnd, buttonId);
    if (!button)
        throw DriverError(L"message box \"" + box.text + L"\" has no button " + std::to_wstring(buttonId));
    Click(button);
    WaitOrThrow([&] { return !IsWindow(box.hwnd) || !IsWindowVisible(box.hwnd); }, timeout,
                L"the message box to close after the answer");
}

void SaveScreenshot(const std::wstring& path) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    if (!screen)
        throw DriverError(LastErrorText(L"GetDC"));
    HDC memory = CreateCompatibleDC(screen);
    unique_gdiobj bitmap(CreateCompatibleBitmap(screen, width, height));
    HGDIOBJ old = SelectObject(memory, bitmap.get());
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY | CAPTUREBLT);
    SelectObject(memory, old);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as BMP files store rows
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;  // rows are padded to 4 bytes
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
    int rows = GetDIBits(memory, static_cast<HBITMAP>(bitmap.get()), 0, height, pixels.data(),
                         reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (rows != height)
        throw DriverError(L"GetDIBits read " + std::to_wstring(rows) + L" rows of the screen");

    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
    unique_file file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw DriverError(LastErrorText(L"CreateFile " + path));
    DWORD written = 0;
    bool ok = WriteFile(file.get(), &header, sizeof(header), &written, nullptr) &&
              WriteFile(file.get(), &info, sizeof(info), &written, nullptr) &&
              WriteFile(file.get(), pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    if (!ok)
        throw DriverError(LastErrorText(L"WriteFile " + path));
}

UpdaterProcess::UpdaterProcess(const std::wstring& exePath) {
    std::wstring commandLine = L"\"" + exePath + L"\"";
    std::wstring dir = exePath.substr(0, exePath.find_last_of(L"\\/") + 1);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &startup, &info))
        throw DriverError(LastErrorText(L"CreateProcess " + exePath));
    CloseHandle(info.hThread);
    process_.reset(info.hProcess);
    pid_ = info.dwProcessId;
}

UpdaterProcess::~UpdaterProcess() {
    if (Running())
        Kill();
}

HWND UpdaterProcess::WaitForMainWindow(Duration timeout) {
    WaitOrThrow(
        [&] {
            if (!Running())
                throw DriverError(L"the updater ended before its main window appeared");
            for (HWND hwnd : TopLevelWindows(pid_)) {
                if (WindowText(hwnd) == kCaption && ClassName(hwnd) != L"#32770") {
                    main_ = hwnd;
                    return true;
                }
            }
            return false;
        },
        timeout, L"the main window \"Memoline Server Updates\"");
    return main_;
}

RemoteListView UpdaterProcess::Grid() const {
    for (HWND child : Descendants(main_)) {
        if (ClassName(child) == WC_LISTVIEWW)
            return RemoteListView(child, pid_);
    }
    throw DriverError(L"the main window has no list control (SysListView32)");
}

std::wstring UpdaterProcess::CurrentVersionText() const {
    for (HWND child : Descendants(main_)) {
        std::wstring text = WindowText(child);
        if (StartsWith(text, L"You currently have Version"))
            return text;
    }
    throw DriverError(L"no current-version label in the main window");
}

std::wstring UpdaterProcess::StatusText() const {
    constexpr int kStatusLineId = 118;  // the main form's status line
    for (HWND child : Descendants(main_)) {
        if (GetDlgCtrlID(child) == kStatusLineId)
            return WindowText(child);
    }
    throw DriverError(L"no status line in the main window");
}

void UpdaterProcess::WaitUntilAtRest(Duration timeout) const {
    auto atRest = [&] {
        DWORD_PTR answer = 0;
        return StatusText().empty() && !FindMessageBox(pid_) && !FindProgressDialog() && IsWindowEnabled(main_) &&
               SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer) != 0;
    };
    // Twice in a row: a sent message can be answered inside a call that is about to show a box (the
    // thread handles sent messages while it waits on another one); by the second answer that box is up.
    WaitOrThrow([&] { return atRest() && atRest(); }, timeout, L"the updater to come to rest");
}

HWND UpdaterProcess::FindProgressDialog() const {
    for (HWND hwnd : TopLevelWindows(pid_)) {
        if (hwnd == main_ || ClassName(hwnd) == L"#32770")
            continue;
        if (FindChild(hwnd, L"", L"Cancel"))
            return hwnd;
    }
    return nullptr;
}

HWND UpdaterProcess::WaitForProgressDialog(Duration timeout) const {
    HWND dialog = nullptr;
    WaitOrThrow([&] { return (dialog = FindProgressDialog()) != nullptr; }, timeout, L"the download progress dialog");
    return dialog;
}

bool UpdaterProcess::Running() const {
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> UpdaterProcess::WaitForExit(Duration timeout) {
    if (WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

void UpdaterProcess::Kill() {
    TerminateProcess(process_.get(), 99);
    WaitForSingleObject(process_.get(), 10000);
}

}  // namespace memoline::e2e
