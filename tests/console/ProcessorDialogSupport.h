// Shared pieces of the processor library and settings dialog tests: a library
// file written from definitions, and prompts answered from a script.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <array>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "console/ConsolePrompts.h"

namespace contest {

// A definition as the library file holds it.
struct DefText {
    std::string name;
    std::string guid;
    std::array<std::string, 8> formats{};
    std::array<int, 16> pins{};
    int modePin = 1;
};

// The default processor as the installed library holds it.
inline const DefText kDefault{"Default",
                              "5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a27",
                              {"Analog 2ch", "Analog 6ch", "Digital 8ch", "Toslink", "S/PDIF 1", "S/PDIF 2", "", ""},
                              {1, 2, 3, 4, 5, 6},
                              1};

// The section a save writes: the keys in library order, CRLF.
inline std::string sectionBytes(const DefText& d) {
    std::string s = "[" + d.name + "]\r\nGUID=" + d.guid + "\r\n";
    for (int f = 0; f < 8; ++f) s += "Format" + std::to_string(f + 1) + "=" + d.formats[f] + "\r\n";
    for (int p = 0; p < 16; ++p) s += "FormatPin" + std::to_string(p + 1) + "=" + std::to_string(d.pins[p]) + "\r\n";
    return s + "ModePin=" + std::to_string(d.modePin) + "\r\n";
}

// Message boxes and file dialogs answered without a person: each message is
// recorded and answered from `answers` (else with its default button, else OK);
// each file dialog takes the next of `files` ("" = cancelled).
class ScriptedPrompts : public ConsolePrompts {
public:
    struct Shown {
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };
    std::vector<Shown> shown;
    std::deque<QMessageBox::StandardButton> answers;
    std::deque<QString> files;
    std::vector<FileRequest> requests;

    QMessageBox::StandardButton message(QWidget*, const QString& text, QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override {
        shown.push_back({text, icon, buttons, defaultButton});
        if (answers.empty()) return defaultButton != QMessageBox::NoButton ? defaultButton : QMessageBox::Ok;
        const auto a = answers.front();
        answers.pop_front();
        return a;
    }
    QString openFileName(QWidget*, const FileRequest& request) override { return nextFile(request); }
    QString saveFileName(QWidget*, const FileRequest& request) override { return nextFile(request); }

private:
    QString nextFile(const FileRequest& request) {
        requests.push_back(request);
        if (files.empty()) return QString();
        const QString f = files.front();
        files.pop_front();
        return f;
    }
};

// Runs `act` on the modal dialog of type D that the caller is about to open with
// exec(), from inside its event loop (a zero timer: no waiting on the clock). A
// dialog still open afterwards, or one of another type, is rejected so the test
// cannot hang; `seen` says whether `act` ran.
template <class D>
void whenModal(bool& seen, std::function<void(D&)> act) {
    seen = false;
    QTimer::singleShot(0, qApp, [&seen, act] {
        QWidget* w = QApplication::activeModalWidget();
        if (auto* d = qobject_cast<D*>(w)) {
            seen = true;
            act(*d);
            if (d->isVisible()) d->reject();
        } else if (auto* other = qobject_cast<QDialog*>(w)) {
            other->reject();
        }
    });
}

}  // namespace contest
