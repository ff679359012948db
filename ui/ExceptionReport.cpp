#include "ui/ExceptionReport.h"

#include "ui/MessageBox.h"

namespace memoline::ui {
namespace {

constexpr const wchar_t* kUnknownError = L"An unexpected error occurred.";

bool g_showing = false;  // UI thread only

}  // namespace

std::wstring ExceptionText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        // Messages are ASCII, or wide texts narrowed one character to a byte: widened back the same way.
        const std::string narrow = e.what() ? e.what() : "";
        std::wstring text(narrow.begin(), narrow.end());
        for (auto& c : text)
            c = static_cast<wchar_t>(static_cast<unsigned char>(c));
        return text.empty() ? kUnknownError : text;
    } catch (...) {
        return kUnknownError;
    }
}

void ShowException(const std::exception_ptr& error) {
    if (!error || g_showing)
        return;
    g_showing = true;
    try {
        MessageDlg(ExceptionText(error), TMsgDlgType::Error);
    } catch (...) {
        // A box that cannot be shown leaves nothing else to try.
    }
    g_showing = false;
}

}  // namespace memoline::ui
