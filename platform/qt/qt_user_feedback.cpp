// Message boxes and the wait cursor (IUserFeedback) as Qt shows them.
#include "platform/qt/qt_window_backend.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/qt/qt_conversion.h"

int QtWindowBackend::MessageBox(HWND owner, const CString& text, const CString& caption, UINT type)
{
    QWidget* parent = Widget(owner);
    if (parent == nullptr)
        parent = QApplication::activeModalWidget();
    QMessageBox box(parent);
    box.setWindowTitle(ToQString(caption));
    box.setText(ToQString(text));
    box.setTextFormat(Qt::PlainText);
    switch (type & 0xF0) {
    case MB_ICONHAND:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case 0x20: // MB_ICONQUESTION
        box.setIcon(QMessageBox::Question);
        break;
    case 0x40: // MB_ICONASTERISK
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

void QtWindowBackend::BeginWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtWindowBackend::EndWaitCursor()
{
    QApplication::restoreOverrideCursor();
}
