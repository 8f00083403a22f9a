#include "console/CDlgProcessors.h"

#include <QFont>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <memory>

#include "console/CDlgAddProcessor.h"
#include "console/CLibraryEditor.h"
#include "console/CProcessorDef.h"
#include "console/CXelExecApp.h"
#include "console/ConsolePrompts.h"
#include "console/DialogUnits.h"

namespace {

// String 108.
QString deleteQuestion(const QString& name) {
    return QStringLiteral("ARE YOU SURE YOU WANT TO DELETE THE PROCESSOR \"%1\"?").arg(name);
}
// String 109.
const char* const kDefaultRefused = "You can not delete or modify the default processor.";

// The format whose name a definition's mode pin selects, 0 when none does.
int modeFormat(const CProcessorDef& def) {
    if (def.modePin < 1 || def.modePin > CProcessorDef::kPinCount) return 0;
    return def.pinFormat[def.modePin - 1u];
}

// Definition files, in the window system's filter form.
ConsolePrompts::FileRequest fileRequest(bool save) {
    ConsolePrompts::FileRequest r;
    r.filter = QString::fromLatin1(CLibraryEditor::kFileFilter) + QStringLiteral("|*.ini||");
    r.defaultExtension = save ? QStringLiteral("ini") : QString();
    r.hideReadOnly = true;
    r.overwritePrompt = save;
    return r;
}

}  // namespace

