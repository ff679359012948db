// What a screen reader reads in the main window, asked through oleacc as one asks: the form's object
// and its children, then the object of each child window and its children.
#include <windows.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "download/DownloadLoginForm.h"
#include "tests/support/TestFiles.h"
#include "ui/Application.h"

namespace memoline {
namespace {

struct Read {
    std::wstring name, description;
    LONG role = 0;
};

std::wstring Take(BSTR text) {
    std::wstring s = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return s;
}

VARIANT Child(LONG id) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = id;
    return v;
}

Read ReadOne(IAccessible* object, LONG id) {
    Read r;
    BSTR text = nullptr;
    if (SUCCEEDED(object->get_accName(Child(id), &text)))
        r.name = Take(text);
    text = nullptr;
    if (SUCCEEDED(object->get_accDescription(Child(id), &text)))
        r.description = Take(text);
    VARIANT role;
    VariantInit(&role);
    if (SUCCEEDED(object->get_accRole(Child(id), &role)) && V_VT(&role) == VT_I4)
        r.role = V_I4(&role);
    VariantClear(&role);
    return r;
}

// The object itself and its simple children (those with child ids).
void ReadObject(IAccessible* object, std::vector<Read>& found) {
    found.push_back(ReadOne(object, CHILDID_SELF));
    LONG count = 0;
    ASSERT_TRUE(SUCCEEDED(object->get_accChildCount(&count)));
    if (count == 0)
        return;
    std::vector<VARIANT> children(count);
    LONG got = 0;
    ASSERT_TRUE(SUCCEEDED(AccessibleChildren(object, 0, count, children.data(), &got)));
    for (LONG i = 0; i < got; ++i) {
        if (V_VT(&children[i]) == VT_I4)
            found.push_back(ReadOne(object, V_I4(&children[i])));
        VariantClear(&children[i]);  // windows are read from their own objects, below
    }
}

IAccessible* ClientObject(HWND hwnd) {
    IAccessible* object = nullptr;
    const HRESULT hr =
        AccessibleObjectFromWindow(hwnd, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&object));
    EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
    return SUCCEEDED(hr) ? object : nullptr;
}

BOOL CALLBACK KeepWindow(HWND child, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(child);
    return TRUE;
}

std::vector<Read> ReadWindow(HWND form) {
    std::vector<HWND> windows{form};
    EnumChildWindows(form, KeepWindow, reinterpret_cast<LPARAM>(&windows));
    std::vector<Read> found;
    for (HWND w : windows) {
        IAccessible* object = ClientObject(w);
        EXPECT_TRUE(object) << "no object for a window";
        if (!object)
            continue;
        ReadObject(object, found);
        object->Release();
    }
    return found;
}

bool HasName(const std::vector<Read>& found, const std::wstring& name, LONG role = 0) {
    for (const Read& r : found) {
        if (r.name == name && (role == 0 || r.role == role))
            return true;
    }
    return false;
}

class Accessibility : public testing::Test {
protected:
    void SetUp() override {
        product.InstallServer(L"5.9.0");
        form = std::make_unique<TfrmMain>();
        form->Show();
        ui::Application().ProcessMessages();
    }
    test::ProductInstallation product;
    std::unique_ptr<TfrmMain> form;
};

// Every text of the window is there by its plain words: the sections' captions as groups, the welcome
// text, the installed version; no name carries markup.
TEST_F(Accessibility, EveryTextIsReadWithoutMarkup) {
    const std::vector<Read> found = ReadWindow(form->Handle());
    for (const wchar_t* caption : {L"Welcome", L"Current Version", L"Available Updates"})
        EXPECT_TRUE(HasName(found, caption, ROLE_SYSTEM_GROUPING)) << std::string(caption, caption + wcslen(caption));
    EXPECT_TRUE(HasName(found,
                        L"Server Updates helps you find and install the latest updates.\n"
                        L"You can check for updates from any computer, but only the Server/Host PC can download and "
                        L"install them.\n"
                        L"Tip: The latest Server Update includes all previous updates \u2014 just install the newest "
                        L"one.",
                        ROLE_SYSTEM_STATICTEXT));
    EXPECT_TRUE(HasName(found, L"You currently have Version 5.9.0 installed."));
    EXPECT_TRUE(HasName(found, L"Version 0.0.0"));
    for (const Read& r : found) {
        EXPECT_EQ(r.name.find(L'<'), std::wstring::npos) << std::string(r.name.begin(), r.name.end());
        EXPECT_EQ(r.description.find(L'<'), std::wstring::npos);
    }
}

// The grid is named by its section; while empty it says what its empty area shows; a row is described
// by its visible cells, without the hidden link.
TEST_F(Accessibility, TheGridIsNamedByItsSectionAndHidesTheLink) {
    IAccessible* grid = ClientObject(form->grdUpdates->Handle());
    ASSERT_TRUE(grid);
    Read self = ReadOne(grid, CHILDID_SELF);
    EXPECT_EQ(self.name, L"Available Updates");
    EXPECT_EQ(self.description, L"Click the Check button to check for updates.");
    form->grdUpdates->AddRow({L"Memoline Server 5.9.1", L"5.9.1", L"2026-01-15", L"https://h/setup/S591.exe"});
    self = ReadOne(grid, CHILDID_SELF);
    EXPECT_EQ(self.name, L"Available Updates");
    EXPECT_EQ(self.description.find(L"Click the Check button"), std::wstring::npos);
    EXPECT_EQ(ReadOne(grid, 1).description, L"Build: 5.9.1, Release Date: 2026-01-15");
    grid->Release();
}

// The login dialog's banner is read by the product's name it shows.
TEST_F(Accessibility, TheLoginBannerIsReadByItsName) {
    TDownloadLoginForm login(L"Connect");
    IAccessible* banner = ClientObject(GetDlgItem(login.Handle(), TDownloadLoginForm::kImageId));
    ASSERT_TRUE(banner);
    EXPECT_EQ(ReadOne(banner, CHILDID_SELF).name, L"Memoline 5 Server Updates");
    banner->Release();
}

// A screen reader asks from its own process: the answer crosses into it through COM.
TEST(AccessibilityProcess, AnotherProcessReadsThePlainVersionText) {
    test::ProductInstallation product;
    product.InstallServer(L"5.9.0");
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const std::wstring exe = test::BinDir() + L"MemolineServerUpdates.exe";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + exe + L"\"";
    ASSERT_TRUE(
        CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    HWND window = nullptr;
    for (int i = 0; i < 200 && !(window && IsWindowVisible(window)); ++i) {
        window = FindWindowW(TfrmMain::kWindowClass, TfrmMain::kCaption);
        Sleep(50);
    }
    HWND label = window ? GetDlgItem(window, kIdCurrentVersion) : nullptr;
    EXPECT_TRUE(label);
    if (label) {
        IAccessible* object = ClientObject(label);
        if (object) {
            EXPECT_EQ(ReadOne(object, CHILDID_SELF).name, L"You currently have Version 5.9.0 installed.");
            object->Release();
        }
    }
    if (window)
        PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CoUninitialize();
}

}  // namespace
}  // namespace memoline
