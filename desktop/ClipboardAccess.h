#pragma once
// The clipboard as the program uses it: opened and closed in nested pairs, text in the system
// code page, pictures as BitmapImage.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace zumelko {

class BitmapImage;
class SharedText;

class ClipboardAccess {
public:
    ClipboardAccess() = default;
    // Closes the clipboard if it is still open by this object.
    ~ClipboardAccess();
    ClipboardAccess(const ClipboardAccess&) = delete;
    ClipboardAccess& operator=(const ClipboardAccess&) = delete;

    // The clipboard is really opened by the first Open and closed by the matching last Close;
    // a Close without an Open does nothing.
    void Open();
    void Close();
    // Empties the clipboard (opening it for the while when it is not open).
    void Clear();
    // Needs no open clipboard.
    bool HasFormat(std::uint32_t format) const;

    // The text up to its first NUL; empty when there is none (or the clipboard cannot be had).
    std::string GetText();
    // Puts the bytes with one NUL after them. The first write of an open period empties the
    // clipboard; further writes in it add their format beside.
    void SetText(std::string_view text);
    // The same for a text that carries its NUL already: no copy is made on the way.
    void SetText(const SharedText& text);
    // The text exactly, in UTF-8, up to its first NUL; empty when there is none.
    std::string GetUnicodeText();
    // Puts a UTF-8 text that carries its NUL, as the clipboard's Unicode text and in the code
    // page beside it.
    void SetUnicodeText(const SharedText& utf8);
    // Throws zumelko::Error when the clipboard holds no picture.
    void GetBitmap(BitmapImage& picture);
    void PutBitmap(const BitmapImage& picture);

    // Whether what the clipboard holds is marked as a password's (by a password manager, or by
    // this program for a password it received). Read it inside the open period that reads the
    // data, so that both are of the same copy.
    bool IsSecret();
    // Marks what this open period has written as a password's, so that clipboard histories and
    // other forwarders leave it alone. Call it after the data.
    void MarkSecret();

    int OpenCount() const { return openCount_; }
    // Open periods of this object that ended with the clipboard changed (emptied or written and
    // accepted). Each is one change notice to the viewer chain.
    unsigned Commits() const { return commits_; }
    platform::Hwnd OwnerWindow() const { return ownerWindow_; }

    // Open/Close for the length of a scope, Close also on the way out of an exception.
    class Scope {
    public:
        explicit Scope(ClipboardAccess& access) : access_(access) { access_.Open(); }
        ~Scope() { access_.Close(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        ClipboardAccess& access_;
    };

private:
    void EmptyOnce();

    platform::Hwnd ownerWindow_ = 0;
    bool ownWindow_ = false;
    int openCount_ = 0;
    bool emptied_ = false;
    bool changed_ = false;
    unsigned commits_ = 0;
};

}  // namespace zumelko
