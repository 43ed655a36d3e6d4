#pragma once
// The modal message box, behind a service that tests can replace so they answer boxes without a modal loop.
#include <QString>

// Button sets and icons, as the panel's callers name them.
enum : unsigned {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNO = 0x04,
    MB_ICONSTOP = 0x10,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
// What a box returns: the button that closed it.
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

class IMessageBoxService {
public:
    virtual ~IMessageBoxService() = default;
    // Shows a modal box and returns the button pressed (IDOK, IDCANCEL, ...).
    virtual int Show(const QString& text, const QString& caption, unsigned flags) = 0;
};

// The real one: a QMessageBox, modal to the application.
class QtMessageBoxService final : public IMessageBoxService {
public:
    int Show(const QString& text, const QString& caption, unsigned flags) override;
};