CDlgProcessors::CDlgProcessors(CXelExecApp& app, QWidget* parent)
    : QDialog(parent),
      app_(app),
      tree_(new QTreeWidget(this)),
      add_(new QPushButton(QStringLiteral("Add..."), this)),
      import_(new QPushButton(QStringLiteral("Import..."), this)),
      export_(new QPushButton(QStringLiteral("Export..."), this)),
      modify_(new QPushButton(QStringLiteral("Modify..."), this)),
      delete_(new QPushButton(QStringLiteral("Delete..."), this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
    setObjectName(QStringLiteral("processorLibrary"));
    setWindowTitle(QStringLiteral("Processor Library"));
    setModal(true);
    tree_->setObjectName(QStringLiteral("processorTree"));
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setRootIsDecorated(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    // The selection stays visible while a button has the focus.
    QPalette pal = tree_->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
    tree_->setPalette(pal);
    ok_->setDefault(true);
    for (QPushButton* b : {add_, import_, export_, modify_, delete_, cancel_}) b->setAutoDefault(false);
    layOut();
    connectSignals();
    refill();
}

void CDlgProcessors::layOut() {
    setFont(DialogUnits::dialogFont());
    const DialogUnits du(font());
    setFixedSize(du.size(244, 186));
    tree_->setGeometry(du.rect(7, 7, 170, 172));
    const int x = 187;
    add_->setGeometry(du.rect(x, 7, 50, 14));
    import_->setGeometry(du.rect(x, 26, 50, 14));
    export_->setGeometry(du.rect(x, 44, 50, 14));
    modify_->setGeometry(du.rect(x, 68, 50, 14));
    delete_->setGeometry(du.rect(x, 86, 50, 14));
    ok_->setGeometry(du.rect(x, 147, 50, 14));
    cancel_->setGeometry(du.rect(x, 165, 50, 14));
}

void CDlgProcessors::connectSignals() {
    connect(add_, &QPushButton::clicked, this, &CDlgProcessors::addProcessor);
    connect(import_, &QPushButton::clicked, this, &CDlgProcessors::importProcessor);
    connect(export_, &QPushButton::clicked, this, &CDlgProcessors::exportProcessor);
    connect(modify_, &QPushButton::clicked, this, &CDlgProcessors::modifyProcessor);
    connect(delete_, &QPushButton::clicked, this, &CDlgProcessors::deleteProcessor);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

CProcessorDef* CDlgProcessors::definitionOf(const QTreeWidgetItem* item) {
    if (!item) return nullptr;
    return reinterpret_cast<CProcessorDef*>(item->data(0, Qt::UserRole).value<quintptr>());
}

QTreeWidgetItem* CDlgProcessors::itemOf(const CProcessorDef& def) const {
    for (int i = 0; i < tree_->topLevelItemCount(); ++i)
        if (definitionOf(tree_->topLevelItem(i)) == &def) return tree_->topLevelItem(i);
    return nullptr;
}

void CDlgProcessors::refill(const CProcessorDef* select) {
    tree_->setUpdatesEnabled(false);
    tree_->clear();
    CProcessorLibrary& library = app_.library();
    for (int i = 0; i < library.size(); ++i) {
        CProcessorDef& def = library.at(i);
        const QVariant carried = QVariant::fromValue(reinterpret_cast<quintptr>(&def));
        auto* top = new QTreeWidgetItem(tree_, QStringList{def.name});
        top->setData(0, Qt::UserRole, carried);
        const int bold = modeFormat(def);
        for (int k = 1; k <= CProcessorDef::kFormatCount; ++k) {
            const QString& formatName = def.formatNames[static_cast<size_t>(k - 1)];
            if (formatName.isEmpty()) continue;
            auto* child = new QTreeWidgetItem(top, QStringList{formatName});
            child->setData(0, Qt::UserRole, carried);
            if (k == bold) {
                QFont f = child->font(0);
                f.setBold(true);
                child->setFont(0, f);
            }
        }
        top->setExpanded(true);
    }
    if (select) {
        if (QTreeWidgetItem* item = itemOf(*select)) tree_->setCurrentItem(item);
    }
    tree_->setUpdatesEnabled(true);
}

CProcessorDef* CDlgProcessors::selectedDefinition() const {
    const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    return selected.isEmpty() ? nullptr : definitionOf(selected.front());
}

bool CDlgProcessors::refuseDefault(const CProcessorDef& def) {
    if (!def.isDefaultProcessor()) return false;
    app_.prompts().message(this, QString::fromLatin1(kDefaultRefused), QMessageBox::Warning);
    return true;
}

void CDlgProcessors::showError(const QString& text) { app_.prompts().message(this, text, QMessageBox::Warning); }

// ---- Commands ------------------------------------------------------------------------

void CDlgProcessors::addProcessor() {
    CDlgAddProcessor dlg(app_, this);
    if (dlg.exec() == QDialog::Accepted) refill(dlg.definition());
}

void CDlgProcessors::modifyProcessor() {
    CProcessorDef* def = selectedDefinition();
    if (!def || refuseDefault(*def)) return;
    CDlgAddProcessor dlg(app_, this, def);
    if (dlg.exec() == QDialog::Accepted) refill(def);
}

void CDlgProcessors::deleteProcessor() {
    CProcessorDef* def = selectedDefinition();
    if (!def || refuseDefault(*def)) return;
    if (app_.library().size() <= 1) {
        showError(QString::fromLatin1(CLibraryEditor::kLastProcessor));
        return;
    }
    const auto answer = app_.prompts().message(this, deleteQuestion(def->name), QMessageBox::Question,
                                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
    QTreeWidgetItem* top = itemOf(*def);
    // The very definition the item carries, not the first with its GUID: a renamed
    // copy may share it.
    if (const QString error = CLibraryEditor(app_.library()).remove(*def); !error.isEmpty()) {
        showError(error);
        return;
    }
    delete top;
}

void CDlgProcessors::exportProcessor() {
    const CProcessorDef* def = selectedDefinition();
    if (!def) return;
    const QString path = app_.prompts().saveFileName(this, fileRequest(true));
    if (path.isEmpty()) return;
    if (const QString error = CLibraryEditor::exportTo(*def, path.toStdString()); !error.isEmpty()) showError(error);
}

void CDlgProcessors::importProcessor() {
    const QString path = app_.prompts().openFileName(this, fileRequest(false));
    if (path.isEmpty()) return;
    CLibraryEditor::Imported imported = CLibraryEditor::readFile(path.toStdString());
    if (!imported.def) {
        showError(imported.error);
        return;
    }
    const CProcessorDef& incoming = *imported.def;
    CLibraryEditor editor(app_.library());
    CProcessorLibrary& library = app_.library();

    const auto nameTaken = [&](const CProcessorDef* replaced) {
        if (!editor.holderOf(incoming.name, replaced)) return false;
        showError(QStringLiteral("The processor \"%1\" cannot be imported: %2")
                      .arg(incoming.name, CLibraryEditor::describe(CLibraryEditor::NameCheck::Taken, incoming.name)));
        return true;
    };

    const int same = library.indexOf(incoming.guid);
    if (same < 0) {
        if (nameTaken(nullptr)) return;
        auto def = std::make_unique<CProcessorDef>(incoming);
        const CProcessorDef* added = def.get();
        if (const QString error = editor.add(std::move(def)); !error.isEmpty()) {
            showError(error);
            return;
        }
        refill(added);
        return;
    }

    CProcessorDef& existing = library.at(same);
    if (refuseDefault(existing) || nameTaken(&existing)) return;
    const QString question =
        QStringLiteral(
            "The processor \"%1\" in the library has the same identifier as \"%2\" in the file.\n\n"
            "Replace \"%1\" with the processor from the file?")
            .arg(existing.name, incoming.name);
    const auto answer = app_.prompts().message(this, question, QMessageBox::Question,
                                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
    if (const QString error = editor.store(existing, incoming); !error.isEmpty()) showError(error);
    refill(&existing);
}
