// The console's questions to the operator: message boxes and the open and save
// file dialogs. Windows ask through CXelExecApp::prompts(); tests put a
// subclass in place that answers without a person.
//
// File dialogs take the window system's filter form, "Name|patterns|...||"
// (e.g. "Xelor Config (*.xel)|*.xel|All Files (*.*)|*.*||"), and its flags.
//
// Thread safety: GUI thread only.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

class ConsolePrompts {
public:
    struct FileRequest {
        QString filter;            // "Name|patterns|...||"
        QString defaultExtension;  // added to a name given without one; "" for none
        bool hideReadOnly = false;
        bool overwritePrompt = false;  // a save dialog asks before replacing a file
    };

    virtual ~ConsolePrompts() = default;

    // A message box with the program's caption; the button the operator chose.
    virtual QMessageBox::StandardButton message(QWidget* parent, const QString& text, QMessageBox::Icon icon,
                                                QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    // The chosen file's path, or "" when the operator cancelled.
    virtual QString openFileName(QWidget* parent, const FileRequest& request);
    virtual QString saveFileName(QWidget* parent, const FileRequest& request);

    // "Name|patterns|..||" in Qt's form ("Name;;Name"): Qt takes the patterns from
    // the parentheses of each name, so a name without them gets its patterns added.
    static QString qtFilter(const QString& filter);
    static QString caption() { return QStringLiteral("XelExec"); }
};
